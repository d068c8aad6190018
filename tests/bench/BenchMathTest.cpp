// The figures' arithmetic on reports made by the simulated unit's own report writer.
#include "bench/BenchMath.h"
#include "tools/unitsim/SimReport.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr double ByteMs = 10000.0 / 115200; // one byte at 115,200 baud

QJsonObject ToJson(const std::vector<TSimFrame>& Frames) {
    TUnitSimReport report;
    report.Flash.assign(0x10000, 0xFF);
    report.Frames = Frames;
    return QJsonDocument::fromJson(QByteArray::fromStdString(ReportToJson(report, {}))).object();
}

std::vector<uint8_t> BootFrame(uint8_t Command, size_t Length) {
    std::vector<uint8_t> bytes(Length, 0x55);
    bytes[0] = 0x10;
    bytes[1] = 0x02;
    bytes[2] = Command;
    bytes[Length - 2] = 0x10;
    bytes[Length - 1] = 0x03;
    return bytes;
}

TSimFrame Request(double TimeMs, std::vector<uint8_t> Bytes, const char* Verdict = "ok: done") {
    return {TimeMs, true, 115200, TUnitMode::Boot, std::move(Bytes), Verdict};
}

TSimFrame Reply(double TimeMs, size_t Length, const char* Verdict = "reply") {
    return {TimeMs, false, 115200, TUnitMode::Boot, BootFrame(0x00, Length), Verdict};
}

QJsonObject Station(bool Complete, double EraseMs, double WriteMs) {
    QJsonArray stages;
    stages.append(QJsonObject{{"Stage", "Retrieving Model Number"}, {"Ms", 500.0}});
    stages.append(QJsonObject{{"Stage", "Erasing Program Memory"}, {"Ms", EraseMs}});
    stages.append(QJsonObject{{"Stage", "Sending New Program Data"}, {"Ms", WriteMs}});
    return QJsonObject{{"Complete", Complete}, {"Stages", stages}};
}

// An identity read, one erase, one write and a restart, paced: each request is logged
// once it has crossed the line, each reply when it begins.
std::vector<TSimFrame> PacedRun() {
    std::vector<TSimFrame> frames;
    frames.push_back(Request(1.0, BootFrame(0x08, 7)));
    frames.push_back(Reply(1.0, 13));
    const double eraseAt = 1.0 + 13 * ByteMs + 0.4 + 10 * ByteMs;
    frames.push_back(Request(eraseAt, BootFrame(0x03, 10)));
    frames.push_back(Reply(eraseAt, 15));
    const double writeAt = eraseAt + 15 * ByteMs + 0.25 + 140 * ByteMs;
    frames.push_back(Request(writeAt, BootFrame(0x02, 140)));
    frames.push_back(Reply(writeAt, 9));
    const double restartAt = writeAt + 9 * ByteMs + 0.5 + 7 * ByteMs;
    frames.push_back(Request(restartAt, BootFrame(0x00, 7)));
    frames.push_back(Reply(restartAt, 7));
    return frames;
}

TEST(WireFigure, CountsTheEraseAndWriteExchangesBothWaysAndTheGapAfterEachReply) {
    const TWireFigure figure = WireFigure(Station(true, 3.0, 17.0), ToJson(PacedRun()));
    ASSERT_TRUE(figure.Valid);
    EXPECT_EQ(figure.Exchanges, 2);
    EXPECT_NEAR(figure.WireMs, (10 + 15 + 140 + 9) * ByteMs, 1e-9);
    EXPECT_NEAR(figure.StagesMs, 20.0, 1e-9);
    EXPECT_NEAR(figure.Ratio(), 20.0 / ((10 + 15 + 140 + 9) * ByteMs), 1e-9);
    ASSERT_EQ(figure.Gaps.size(), 2u);
    EXPECT_NEAR(figure.Gaps[0], 0.25, 1e-6);
    EXPECT_NEAR(figure.Gaps[1], 0.5, 1e-6);
}

