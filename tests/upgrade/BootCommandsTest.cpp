// The bootloader commands against the simulated unit in boot mode: which pages and blocks
// are asked for, what ends up in the unit's flash, the progress lines and the failures.
#include "FormHarness.h"
#include "SimSupport.h"

#include "serial/KestComms.h"

#include <QElapsedTimer>
#include <QListWidget>

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>

namespace {

constexpr uint8_t Untouched = 0x5A;

TUnitSimConfig BootModeUnit() {
    TUnitSimConfig config;
    config.StartMode = TUnitMode::Boot;
    config.InitialFlash.assign(0x10000, Untouched);
    return config;
}

QStringList ExpectedProgress(const QString& Line, uint32_t Total) {
    QStringList lines{Line + "0%"};
    for (uint32_t done = 1; done <= Total; ++done) {
        lines.append(Line + QString::number(done * 100 / Total) + "%");
    }
    return lines;
}

// The flash holds the image over 0x0800..Last and nothing else changed.
void ExpectFlashHoldsImage(const TUnitSimReport& Report, const TMainForm& Form, uint32_t Last) {
    ASSERT_EQ(Report.Flash.size(), 0x10000u);
    for (uint32_t a = 0; a < 0x10000; ++a) {
        const uint8_t expected = a >= 0x0800 && a <= Last ? Form.ImageBuffer[a] : Untouched;
        ASSERT_EQ(Report.Flash[a], expected) << "at 0x" << std::hex << a;
    }
}

class BootCommands : public ::testing::Test {
protected:
    void Connect(const TUnitSimConfig& Config) {
        Unit = StartUnit(Config);
        Harness = std::make_unique<TFormHarness>(QString::fromStdString(Unit->PortPath()));
        ASSERT_TRUE(Form().Comms->IsOpen());
        Form().CommandPause = -1;
        Form().AddLogLine(Form().ListBox1, "Erasing Program Memory......");
    }
    TMainForm& Form() { return Harness->Form(); }

