// The bootloader exchange and the commands' requests, byte for byte, against a scripted
// far end on a pseudo-terminal.
#include "FormHarness.h"
#include "ScriptedBootUnit.h"

#include "KestCommsTestAccess.h"
#include "serial/KestComms.h"
#include "upgrade/ProgramRange.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <utility>
#include <vector>

namespace {

const TBytes ModelNumberReply = {0x10, 0x02, 0x00, 0x02, 0x15, 0x8C, 0x5D, 0x10, 0x03};

class BootExchange : public ::testing::Test {
protected:
    BootExchange() : Harness(Unit.SlavePath()) {}

    void SetUp() override {
        ASSERT_NE(Form().Comms, nullptr);
        ASSERT_TRUE(Form().Comms->IsOpen());
        ASSERT_EQ(Form().Comms->BaudRate, 115200u);
    }

    TMainForm& Form() { return Harness.Form(); }

    // Answers every request with the same bytes.
    void AnswerAll(const TBytes& Bytes) {
        Unit.SetScript([Bytes](const TBytes&) { return Bytes; });
    }

    // Answers every request as a unit that does what it is asked would.
    void AnswerLikeAUnit() {
        Unit.SetScript([](const TBytes& Frame) {
            const uint8_t command = Frame[2];
            const uint8_t count = Frame[3]; // no command's count is 0x10
            return TScriptedBootUnit::Reply(command, count, TBytes(count, 0x00));
        });
    }

    TScriptedBootUnit Unit;
    TFormHarness Harness;
};

TEST_F(BootExchange, ModelNumberRequestAndReplyAreByteExact) {
    AnswerAll(ModelNumberReply);
    std::array<uint8_t, 2> reply{};
    EXPECT_EQ(Form().BootTransaction(Form().Comms, 0x00, 2, 0, nullptr, 30, reply.data()), 1);
    EXPECT_EQ(reply, (std::array<uint8_t, 2>{0x15, 0x8C}));
    EXPECT_EQ(Form().GetModelNumber(), 5516u);

    const std::vector<TBytes> frames = Unit.Frames();
    ASSERT_EQ(frames.size(), 2u);
    const TBytes request = {0x10, 0x02, 0x00, 0x02, 0xFE, 0x10, 0x03};
    EXPECT_EQ(frames[0], request);
    EXPECT_EQ(frames[1], request);
}

TEST_F(BootExchange, BootloaderInfoPacksModelAndVersion) {
    AnswerAll(TScriptedBootUnit::Reply(0x08, 4, {0x15, 0x8C, 0x00, 0x96}));
    const int32_t info = Form().GetBootloaderInfo();
    EXPECT_EQ(static_cast<uint32_t>(info) >> 16, 5516u);
    EXPECT_EQ(static_cast<uint32_t>(info) & 0xFFFF, 150u);
    ASSERT_EQ(Unit.FrameCount(), 1u);
    EXPECT_EQ(Unit.Frames()[0], (TBytes{0x10, 0x02, 0x08, 0x04, 0xF4, 0x10, 0x03}));
}

TEST_F(BootExchange, EraseRequestsCarryTheAddressLowByteFirstWithDleDoubled) {
    AnswerLikeAUnit();
    Form().LastProgramAddress = 0x11FF; // five pages: 0x0800 ... 0x1000
    Form().CommandPause = -1;
    ASSERT_TRUE(Form().EraseProgramMemory());
    const std::vector<TBytes> frames = Unit.Frames();
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0], (TBytes{0x10, 0x02, 0x03, 0x08, 0x00, 0x08, 0x00, 0xED, 0x10, 0x03}));
    EXPECT_EQ(frames[1], (TBytes{0x10, 0x02, 0x03, 0x08, 0x00, 0x0A, 0x00, 0xEB, 0x10, 0x03}));
    EXPECT_EQ(frames[4],
              (TBytes{0x10, 0x02, 0x03, 0x08, 0x00, 0x10, 0x10, 0x00, 0xE5, 0x10, 0x03}));
}

