// Where an exchange's turnaround goes: a station's exchange trace (--trace-exchange) laid
// against the simulated unit's record of the same run, one duration per step from the
// unit's writing the last of a bootloader reply to its reading the next request.
#pragma once

#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <vector>

struct TStepSpan {
    const char* Name;
    std::vector<double> Us; // one per exchange traced
};

struct TExchangeSteps {
    std::vector<TStepSpan> Steps; // in the order an exchange passes them
    std::vector<double> TotalUs;  // the unit's reply to the next request
    int SplitReplies = 0;         // replies read in more than one chunk (the last one counts)
    // No wake-up mark between the chunk's post and its delivery: the GUI thread was busy,
    // or its event loop reports a wake-up only after dispatching (GLib's does); the wake-up
    // is then counted in the event dispatch.
    int AlreadyAwake = 0;
};

// Trace lines are "STEP NANOSECONDS"; Report is the unit's JSON report. Paced: the unit
// paced its replies, so a reply's last byte went out its time on the wire after it began.
TExchangeSteps ExchangeSteps(const QString& TraceText, const QJsonObject& Report, bool Paced);
