// Every injected fault, seen from the updater's end of the line.
#include "tests/unitsim/BootRequests.h"
#include "tests/unitsim/PtyClient.h"
#include "tools/unitsim/FlashModel.h"
#include "tools/unitsim/UartMismatch.h"
#include "upgrade/BootFrame.h"

#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using TClock = std::chrono::steady_clock;
constexpr int NoReplyMs = 300;
const TBytes IdentityRead = FromHex("13 03 00 14 00 02 87 7D");
const std::string IdentityReply = "13 03 04 15 8C 00 8C 0C 70";

TUnitSimConfig InBoot() {
    TUnitSimConfig config;
    config.StartMode = TUnitMode::Boot;
    return config;
}

TBytes Write(uint32_t Address, uint8_t Fill) {
    TBytes payload{static_cast<uint8_t>(Address), static_cast<uint8_t>(Address >> 8), 0};
    payload.resize(3 + 128, Fill);
    return Frame(0x02, 2, payload);
}

bool ChecksumGood(const TBytes& Reply) {
    const TBytes body = UnstuffBootFrame(Reply.data(), Reply.size());
    uint8_t sum = 0;
    for (size_t at = 1; at + 1 < body.size(); ++at) {
        sum = static_cast<uint8_t>(sum + body[at]);
    }
    return body.size() >= 5 && sum == 0;
}

double MsSince(TClock::time_point Start) {
    return std::chrono::duration<double, std::milli>(TClock::now() - Start).count();
}

bool Exists(const std::string& Path) {
    struct stat info {};
    return ::lstat(Path.c_str(), &info) == 0;
}

} // namespace

TEST(UnitSimFault, NoAnswerHearsButNeverActsOrAnswers) {
    TUnitSimConfig config;
    config.NoAnswer = true;
    TRunningUnit unit(config);
    unit.Line.Write(IdentityRead);
    unit.Line.Write(WithCrc({19, 103, 0, 29, 0x14, 0x3F}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return unit.Unit.Report().Frames.size() == 2; }, 2000));
    EXPECT_TRUE(unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    const TUnitSimReport report = unit.Unit.Report();
    EXPECT_EQ(report.Mode, TUnitMode::Running);
    ASSERT_EQ(report.Frames.size(), 2u);
    EXPECT_NE(report.Frames[0].Verdict.find("does not answer"), std::string::npos);
}

TEST(UnitSimFault, WrongModelFromTheBootloaderOnly) {
    TUnitSimConfig config = InBoot();
    config.BootModelNumber = 5448;
    TRunningUnit unit(config);
    EXPECT_EQ(ToHex(unit.Line.Ask(FromHex("10 02 00 02 FE 10 03"), 9)),
              ToHex(Frame(0x00, 2, {0x15, 0x48})));
    EXPECT_EQ(ToHex(unit.Line.Ask(Frame(0x08, 4), 11)),
              ToHex(Frame(0x08, 4, {0x15, 0x8C, 0x00, 0x96})));
}