TEST_F(BootExchange, RestartRequestHasChecksumZero) {
    AnswerAll(TScriptedBootUnit::Reply(0x00, 0, {}));
    EXPECT_EQ(Form().RestartUnit(), 0);
    ASSERT_EQ(Unit.FrameCount(), 1u);
    EXPECT_EQ(Unit.Frames()[0], (TBytes{0x10, 0x02, 0x00, 0x00, 0x00, 0x10, 0x03}));
}

TEST_F(BootExchange, DisableBootModeSendsAddress3FFAndOneZeroByte) {
    AnswerAll(TScriptedBootUnit::Reply(0x05, 1, {0x00}));
    EXPECT_TRUE(Form().DisableBootMode());
    ASSERT_EQ(Unit.FrameCount(), 1u);
    EXPECT_EQ(Unit.Frames()[0],
              (TBytes{0x10, 0x02, 0x05, 0x01, 0xFF, 0x03, 0x00, 0x00, 0xF8, 0x10, 0x03}));
}

TEST_F(BootExchange, FirstProgramDataRequestCarriesTheImageWithDleDoubled) {
    AnswerLikeAUnit();
    Form().LastProgramAddress = 0x09FF;
    Form().CommandPause = -1;
    Form().BlockPresent.fill(1);
    for (uint32_t i = 0; i < 0x10000; ++i) {
        Form().ImageBuffer[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    Form().ImageBuffer[0x0800] = 0x10;
    Form().ImageBuffer[0x0801] = 0x10;
    Form().ImageBuffer[0x087F] = 0x02;
    ASSERT_TRUE(Form().SendProgramData());

    const std::vector<TBytes> frames = Unit.Frames();
    ASSERT_EQ(frames.size(), 4u); // 0x0800 ... 0x0980
    TBytes expected = {0x10, 0x02, 0x02, 0x02, 0x00, 0x08, 0x00};
    uint8_t sum = 0x02 + 0x02 + 0x00 + 0x08 + 0x00;
    for (uint32_t a = 0x0800; a < 0x0880; ++a) {
        const uint8_t b = Form().ImageBuffer[a];
        sum = static_cast<uint8_t>(sum + b);
        expected.push_back(b);
        if (b == 0x10) {
            expected.push_back(0x10);
        }
    }
    const uint8_t checksum = static_cast<uint8_t>(0x100 - sum);
    expected.push_back(checksum);
    if (checksum == 0x10) {
        expected.push_back(0x10);
    }
    expected.insert(expected.end(), {0x10, 0x03});
    EXPECT_EQ(frames[0], expected);
    EXPECT_EQ(frames[3][4], 0x80);
    EXPECT_EQ(frames[3][5], 0x09);
}

TEST_F(BootExchange, BlocksWithoutTheirFlagAreSkippedAndNotCounted) {
    AnswerLikeAUnit();
    Form().AddLogLine(Form().ListBox1, "Sending New Program Data......");
    TLogCapture log;
    Form().LastProgramAddress = 0x09FF;
    Form().CommandPause = -1;
    Form().BlockPresent.fill(0);
    Form().BlockPresent[0x0880 / 128] = 1;
    Form().BlockPresent[0x0980 / 128] = 1;
    Form().BlockPresent[0x0A00 / 128] = 1; // outside the range
    Form().BlockPresent[0x0000] = 1;       // below it
    ASSERT_TRUE(Form().SendProgramData());
    const std::vector<TBytes> frames = Unit.Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0][5], 0x08);
    EXPECT_EQ(frames[0][4], 0x80);
    EXPECT_EQ(frames[1][5], 0x09);
    EXPECT_EQ(log.Replacements(),
              (QStringList{"Sending New Program Data......0%", "Sending New Program Data......50%",
                           "Sending New Program Data......100%"}));
}

TEST_F(BootExchange, BadChecksumGivesMinusOneAndLeavesTheReplyBuffer) {
    AnswerAll({0x10, 0x02, 0x00, 0x02, 0x15, 0x8C, 0x5E, 0x10, 0x03});
    std::array<uint8_t, 2> reply{0xAA, 0xAA};
    EXPECT_EQ(Form().BootTransaction(Form().Comms, 0x00, 2, 0, nullptr, 30, reply.data()), -1);
    EXPECT_EQ(reply, (std::array<uint8_t, 2>{0xAA, 0xAA}));
    EXPECT_EQ(Form().GetModelNumber(), 0xFFFF0000u);
    EXPECT_EQ(Form().GetBootloaderInfo(), -1);
}

