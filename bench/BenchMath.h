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

// On the unit's record of a paced run: from the moment the first erase request began to
// arrive to the moment the last erase or write reply had crossed the line; -1 without one.
double EraseWriteSpanMs(const QJsonObject& Report);

// Nearest rank; Values must not be empty.
double Percentile(std::vector<double> Values, double Fraction);

// Wall time of a station's stage, or -1 when it has none of that name.
double StageMs(const QJsonObject& Station, const QString& Stage);

// A release that fills part of program memory against the whole image, from bootload-cli's
// reports of an update with each (figure 7).
struct TPartialFigure {
    bool Valid = false;
    double FullMs = 0; // the whole update
    double PartMs = 0;
    double FullWriteMs = 0; // its write stage
    double PartWriteMs = 0;
    int FullBlocks = 0; // blocks sent
    int PartBlocks = 0;
    double TimeRatio() const { return FullMs > 0 ? PartMs / FullMs : 0; }
    double WriteRatio() const { return FullWriteMs > 0 ? PartWriteMs / FullWriteMs : 0; }
    double BlockShare() const {
        return FullBlocks > 0 ? static_cast<double>(PartBlocks) / FullBlocks : 0;
    }
};

// Valid when both reports have their run's time, a write stage and the blocks they sent.
TPartialFigure PartialFigure(const QJsonObject& Full, const QJsonObject& Part);

// Wall time of the erase and write stages of a bootload-cli report; -1 when it lacks one.
double ReportEraseWriteMs(const QJsonObject& Report);