TEST(UnitSimFault, FailingErasePageKeepsItsMemory) {
    TUnitSimConfig config = InBoot();
    config.EraseFaults = {{3, TFailKind::NoReply}, {4, TFailKind::BadChecksum}};
    TRunningUnit unit(config);
    for (uint32_t address : {0x0800u, 0x0A00u}) {
        const TBytes reply = unit.Line.Ask(Erase(address), 15);
        EXPECT_TRUE(ChecksumGood(reply)) << ToHex(reply);
    }
    unit.Line.Write(Erase(0x0C00));
    EXPECT_TRUE(unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    unit.Line.Write(Erase(0x0E00));
    const TBytes spoilt = unit.Line.ReadReply();
    EXPECT_FALSE(spoilt.empty());
    EXPECT_FALSE(ChecksumGood(spoilt)) << ToHex(spoilt);
    const TUnitSimReport report = unit.Unit.Report();
    EXPECT_EQ(report.Erases, 2u);
    EXPECT_EQ(report.Flash[0x0C00], TFlashModel::PatternByte(0x0C00));
    EXPECT_EQ(report.Flash[0x0E00], TFlashModel::PatternByte(0x0E00));
    EXPECT_TRUE(report.UpdaterFaults.empty()) << "injected failures are not the updater's";
}

TEST(UnitSimFault, FailingWriteBlockKeepsItsMemory) {
    TUnitSimConfig config = InBoot();
    config.WriteFaults = {{2, TFailKind::BadChecksum}, {3, TFailKind::NoReply}};
    TRunningUnit unit(config);
    unit.Line.Ask(Erase(0x0800), 15);
    EXPECT_TRUE(ChecksumGood(unit.Line.Ask(Write(0x0800, 1), 9)));
    const TBytes spoilt = unit.Line.Ask(Write(0x0880, 2), 9);
    EXPECT_EQ(spoilt.size(), 9u);
    EXPECT_FALSE(ChecksumGood(spoilt));
    unit.Line.Write(Write(0x0900, 3));
    EXPECT_TRUE(unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    const TUnitSimReport report = unit.Unit.Report();
    EXPECT_EQ(report.Writes, 1u);
    EXPECT_EQ(report.Flash[0x0880], 0xFF);
    EXPECT_EQ(report.Flash[0x0900], 0xFF);
}

TEST(UnitSimFault, BadCrcOnTheNthModbusReplyOnly) {
    TUnitSimConfig config;
    config.BadCheck = {{TReplyPick::TKind::Modbus, 2}};
    TRunningUnit unit(config);
    EXPECT_EQ(ToHex(unit.Line.Ask(IdentityRead, 9)), IdentityReply);
    EXPECT_EQ(ToHex(unit.Line.Ask(IdentityRead, 9)), "13 03 04 15 8C 00 8C F3 70");
    EXPECT_EQ(ToHex(unit.Line.Ask(IdentityRead, 9)), IdentityReply);
}

TEST(UnitSimFault, BadChecksumOnEveryBootReply) {
    TUnitSimConfig config = InBoot();
    config.BadCheck = {{TReplyPick::TKind::Boot, 0}};
    TRunningUnit unit(config);
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(ToHex(unit.Line.Ask(FromHex("10 02 00 02 FE 10 03"), 9)),
                  "10 02 00 02 15 8C 5E 10 03");
    }
}

TEST(UnitSimFault, DroppedBytesLeaveTheReplyShort) {
    TUnitSimConfig config;
    config.Drops = {{{TReplyPick::TKind::Any, 1}, 2, -1}};
    TRunningUnit unit(config);
    unit.Line.Write(IdentityRead);
    EXPECT_EQ(ToHex(unit.Line.ReadReply()), "13 03 04 15 8C 0C 70");
    EXPECT_EQ(ToHex(unit.Line.Ask(IdentityRead, 9)), IdentityReply);
}

TEST(UnitSimFault, NoiseComesBeforeTheReplyAndNeverLooksLikeItsStart) {
    TUnitSimConfig config;
    config.Noise = {{{TReplyPick::TKind::Modbus, 0}, 40}};
    TRunningUnit unit(config);
    const TBytes got = unit.Line.Ask(IdentityRead, 49);
    ASSERT_EQ(got.size(), 49u);
    EXPECT_EQ(ToHex(TBytes(got.begin() + 40, got.end())), IdentityReply);
    for (size_t at = 0; at < 40; ++at) {
        EXPECT_NE(got[at], 0x13);
        EXPECT_NE(got[at], DLE);
    }
}

TEST(UnitSimFault, ChunksArriveApartWithTheirGaps) {
    TUnitSimConfig config;
    config.Chunks = {{{TReplyPick::TKind::Any, 0}, 3, 200}};
    TRunningUnit unit(config);
    const auto start = TClock::now();
    unit.Line.Write(IdentityRead);
    const TBytes first = unit.Line.ReadCount(3);
    ASSERT_EQ(first.size(), 3u);
    ASSERT_TRUE(unit.Line.ReadCount(1, 50).empty()) << "the next chunk waits for its gap";
    const TBytes rest = unit.Line.ReadCount(6, 3000);
    EXPECT_GE(MsSince(start), 399.0);
    TBytes all = first;
    all.insert(all.end(), rest.begin(), rest.end());
    EXPECT_EQ(ToHex(all), IdentityReply);
}

TEST(UnitSimFault, LateReplyComesAfterItsDelay) {
    TUnitSimConfig config;
    config.Late = {{{TReplyPick::TKind::Modbus, 1}, 600}};
    TRunningUnit unit(config);
    const auto start = TClock::now();
    unit.Line.Write(IdentityRead);
    EXPECT_TRUE(unit.Line.ReadCount(1, 300).empty());
    const TBytes reply = unit.Line.ReadCount(9, 3000);
    EXPECT_GE(MsSince(start), 590.0);
    EXPECT_EQ(ToHex(reply), IdentityReply);
}

TEST(UnitSimFault, ReplyAtTheWrongRateArrivesGarbled) {
    TUnitSimConfig config = InBoot();
    config.WrongRate = {{{TReplyPick::TKind::Boot, 1}, 0}};
    TRunningUnit unit(config);
    unit.Line.Write(FromHex("10 02 00 02 FE 10 03"));
    const TBytes garbled = unit.Line.ReadReply();
    const TBytes good = FromHex("10 02 00 02 15 8C 5D 10 03");
    EXPECT_EQ(ToHex(garbled), ToHex(ReceiveAtRate(good, 9600, 115200)));
    EXPECT_NE(garbled, good);
    EXPECT_EQ(ToHex(unit.Line.Ask(FromHex("10 02 00 02 FE 10 03"), 9)), ToHex(good));
}

TEST(UnitSimFault, HangUpAfterNFramesAndComeBackAtTheSameLink) {
    const std::string link = testing::TempDir() + "unitsim-hangup-link";
    TUnitSimConfig config;
    config.LinkPath = link;
    config.HangUp = THangUpFault{2, 1500};
    TRunningUnit unit(config);
    EXPECT_EQ(ToHex(unit.Line.Ask(IdentityRead, 9)), IdentityReply);
    unit.Line.Write(IdentityRead);
    EXPECT_TRUE(unit.Line.HangsUp(2000));
    EXPECT_FALSE(Exists(link));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Exists(link); }, 5000));
    TPtyClient again(link, 9600);
    ASSERT_TRUE(again.IsOpen());
    EXPECT_EQ(ToHex(again.Ask(IdentityRead, 9)), IdentityReply);
    EXPECT_EQ(unit.Unit.Report().HangUps, 1u);
}