TEST_F(BootExchange, ReplyWithAnotherCommandAndCountIsAccepted) {
    AnswerAll(TScriptedBootUnit::Reply(0x7E, 0x09, {0x15, 0x8C}));
    EXPECT_EQ(Form().GetModelNumber(), 5516u);
}

TEST_F(BootExchange, DoubledDleInAReplyIsOneDataByte) {
    AnswerAll({0x10, 0x02, 0x00, 0x02, 0x10, 0x10, 0x10, 0x10, 0xDE, 0x10, 0x03});
    EXPECT_EQ(Form().GetModelNumber(), 0x1010u);
}

TEST_F(BootExchange, ShortReplyWithGoodChecksumFillsOnlyWhatItCarries) {
    const uint8_t checksum = static_cast<uint8_t>(0x100 - (0x00 + 0x02 + 0x15));
    AnswerAll({0x10, 0x02, 0x00, 0x02, 0x15, checksum, 0x10, 0x03});
    std::array<uint8_t, 4> reply{0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(Form().BootTransaction(Form().Comms, 0x00, 2, 0, nullptr, 30, reply.data()), 1);
    EXPECT_EQ(reply, (std::array<uint8_t, 4>{0x15, 0xAA, 0xAA, 0xAA}));
}

TEST_F(BootExchange, BytesStoredBeforeTheRequestPlayNoPart) {
    // A whole earlier reply and some noise are already in the receive buffer.
    TBytes stale = {0x55, 0x10};
    const TBytes oldReply = TScriptedBootUnit::Reply(0x00, 2, {0x11, 0x11});
    stale.insert(stale.end(), oldReply.begin(), oldReply.end());
    Unit.Send(stale);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Form().Comms->RxWritePosValue() == stale.size(); }, 2000));
    AnswerAll(ModelNumberReply);
    EXPECT_EQ(Form().GetModelNumber(), 5516u);
}

TEST_F(BootExchange, ReplySplitIntoSingleBytesCompletes) {
    Unit.SetScript([this](const TBytes&) {
        for (uint8_t b : ModelNumberReply) {
            Unit.Send({b});
            QThread::msleep(2);
        }
        return TBytes{};
    });
    EXPECT_EQ(Form().GetModelNumber(), 5516u);
}

TEST_F(BootExchange, NoReplyGivesZeroAndLeavesTheReplyBuffer) {
    std::array<uint8_t, 2> reply{0xAA, 0xAA};
    EXPECT_EQ(Form().BootTransaction(Form().Comms, 0x00, 2, 0, nullptr, 1, reply.data()), 0);
    EXPECT_EQ(reply, (std::array<uint8_t, 2>{0xAA, 0xAA}));
}

// Every command arms the time-out of 30 ticks: with no unit answering, its one exchange
// ends on the 31st tick of the reply timer. The timer runs fast here; the count is what
// matters.
TEST_F(BootExchange, EveryCommandGivesUpOnThe31stTick) {
    QTimer& timer = TKestCommsTestAccess::ReplyTimer(*Form().Comms);
    timer.setInterval(2);
    int ticks = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    Form().LastProgramAddress = 0x09FF;
    Form().CommandPause = -1;
    Form().BlockPresent.fill(1);
    const std::vector<std::pair<const char*, std::function<bool()>>> commands = {
        {"GetBootloaderInfo", [this] { return Form().GetBootloaderInfo() == -1; }},
        {"GetModelNumber", [this] { return Form().GetModelNumber() == 0xFFFF0000u; }},
        {"EraseProgramMemory", [this] { return !Form().EraseProgramMemory(); }},
        {"SendProgramData", [this] { return !Form().SendProgramData(); }},
        {"DisableBootMode", [this] { return !Form().DisableBootMode(); }},
        {"RestartUnit", [this] { return Form().RestartUnit() == -1; }},
    };
    for (const auto& [name, failsWithoutAReply] : commands) {
        ticks = 0;
        EXPECT_TRUE(failsWithoutAReply()) << name;
        EXPECT_EQ(ticks, 31) << name;
    }
    EXPECT_EQ(Unit.FrameCount(), commands.size()) << "one request each";
}

