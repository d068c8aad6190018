// The station's view of a run: stages from the log list's changes, and the serial
// component's low-latency verdicts while the port is opened.
#include "bench/StationProbe.h"

#include <QJsonObject>
#include <QLoggingCategory>

#include <QTest>

#include <gtest/gtest.h>

#include <thread>

namespace {

Q_LOGGING_CATEGORY(lcRunLog, "bootload.log", QtWarningMsg)
Q_LOGGING_CATEGORY(lcRunSerial, "bootload.serial", QtWarningMsg)

TEST(StationProbe, StagesRunFromOneAppendedLineToTheNext) {
    TStationProbe probe;
    qCInfo(lcRunLog).noquote() << "append: a line of an earlier run";
    const double startMs = probe.ElapsedMs();
    qCInfo(lcRunLog) << "clear";
    qCInfo(lcRunLog).noquote() << "append: Initialising Upgrade.....";
    qCInfo(lcRunLog).noquote() << "replace: Initialising Upgrade.....Done (1)";
    qCInfo(lcRunLog).noquote() << "append: Erasing Program Memory......";
    qCInfo(lcRunLog).noquote() << "replace: Erasing Program Memory......100%";
    const double endMs = probe.ElapsedMs();

    const QList<TStageTime> stages = probe.Stages(startMs, endMs);
    ASSERT_EQ(stages.size(), 2);
    EXPECT_EQ(stages[0].Name, QStringLiteral("Initialising Upgrade"));
    EXPECT_EQ(stages[1].Name, QStringLiteral("Erasing Program Memory"));
    EXPECT_GE(stages[0].StartMs, startMs);
    EXPECT_EQ(stages[0].EndMs, stages[1].StartMs);
    EXPECT_LE(stages[0].StartMs, stages[0].EndMs);
    EXPECT_EQ(stages[1].EndMs, endMs);

    const QJsonArray json = probe.StagesJson(startMs, endMs);
    ASSERT_EQ(json.size(), 2);
    EXPECT_NEAR(json[1].toObject().value("StartMs").toDouble(), stages[1].StartMs - startMs, 1e-9);
}

TEST(StationProbe, KeepsTheLowLatencyVerdictsOfTheTracedOpenOnly) {
    TStationProbe probe;
    probe.TraceSerial(true);
    qCDebug(lcRunSerial).noquote() << "opened COM1 /dev/ttyUSB0 at 115200 baud";
    qCDebug(lcRunSerial).noquote() << "low latency granted on /dev/ttyUSB0";
    probe.TraceSerial(false);
    qCDebug(lcRunSerial).noquote() << "low latency refused on /dev/ttyUSB0";
    EXPECT_EQ(probe.LowLatencyLines(), QStringList{"low latency granted on /dev/ttyUSB0"});
}

TEST(StationProbe, ProgramTurnaroundRunsFromTheLastChunkReadToTheNextWrite) {
    TStationProbe probe;
    probe.MarkSerialTraffic(true);
    const double startMs = probe.ElapsedMs();
    qCDebug(lcRunSerial).noquote() << "tx 10 02 00 02 FE 10 03"; // nothing read before it
    // The receive thread traces each chunk it reads from its own thread.
    std::thread receiver([] {
        qCDebug(lcRunSerial).noquote() << "rx 10 02 00 02";
        qCDebug(lcRunSerial).noquote() << "rx 15 8C 5D 10 03";
    });
    receiver.join();
    qCDebug(lcRunSerial).noquote() << "tx 10 02 08 04 F4 10 03";
    const double endMs = probe.ElapsedMs();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return probe.ProgramTurnarounds(startMs, endMs).size() == 1; }, 5000));
    const std::vector<double> turnarounds = probe.ProgramTurnarounds(startMs, endMs);
    EXPECT_GE(turnarounds[0], 0.0);
    EXPECT_LE(turnarounds[0], endMs - startMs);

    probe.MarkSerialTraffic(false);
    qCDebug(lcRunSerial).noquote() << "rx 10 02 00 02";
    qCDebug(lcRunSerial).noquote() << "tx 10 02 00 00 00 10 03";
    EXPECT_EQ(probe.ProgramTurnarounds(startMs, probe.ElapsedMs()).size(), 1u);
}

} // namespace