TEST(UnitSimFault, PacingTakesTenBitTimesPerByteEachWay) {
    TUnitSimConfig config;
    config.Pacing = true;
    config.OtherMs = 30;
    TRunningUnit unit(config);
    const auto start = TClock::now();
    EXPECT_EQ(ToHex(unit.Line.Ask(IdentityRead, 9)), IdentityReply);
    // 8 bytes in, 9 out at 9,600 baud: 17.7 ms of line time, plus 30 ms of work.
    EXPECT_GE(MsSince(start), 47.0);
}

TEST(UnitSimFault, EraseAndWriteTakeTheirProcessingTimes) {
    TUnitSimConfig config = InBoot();
    config.EraseMs = 150;
    config.WriteMs = 80;
    TRunningUnit unit(config);
    auto start = TClock::now();
    EXPECT_EQ(unit.Line.Ask(Erase(0x0800), 15).size(), 15u);
    EXPECT_GE(MsSince(start), 149.0);
    start = TClock::now();
    EXPECT_EQ(unit.Line.Ask(Write(0x0800, 5), 9).size(), 9u);
    EXPECT_GE(MsSince(start), 79.0);
}

TEST(UartMismatch, SameRateIsTransparentAndMismatchesGarble) {
    const TBytes bytes = FromHex("00 55 FF 10 02 A5");
    EXPECT_EQ(ReceiveAtRate(bytes, 9600, 9600), bytes);
    // At 115,200 a 9,600-baud FF is one long start bit: a framing error, read as 00.
    EXPECT_EQ(ToHex(ReceiveAtRate(FromHex("FF"), 9600, 115200)), "00");
    // At 9,600 a 115,200-baud 00 is a short pulse inside the start bit: FF.
    EXPECT_EQ(ToHex(ReceiveAtRate(FromHex("00"), 115200, 9600)), "FF");
    EXPECT_TRUE(ReceiveAtRate(FromHex("FF FF"), 9600, 0).empty());
}
