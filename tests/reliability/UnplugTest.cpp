// The adapter pulled in the middle of a run: the pty's master closed and the link removed,
// later a new pty at the same link path. The run must end with the step's own error line
// within one exchange time-out, without spinning on the dead port, and Start must work
// again once the device is back.
#include "ReliabilitySupport.h"

#include "tests/upgrade/SimSupport.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

constexpr int RunBoundMs = 60000;
// One bootloader exchange's time-out (30 ticks), with room for a loaded machine.
constexpr qint64 BootTimeOutBoundMs = 3100 * 12 / 10 + 1500;

TUnitSimConfig SlowEnoughToCatch() {
    TUnitSimConfig config;
    config.EraseMs = 4; // the erase takes about half a second
    config.WriteMs = 1;
    return config;
}

void ExpectRunAgainCompletes(TLinkedUnit& Link) {
    ASSERT_TRUE(Link.Harness().RunUpdate(RunBoundMs));
    QStringList lines = Link.Harness().LogLines();
    ASSERT_EQ(lines.size(), 9) << lines.join('\n').toStdString();
    // The unit was left in its bootloader: it does not answer the identity read.
    EXPECT_TRUE(lines[0].startsWith("Initialising Upgrade.....Done ("));
    EXPECT_EQ(lines.mid(1), CompleteRunLog().mid(1));
    EXPECT_TRUE(Link.FlashHoldsImage());
    EXPECT_EQ(Link.Unit().Report().Mode, TUnitMode::Running);
}

TEST(Unplug, PulledMidEraseEndsTheEraseAndStartWorksOnceItIsBack) {
    TLinkedUnit link(SlowEnoughToCatch());
    ASSERT_TRUE(link.Started());
    TMainForm& form = link.Form();
    QElapsedTimer clock;
    qint64 pulledAtMs = -1;
    double cpuAtPull = 0;
    bool pulled = false;
    WhenLineReads(form, "Erasing Program Memory......50%", [&] {
        pulled = link.Unit().Unplug();
        pulledAtMs = clock.elapsed();
        cpuAtPull = ProcessCpuMs();
    });
    clock.start();
    ASSERT_TRUE(link.Harness().RunUpdate(RunBoundMs));
    const qint64 endedAtMs = clock.elapsed();
    const double cpuMs = ProcessCpuMs() - cpuAtPull;
    ASSERT_TRUE(pulled);

    const QStringList lines = link.Harness().LogLines();
    ASSERT_EQ(lines.size(), 5) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.mid(0, 4), CompleteRunLog().mid(0, 4));
    EXPECT_EQ(lines[4], "Erasing Program Memory......Error Detected");
    EXPECT_LE(endedAtMs - pulledAtMs, BootTimeOutBoundMs);
    // Waiting on a port whose device is gone costs next to no processor time.
    EXPECT_LT(cpuMs, 0.5 * static_cast<double>(endedAtMs - pulledAtMs) + 200);
    const TUnitSimReport report = link.Unit().Report();
    EXPECT_TRUE(BootRequests(report, 0x02).empty());
    EXPECT_GE(report.Erases, 46u);
    EXPECT_LT(report.Erases, 92u);

    // Start while the device is still gone: every exchange fails at once, the buttons
    // come back, nothing waits for time-outs on a port that is not open.
    clock.restart();
    ASSERT_TRUE(link.Harness().RunUpdate(RunBoundMs));
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(link.Harness().LogLines(),
              (QStringList{"Initialising Upgrade.....Done (0)", "Enabling BootLoader.....Done",
                           "Retrieving Bootloader Info......Info Unavailable",
                           "Retrieving Model Number......Error (No Reply)"}));

    ASSERT_TRUE(link.Unit().Replug());
    ExpectRunAgainCompletes(link);
}

TEST(Unplug, LineDeadMidWriteAndBackDuringTheWaitEndsTheWriteAndStartCompletes) {
    TUnitSimConfig config = SlowEnoughToCatch();
    // Two Modbus requests, four identity and model reads, 92 erases, then half the writes.
    config.HangUp = THangUpFault{2 + 4 + 92 + 184, 1000};
    TLinkedUnit link(config);
    ASSERT_TRUE(link.Started());
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(link.Harness().RunUpdate(RunBoundMs));
    const QStringList lines = link.Harness().LogLines();
    ASSERT_EQ(lines.size(), 6) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.mid(0, 5), CompleteRunLog().mid(0, 5));
    EXPECT_EQ(lines[5], "Sending New Program Data......Error Detected");
    EXPECT_LT(clock.elapsed(), 6000 + BootTimeOutBoundMs);
    const TUnitSimReport report = link.Unit().Report();
    EXPECT_EQ(report.HangUps, 1u);
    EXPECT_EQ(report.Writes, 183u);
    EXPECT_TRUE(BootRequests(report, 0x05).empty());

    ASSERT_TRUE(QTest::qWaitFor([&] { return !link.Unit().SlavePath().empty(); }, 10000));
    ExpectRunAgainCompletes(link);
}

// The line drops when the unit receives the identity request and is back long before
// the switch, which opens the port afresh: the run carries through to the end.
TEST(Unplug, PulledDuringTheIdentityReadAndBackBeforeTheSwitchCompletesTheRun) {
    TUnitSimConfig config;
    config.HangUp = THangUpFault{1, 300}; // the identity read is the first request
    TLinkedUnit link(config);
    ASSERT_TRUE(link.Started());
    ASSERT_TRUE(link.Harness().RunUpdate(RunBoundMs));
    QStringList expected = CompleteRunLog();
    expected[0] = "Initialising Upgrade.....Done (0)";
    EXPECT_EQ(link.Harness().LogLines(), expected);
    EXPECT_EQ(link.Unit().Report().HangUps, 1u);
    EXPECT_TRUE(link.FlashHoldsImage());
}

} // namespace
