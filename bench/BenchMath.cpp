#include "bench/BenchMath.h"

#include <QJsonArray>
#include <QStringList>

#include <algorithm>
#include <cmath>

std::vector<TReportFrame> ReportFrames(const QJsonObject& Report) {
    std::vector<TReportFrame> frames;
    for (const auto& value : Report.value(QStringLiteral("Frames")).toArray()) {
        const QJsonObject entry = value.toObject();
        TReportFrame frame;
        frame.TimeMs = entry.value(QStringLiteral("TimeMs")).toDouble();
        frame.In = entry.value(QStringLiteral("Direction")).toString() == QLatin1String("in");
        frame.Rate = entry.value(QStringLiteral("Rate")).toDouble();
        const QStringList hex = entry.value(QStringLiteral("Hex"))
                                    .toString()
                                    .split(QLatin1Char(' '), Qt::SkipEmptyParts);
        frame.Bytes = static_cast<int>(hex.size());
        const QString verdict = entry.value(QStringLiteral("Verdict")).toString();
        frame.Ok = frame.In ? verdict.startsWith(QLatin1String("ok"))
                            : verdict.startsWith(QLatin1String("reply"));
        // DLE STX, then the command (no command is 0x10, so it is never doubled).
        if (entry.value(QStringLiteral("Mode")).toString() == QLatin1String("boot") &&
            hex.size() > 2 && hex[0] == QLatin1String("10") && hex[1] == QLatin1String("02")) {
            frame.Command = hex[2].toInt(nullptr, 16);
        }
        frames.push_back(frame);
    }
    return frames;
}

double FrameWireMs(const TReportFrame& Frame) {
    return Frame.Rate > 0 ? Frame.Bytes * 10000.0 / Frame.Rate : 0.0;
}

namespace {

// An erase or write request the unit took.
bool IsEraseOrWrite(const TReportFrame& Request) {
    return Request.In && Request.Ok && (Request.Command == 0x03 || Request.Command == 0x02);
}

} // namespace

double StageMs(const QJsonObject& Station, const QString& Stage) {
    for (const auto& value : Station.value(QStringLiteral("Stages")).toArray()) {
        if (value.toObject().value(QStringLiteral("Stage")).toString() == Stage) {
            return value.toObject().value(QStringLiteral("Ms")).toDouble();
        }
    }
    return -1;
}

TWireFigure WireFigure(const QJsonObject& Station, const QJsonObject& Report) {
    TWireFigure figure;
    const double eraseMs = StageMs(Station, QStringLiteral("Erasing Program Memory"));
    const double writeMs = StageMs(Station, QStringLiteral("Sending New Program Data"));
    const std::vector<TReportFrame> frames = ReportFrames(Report);
    for (size_t i = 0; i < frames.size(); ++i) {
        const TReportFrame& request = frames[i];
        if (!IsEraseOrWrite(request)) {
            continue;
        }
        figure.WireMs += FrameWireMs(request);
        ++figure.Exchanges;
        if (i + 1 >= frames.size() || frames[i + 1].In) {
            continue;
        }
        const TReportFrame& reply = frames[i + 1];
        figure.WireMs += FrameWireMs(reply);
        if (i + 2 < frames.size() && frames[i + 2].In) {
            const TReportFrame& next = frames[i + 2];
            figure.Gaps.push_back(next.TimeMs - FrameWireMs(next) -
                                  (reply.TimeMs + FrameWireMs(reply)));
        }
    }
    figure.StagesMs = eraseMs + writeMs;
    figure.Valid = Station.value(QStringLiteral("Complete")).toBool() && eraseMs >= 0 &&
                   writeMs >= 0 && figure.WireMs > 0;
    return figure;
}

std::vector<double> TurnaroundGaps(const QJsonObject& Report) {
    std::vector<double> gaps;
    const std::vector<TReportFrame> frames = ReportFrames(Report);
    for (size_t i = 0; i + 1 < frames.size(); ++i) {
        if (!frames[i].In && frames[i].Ok && frames[i + 1].In && frames[i + 1].Ok) {
            gaps.push_back(frames[i + 1].TimeMs - frames[i].TimeMs);
        }
    }
    return gaps;
}

double EraseWriteSpanMs(const QJsonObject& Report) {
    double first = -1;
    double last = -1;
    const std::vector<TReportFrame> frames = ReportFrames(Report);
    for (size_t i = 0; i < frames.size(); ++i) {
        const TReportFrame& request = frames[i];
        if (!IsEraseOrWrite(request)) {
            continue;
        }
        if (first < 0) {
            first = request.TimeMs - FrameWireMs(request);
        }
        if (i + 1 < frames.size() && !frames[i + 1].In && frames[i + 1].Ok) {
            last = frames[i + 1].TimeMs + FrameWireMs(frames[i + 1]);
        }
    }
    return first < 0 || last < first ? -1 : last - first;
}

double Percentile(std::vector<double> Values, double Fraction) {
    std::sort(Values.begin(), Values.end());
    const auto rank = static_cast<size_t>(std::ceil(Fraction * static_cast<double>(Values.size())));
    return Values[std::clamp<size_t>(rank, 1, Values.size()) - 1];
}

namespace {

// Wall time of a bootload-cli report's stage whose line begins with Prefix; -1 when none.
double ReportStageMs(const QJsonObject& Report, const QString& Prefix) {
    for (const auto& value : Report.value(QStringLiteral("Stages")).toArray()) {
        const QJsonObject stage = value.toObject();
        if (stage.value(QStringLiteral("Stage")).toString().startsWith(Prefix)) {
            return stage.value(QStringLiteral("EndMs")).toDouble() -
                   stage.value(QStringLiteral("StartMs")).toDouble();
        }
    }
    return -1;
}

} // namespace

TPartialFigure PartialFigure(const QJsonObject& Full, const QJsonObject& Part) {
    TPartialFigure figure;
    const QString sending = QStringLiteral("Sending New Program Data");
    figure.FullMs = Full.value(QStringLiteral("TotalSeconds")).toDouble(-1) * 1000;
    figure.PartMs = Part.value(QStringLiteral("TotalSeconds")).toDouble(-1) * 1000;
    figure.FullWriteMs = ReportStageMs(Full, sending);
    figure.PartWriteMs = ReportStageMs(Part, sending);
    figure.FullBlocks = Full.value(QStringLiteral("Image")).toObject().value("Blocks").toInt(-1);
    figure.PartBlocks = Part.value(QStringLiteral("Image")).toObject().value("Blocks").toInt(-1);
    figure.Valid = figure.FullMs > 0 && figure.PartMs > 0 && figure.FullWriteMs > 0 &&
                   figure.PartWriteMs >= 0 && figure.FullBlocks > 0 && figure.PartBlocks >= 0;
    return figure;
}

double ReportEraseWriteMs(const QJsonObject& Report) {
    const double eraseMs = ReportStageMs(Report, QStringLiteral("Erasing Program Memory"));
    const double writeMs = ReportStageMs(Report, QStringLiteral("Sending New Program Data"));
    return eraseMs < 0 || writeMs < 0 ? -1 : eraseMs + writeMs;
}