TEST_F(BootExchange, PortClosedDuringTheWaitEndsTheExchangeAtOnce) {
    QTimer::singleShot(200, Form().Comms, [this] { Form().Comms->Close(); });
    QElapsedTimer clock;
    clock.start();
    std::array<uint8_t, 2> reply{};
    EXPECT_NE(Form().BootTransaction(Form().Comms, 0x00, 2, 0, nullptr, 30, reply.data()), 1);
    EXPECT_LT(clock.elapsed(), 1500);
    // A closed port fails the next exchange without waiting.
    clock.restart();
    EXPECT_EQ(Form().GetModelNumber(), 0xFFFF0000u);
    EXPECT_LT(clock.elapsed(), 1000);
}

TEST_F(BootExchange, PortMovedToAnotherDeviceDuringTheWaitIsNoReply) {
    // The other device chatters a valid frame as soon as it is opened.
    TScriptedBootUnit other;
    QFile ini(Harness.IniPath());
    ASSERT_TRUE(ini.open(QIODevice::Append | QIODevice::Text));
    ini.write("COM2=" + other.SlavePath().toLocal8Bit() + "\n");
    ini.close();
    QTimer::singleShot(200, Form().Comms, [&] {
        Form().Comms->Close();
        Form().Comms->CommPort = COM2;
        Form().Comms->Open();
        other.Send(ModelNumberReply);
    });
    QElapsedTimer clock;
    clock.start();
    std::array<uint8_t, 2> reply{};
    EXPECT_NE(Form().BootTransaction(Form().Comms, 0x00, 2, 0, nullptr, 30, reply.data()), 1);
    EXPECT_LT(clock.elapsed(), 3500);
}

TEST_F(BootExchange, CommandsRefuseAnUnusableProgramRange) {
    AnswerLikeAUnit();
    Form().BlockPresent.fill(1);
    for (uint32_t last : {0u, 0x07FFu, 0x09FEu, 0x0BFEu, 0x1000u, 0x101FFu, 0xFFFFFFFFu}) {
        Form().LastProgramAddress = last;
        EXPECT_FALSE(Form().EraseProgramMemory()) << std::hex << last;
        EXPECT_FALSE(Form().SendProgramData()) << std::hex << last;
    }
    EXPECT_EQ(Unit.FrameCount(), 0u);
}

TEST_F(BootExchange, DelayHandlesEventsUntilItsDeadline) {
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    QElapsedTimer clock;
    clock.start();
    Form().Delay(400);
    EXPECT_GE(clock.elapsed(), 390);
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_GE(ticks, 5);

    // No time at all: back at once, nothing handled.
    ticker.stop();
    bool handled = false;
    QTimer::singleShot(0, [&] { handled = true; });
    Form().Delay(0);
    Form().Delay(-5);
    EXPECT_FALSE(handled);
    EXPECT_TRUE(QTest::qWaitFor([&] { return handled; }, 1000));
}

TEST(ProgramRange, OnlyWholePagesInsideProgramMemoryAreARange) {
    EXPECT_EQ(ProgramPageCount(0x1FFF), 12u);
    EXPECT_EQ(ProgramPageCount(0xBFFF), 92u);
    EXPECT_EQ(ProgramPageCount(0xFFFF), 124u);
    EXPECT_EQ(ProgramPageCount(0x09FF), 1u);
    EXPECT_FALSE(IsValidProgramRange(0x07FF));
    EXPECT_FALSE(IsValidProgramRange(0x0800));
    EXPECT_FALSE(IsValidProgramRange(0x10000 + 0x1FF));
    EXPECT_FALSE(IsValidProgramRange(0xFFFFFFFF));
}

} // namespace
