// The arithmetic of the benchmark figures, on a station's JSON line and a simulated
// unit's report (the JSON its report writer makes).
#pragma once

#include <QJsonObject>
#include <QString>

#include <vector>

// One frame of the unit's record.
struct TReportFrame {
    double TimeMs = 0; // a request: when it had crossed the line; a reply: when it began
    bool In = true;    // sent by the updater
    double Rate = 0;
    int Bytes = 0;    // as on the wire
    int Command = -1; // a bootloader frame's command byte
    bool Ok = false;  // a request the unit took, or a reply it sent
};

std::vector<TReportFrame> ReportFrames(const QJsonObject& Report);

// Time the frame's bytes need on the wire: 10 bits a byte at its rate.
double FrameWireMs(const TReportFrame& Frame);

struct TWireFigure {
    bool Valid = false;
    double StagesMs = 0; // wall time of the erase and write stages
    double WireMs = 0;   // of their requests and replies
    int Exchanges = 0;
    // After each of their replies: from the moment its last byte was due off the line to
    // the moment the next request began to arrive.
    std::vector<double> Gaps;
    double Ratio() const { return WireMs > 0 ? StagesMs / WireMs : 0; }
};

// Valid only for a complete run with both stages and at least one erase or write.
TWireFigure WireFigure(const QJsonObject& Station, const QJsonObject& Report);

// From each reply the unit sent to the request it took next. Without pacing a reply
// leaves the moment its request is taken, so this is the updater's turnaround plus the
// line's two hops.
std::vector<double> TurnaroundGaps(const QJsonObject& Report);

// Nearest rank; Values must not be empty.
double Percentile(std::vector<double> Values, double Fraction);

// Wall time of a station's stage, or -1 when it has none of that name.
double StageMs(const QJsonObject& Station, const QString& Stage);