    std::unique_ptr<TUnitSim> Unit;
    std::unique_ptr<TFormHarness> Harness;
};

TEST_F(BootCommands, IdentityAndModelNumberFromTheBootloader) {
    TUnitSimConfig config = BootModeUnit();
    config.BootVersion = 105;
    Connect(config);
    EXPECT_EQ(Form().GetBootloaderInfo(), static_cast<int32_t>((5516u << 16) | 105u));
    EXPECT_EQ(Form().GetModelNumber(), 5516u);
}

TEST_F(BootCommands, WholeRangeOf0xBFFFAtLineRate) {
    TUnitSimConfig config = BootModeUnit();
    config.Pacing = true;
    Connect(config);
    Form().LastProgramAddress = 0xBFFF;
    TLogCapture log;

    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(Form().EraseProgramMemory());
    const qint64 eraseMs = clock.restart();
    ASSERT_TRUE(Form().SendProgramData());
    const qint64 writeMs = clock.elapsed();

    const TUnitSimReport report = Unit->Report();
    const std::vector<TBootRequest> erases = BootRequests(report, 0x03);
    ASSERT_EQ(erases.size(), 92u);
    for (size_t i = 0; i < erases.size(); ++i) {
        EXPECT_EQ(erases[i].Address(), 0x0800 + 512 * i);
        EXPECT_EQ(erases[i].Count, 8);
    }
    const std::vector<TBootRequest> writes = BootRequests(report, 0x02);
    ASSERT_EQ(writes.size(), 368u);
    for (size_t i = 0; i < writes.size(); ++i) {
        EXPECT_EQ(writes[i].Address(), 0x0800 + 128 * i);
        EXPECT_EQ(writes[i].Count, 2);
        EXPECT_EQ(writes[i].Payload.size(), 131u);
    }
    ExpectFlashHoldsImage(report, Form(), 0xBFFF);
    EXPECT_TRUE(report.UpdaterFaults.empty());

    QStringList expected = ExpectedProgress("Erasing Program Memory......", 92);
    expected += ExpectedProgress("Sending New Program Data......", 368);
    EXPECT_EQ(log.Replacements(), expected);

    const double eraseWire = BootWireSeconds(report, 0x03);
    const double writeWire = BootWireSeconds(report, 0x02);
    std::printf("0xBFFF at 115,200 baud, line-rate pacing: erase %.2f s (wire %.2f s), "
                "write %.2f s (wire %.2f s)\n",
                eraseMs / 1000.0, eraseWire, writeMs / 1000.0, writeWire);
    RecordProperty("EraseMs", static_cast<int>(eraseMs));
    RecordProperty("WriteMs", static_cast<int>(writeMs));
}

struct TRangeCase {
    uint32_t Last;
    uint32_t Pages;
    uint32_t Blocks;
};

void PrintTo(const TRangeCase& Range, std::ostream* Out) {
    *Out << "last 0x" << std::hex << std::uppercase << Range.Last;
}

class BootCommandRanges : public BootCommands, public ::testing::WithParamInterface<TRangeCase> {};

TEST_P(BootCommandRanges, EraseAndWriteExactlyTheRange) {
    Connect(BootModeUnit());
    const TRangeCase range = GetParam();
    Form().LastProgramAddress = range.Last;
    // A blank block inside the range is sent like any other; bytes outside it never are.
    std::fill_n(Form().ImageBuffer.begin() + 0x0900, 128, 0xFF);
    std::fill_n(Form().ImageBuffer.begin(), 0x0800, 0x11);
    ASSERT_TRUE(Form().EraseProgramMemory());
    ASSERT_TRUE(Form().SendProgramData());
    const TUnitSimReport report = Unit->Report();
    EXPECT_EQ(BootRequests(report, 0x03).size(), range.Pages);
    EXPECT_EQ(BootRequests(report, 0x02).size(), range.Blocks);
    ExpectFlashHoldsImage(report, Form(), range.Last);
    EXPECT_TRUE(report.UpdaterFaults.empty());
}

INSTANTIATE_TEST_SUITE_P(EndAddresses, BootCommandRanges,
                         ::testing::Values(TRangeCase{0x1FFF, 12, 48},
                                           TRangeCase{0xFFFF, 124, 496}));

TEST_F(BootCommands, ThirdErasePageFailingStopsAfterThreeRequestsAt2Percent) {
    TUnitSimConfig config = BootModeUnit();
    config.EraseFaults = {{3, TFailKind::BadChecksum}};
    Connect(config);
    Form().LastProgramAddress = 0xBFFF;
    TLogCapture log;
    EXPECT_FALSE(Form().EraseProgramMemory());
    EXPECT_EQ(BootRequests(Unit->Report(), 0x03).size(), 3u);
    EXPECT_EQ(log.Replacements().last(), "Erasing Program Memory......2%");
}

TEST_F(BootCommands, WriteFailureStopsAtOnce) {
    TUnitSimConfig config = BootModeUnit();
    config.WriteFaults = {{5, TFailKind::NoReply}};
    Connect(config);
    Form().LastProgramAddress = 0xBFFF;
    ASSERT_TRUE(Form().EraseProgramMemory());
    TLogCapture log;
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(Form().SendProgramData());
    EXPECT_GE(clock.elapsed(), 2800); // the failed block waited out its time-out
    EXPECT_EQ(BootRequests(Unit->Report(), 0x02).size(), 5u);
    EXPECT_EQ(log.Replacements().last(), "Sending New Program Data......1%");
}

TEST_F(BootCommands, CommandPauseFollowsEveryPageAndBlock) {
    Connect(BootModeUnit());
    Form().LastProgramAddress = 0x1FFF;
    Form().CommandPause = 20;
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(Form().EraseProgramMemory());
    EXPECT_GE(clock.restart(), 12 * 20);
    ASSERT_TRUE(Form().SendProgramData());
    EXPECT_GE(clock.elapsed(), 48 * 20);
}

} // namespace