TEST(WireFigure, LeavesOutRequestsTheUnitRefusedAndRunsThatDidNotFinish) {
    std::vector<TSimFrame> frames = PacedRun();
    frames.insert(frames.begin() + 2, Request(2.0, BootFrame(0x03, 10), "bad checksum: ignored"));
    const TWireFigure figure = WireFigure(Station(true, 3.0, 17.0), ToJson(frames));
    EXPECT_TRUE(figure.Valid);
    EXPECT_EQ(figure.Exchanges, 2);

    EXPECT_FALSE(WireFigure(Station(false, 3.0, 17.0), ToJson(PacedRun())).Valid);
    EXPECT_FALSE(WireFigure(QJsonObject{{"Complete", true}}, ToJson(PacedRun())).Valid);
    EXPECT_FALSE(WireFigure(Station(true, 3.0, 17.0), ToJson({})).Valid);
}

TEST(EraseWriteSpan, RunsFromTheFirstEraseArrivingToTheLastWriteReplyLeaving) {
    const std::vector<TSimFrame> frames = PacedRun();
    const double eraseBegan = frames[2].TimeMs - 10 * ByteMs;
    const double writeReplied = frames[5].TimeMs + 9 * ByteMs;
    EXPECT_NEAR(EraseWriteSpanMs(ToJson(frames)), writeReplied - eraseBegan, 1e-6);
    EXPECT_EQ(EraseWriteSpanMs(ToJson({frames[0], frames[1]})), -1);
}

TEST(TurnaroundGaps, RunFromEachReplyToTheRequestTakenNext) {
    std::vector<TSimFrame> frames;
    frames.push_back(Request(10.0, BootFrame(0x08, 7)));
    frames.push_back(Reply(10.0, 13));
    frames.push_back(Request(10.08, BootFrame(0x00, 7)));
    frames.push_back(Reply(10.08, 9));
    // Bytes the unit could not make a request of break the chain; so does a reply that
    // was lost with the line.
    frames.push_back(Request(11.0, {0x55, 0x66}, "no request: garbage"));
    frames.push_back(Request(12.0, BootFrame(0x03, 10)));
    frames.push_back(Reply(12.0, 15, "lost: no line to send on"));
    frames.push_back(Request(13.0, BootFrame(0x03, 10)));
    frames.push_back(Reply(13.0, 15));
    frames.push_back(Request(13.3, BootFrame(0x03, 10)));
    const std::vector<double> gaps = TurnaroundGaps(ToJson(frames));
    ASSERT_EQ(gaps.size(), 2u);
    EXPECT_NEAR(gaps[0], 0.08, 1e-6);
    EXPECT_NEAR(gaps[1], 0.3, 1e-6);
}

TEST(Percentile, TakesTheNearestRankOfUnsortedValues) {
    std::vector<double> values;
    for (int v = 100; v >= 1; --v) {
        values.push_back(v);
    }
    EXPECT_EQ(Percentile(values, 0.5), 50);
    EXPECT_EQ(Percentile(values, 0.99), 99);
    EXPECT_EQ(Percentile(values, 1.0), 100);
    EXPECT_EQ(Percentile(values, 0.0), 1);
    EXPECT_EQ(Percentile({7.0}, 0.99), 7.0);
}

// bootload-cli's report of an update: its time, its write stage among the others and the
// blocks it sent.
QJsonObject CliReport(double Seconds, double WriteStartMs, double WriteEndMs, int Blocks) {
    return QJsonObject{
        {"TotalSeconds", Seconds},
        {"Image", QJsonObject{{"Blocks", Blocks}}},
        {"Stages", QJsonArray{QJsonObject{{"Stage", "Erasing Program Memory......"},
                                          {"StartMs", 100.0},
                                          {"EndMs", WriteStartMs}},
                              QJsonObject{{"Stage", "Sending New Program Data......"},
                                          {"StartMs", WriteStartMs},
                                          {"EndMs", WriteEndMs}}}}};
}

TEST(PartialFigure, ComparesTheWholeRunAndTheWriteStageWithTheShareOfBlocks) {
    const TPartialFigure figure =
        PartialFigure(CliReport(6.0, 1000, 5000, 368), CliReport(3.0, 1000, 2000, 92));
    ASSERT_TRUE(figure.Valid);
    EXPECT_DOUBLE_EQ(figure.TimeRatio(), 0.5);
    EXPECT_DOUBLE_EQ(figure.WriteRatio(), 0.25);
    EXPECT_DOUBLE_EQ(figure.BlockShare(), 0.25);
    EXPECT_FALSE(PartialFigure(CliReport(6.0, 1000, 5000, 368), QJsonObject{}).Valid);
}

} // namespace
