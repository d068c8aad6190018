// What a command that ran several units tells at its end: the summary table of an update
// (port, outcome, seconds, firmware version before and after) or of a survey (port,
// model, firmware version, state), each unit's row in the report's summary, and the
// outcome of the whole. Taken from each unit's report as a single run writes it.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

// One unit at its end.
struct TUnitEnd {
    QString Port;
    QJsonObject Report; // Outcome and ExitStatus always there
    double Seconds = 0; // its program's time, start to end
};

struct TFleetOutcome {
    int Status = 0;     // 0, or 12 (some units failed)
    QString Text;       // "4 units: 2 complete, 1 current, 1 failed"
    QJsonObject Counts; // {"Units": 4, "Complete": 2, "Current": 1, "Failed": 1}
};

// Identify: a survey; else an update.
TFleetOutcome FleetOutcome(const QList<TUnitEnd>& Units, bool Identify);

// The table, its columns padded to their widest cell, a header first.
QString SummaryTable(const QList<TUnitEnd>& Units, bool Identify);

// The rows of the report's summary, one object a unit.
QJsonObject SummaryRow(const TUnitEnd& Unit, bool Identify);
