// Every injected fault, seen from the updater's end of the line.
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
    TUnitSimConfig Config;
    Config.StartMode = TUnitMode::Boot;
    return Config;
}

TBytes Frame(uint8_t Command, uint8_t Count, const TBytes& Payload = {}) {
    return BuildBootFrame(Command, Count, Payload.data(), Payload.size());
}

TBytes Erase(uint32_t Address) {
    return Frame(0x03, 8, {static_cast<uint8_t>(Address), static_cast<uint8_t>(Address >> 8), 0});
}

TBytes Write(uint32_t Address, uint8_t Fill) {
    TBytes Payload{static_cast<uint8_t>(Address), static_cast<uint8_t>(Address >> 8), 0};
    Payload.resize(3 + 128, Fill);
    return Frame(0x02, 2, Payload);
}

bool ChecksumGood(const TBytes& Reply) {
    const TBytes Body = UnstuffBootFrame(Reply.data(), Reply.size());
    uint8_t Sum = 0;
    for (size_t At = 1; At + 1 < Body.size(); ++At) {
        Sum = static_cast<uint8_t>(Sum + Body[At]);
    }
    return Body.size() >= 5 && Sum == 0;
}

double MsSince(TClock::time_point Start) {
    return std::chrono::duration<double, std::milli>(TClock::now() - Start).count();
}

bool Exists(const std::string& Path) {
    struct stat Info {};
    return ::lstat(Path.c_str(), &Info) == 0;
}

} // namespace

TEST(UnitSimFault, NoAnswerHearsButNeverActsOrAnswers) {
    TUnitSimConfig Config;
    Config.NoAnswer = true;
    TRunningUnit Unit(Config);
    Unit.Line.Write(IdentityRead);
    Unit.Line.Write(WithCrc({19, 103, 0, 29, 0x14, 0x3F}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Unit.Unit.Report().Frames.size() == 2; }, 2000));
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    const TUnitSimReport Report = Unit.Unit.Report();
    EXPECT_EQ(Report.Mode, TUnitMode::Running);
    ASSERT_EQ(Report.Frames.size(), 2u);
    EXPECT_NE(Report.Frames[0].Verdict.find("does not answer"), std::string::npos);
}

TEST(UnitSimFault, WrongModelFromTheBootloaderOnly) {
    TUnitSimConfig Config = InBoot();
    Config.BootModelNumber = 5448;
    TRunningUnit Unit(Config);
    EXPECT_EQ(ToHex(Unit.Line.Ask(FromHex("10 02 00 02 FE 10 03"), 9)),
              ToHex(Frame(0x00, 2, {0x15, 0x48})));
    EXPECT_EQ(ToHex(Unit.Line.Ask(Frame(0x08, 4), 11)),
              ToHex(Frame(0x08, 4, {0x15, 0x8C, 0x00, 0x96})));
}

TEST(UnitSimFault, FailingErasePageKeepsItsMemory) {
    TUnitSimConfig Config = InBoot();
    Config.EraseFaults = {{3, TFailKind::NoReply}, {4, TFailKind::BadChecksum}};
    TRunningUnit Unit(Config);
    for (uint32_t Address : {0x0800u, 0x0A00u}) {
        const TBytes Reply = Unit.Line.Ask(Erase(Address), 15);
        EXPECT_TRUE(ChecksumGood(Reply)) << ToHex(Reply);
    }
    Unit.Line.Write(Erase(0x0C00));
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    Unit.Line.Write(Erase(0x0E00));
    const TBytes Spoilt = Unit.Line.ReadReply();
    EXPECT_FALSE(Spoilt.empty());
    EXPECT_FALSE(ChecksumGood(Spoilt)) << ToHex(Spoilt);
    const TUnitSimReport Report = Unit.Unit.Report();
    EXPECT_EQ(Report.Erases, 2u);
    EXPECT_EQ(Report.Flash[0x0C00], TFlashModel::PatternByte(0x0C00));
    EXPECT_EQ(Report.Flash[0x0E00], TFlashModel::PatternByte(0x0E00));
    EXPECT_TRUE(Report.UpdaterFaults.empty()) << "injected failures are not the updater's";
}

TEST(UnitSimFault, FailingWriteBlockKeepsItsMemory) {
    TUnitSimConfig Config = InBoot();
    Config.WriteFaults = {{2, TFailKind::BadChecksum}, {3, TFailKind::NoReply}};
    TRunningUnit Unit(Config);
    Unit.Line.Ask(Erase(0x0800), 15);
    EXPECT_TRUE(ChecksumGood(Unit.Line.Ask(Write(0x0800, 1), 9)));
    const TBytes Spoilt = Unit.Line.Ask(Write(0x0880, 2), 9);
    EXPECT_EQ(Spoilt.size(), 9u);
    EXPECT_FALSE(ChecksumGood(Spoilt));
    Unit.Line.Write(Write(0x0900, 3));
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    const TUnitSimReport Report = Unit.Unit.Report();
    EXPECT_EQ(Report.Writes, 1u);
    EXPECT_EQ(Report.Flash[0x0880], 0xFF);
    EXPECT_EQ(Report.Flash[0x0900], 0xFF);
}

TEST(UnitSimFault, BadCrcOnTheNthModbusReplyOnly) {
    TUnitSimConfig Config;
    Config.BadCheck = {{TReplyPick::TKind::Modbus, 2}};
    TRunningUnit Unit(Config);
    EXPECT_EQ(ToHex(Unit.Line.Ask(IdentityRead, 9)), IdentityReply);
    EXPECT_EQ(ToHex(Unit.Line.Ask(IdentityRead, 9)), "13 03 04 15 8C 00 8C F3 70");
    EXPECT_EQ(ToHex(Unit.Line.Ask(IdentityRead, 9)), IdentityReply);
}

TEST(UnitSimFault, BadChecksumOnEveryBootReply) {
    TUnitSimConfig Config = InBoot();
    Config.BadCheck = {{TReplyPick::TKind::Boot, 0}};
    TRunningUnit Unit(Config);
    for (int Try = 0; Try < 2; ++Try) {
        EXPECT_EQ(ToHex(Unit.Line.Ask(FromHex("10 02 00 02 FE 10 03"), 9)),
                  "10 02 00 02 15 8C 5E 10 03");
    }
}

TEST(UnitSimFault, DroppedBytesLeaveTheReplyShort) {
    TUnitSimConfig Config;
    Config.Drops = {{{TReplyPick::TKind::Any, 1}, 2, -1}};
    TRunningUnit Unit(Config);
    Unit.Line.Write(IdentityRead);
    EXPECT_EQ(ToHex(Unit.Line.ReadReply()), "13 03 04 15 8C 0C 70");
    EXPECT_EQ(ToHex(Unit.Line.Ask(IdentityRead, 9)), IdentityReply);
}

TEST(UnitSimFault, NoiseComesBeforeTheReplyAndNeverLooksLikeItsStart) {
    TUnitSimConfig Config;
    Config.Noise = {{{TReplyPick::TKind::Modbus, 0}, 40}};
    TRunningUnit Unit(Config);
    const TBytes Got = Unit.Line.Ask(IdentityRead, 49);
    ASSERT_EQ(Got.size(), 49u);
    EXPECT_EQ(ToHex(TBytes(Got.begin() + 40, Got.end())), IdentityReply);
    for (size_t At = 0; At < 40; ++At) {
        EXPECT_NE(Got[At], 0x13);
        EXPECT_NE(Got[At], DLE);
    }
}

TEST(UnitSimFault, ChunksArriveApartWithTheirGaps) {
    TUnitSimConfig Config;
    Config.Chunks = {{{TReplyPick::TKind::Any, 0}, 3, 200}};
    TRunningUnit Unit(Config);
    const auto Start = TClock::now();
    Unit.Line.Write(IdentityRead);
    const TBytes First = Unit.Line.ReadCount(3);
    ASSERT_EQ(First.size(), 3u);
    ASSERT_TRUE(Unit.Line.ReadCount(1, 50).empty()) << "the next chunk waits for its gap";
    const TBytes Rest = Unit.Line.ReadCount(6, 3000);
    EXPECT_GE(MsSince(Start), 399.0);
    TBytes All = First;
    All.insert(All.end(), Rest.begin(), Rest.end());
    EXPECT_EQ(ToHex(All), IdentityReply);
}

TEST(UnitSimFault, LateReplyComesAfterItsDelay) {
    TUnitSimConfig Config;
    Config.Late = {{{TReplyPick::TKind::Modbus, 1}, 600}};
    TRunningUnit Unit(Config);
    const auto Start = TClock::now();
    Unit.Line.Write(IdentityRead);
    EXPECT_TRUE(Unit.Line.ReadCount(1, 300).empty());
    const TBytes Reply = Unit.Line.ReadCount(9, 3000);
    EXPECT_GE(MsSince(Start), 590.0);
    EXPECT_EQ(ToHex(Reply), IdentityReply);
}

TEST(UnitSimFault, ReplyAtTheWrongRateArrivesGarbled) {
    TUnitSimConfig Config = InBoot();
    Config.WrongRate = {{{TReplyPick::TKind::Boot, 1}, 0}};
    TRunningUnit Unit(Config);
    Unit.Line.Write(FromHex("10 02 00 02 FE 10 03"));
    const TBytes Garbled = Unit.Line.ReadReply();
    const TBytes Good = FromHex("10 02 00 02 15 8C 5D 10 03");
    EXPECT_EQ(ToHex(Garbled), ToHex(ReceiveAtRate(Good, 9600, 115200)));
    EXPECT_NE(Garbled, Good);
    EXPECT_EQ(ToHex(Unit.Line.Ask(FromHex("10 02 00 02 FE 10 03"), 9)), ToHex(Good));
}

TEST(UnitSimFault, HangUpAfterNFramesAndComeBackAtTheSameLink) {
    const std::string Link = testing::TempDir() + "unitsim-hangup-link";
    TUnitSimConfig Config;
    Config.LinkPath = Link;
    Config.HangUp = THangUpFault{2, 1500};
    TRunningUnit Unit(Config);
    EXPECT_EQ(ToHex(Unit.Line.Ask(IdentityRead, 9)), IdentityReply);
    Unit.Line.Write(IdentityRead);
    EXPECT_TRUE(Unit.Line.HangsUp(2000));
    EXPECT_FALSE(Exists(Link));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Exists(Link); }, 5000));
    TPtyClient Again(Link, 9600);
    ASSERT_TRUE(Again.IsOpen());
    EXPECT_EQ(ToHex(Again.Ask(IdentityRead, 9)), IdentityReply);
    EXPECT_EQ(Unit.Unit.Report().HangUps, 1u);
}

TEST(UnitSimFault, PacingTakesTenBitTimesPerByteEachWay) {
    TUnitSimConfig Config;
    Config.Pacing = true;
    Config.OtherMs = 30;
    TRunningUnit Unit(Config);
    const auto Start = TClock::now();
    EXPECT_EQ(ToHex(Unit.Line.Ask(IdentityRead, 9)), IdentityReply);
    // 8 bytes in, 9 out at 9,600 baud: 17.7 ms of line time, plus 30 ms of work.
    EXPECT_GE(MsSince(Start), 47.0);
}

TEST(UnitSimFault, EraseAndWriteTakeTheirProcessingTimes) {
    TUnitSimConfig Config = InBoot();
    Config.EraseMs = 150;
    Config.WriteMs = 80;
    TRunningUnit Unit(Config);
    auto Start = TClock::now();
    EXPECT_EQ(Unit.Line.Ask(Erase(0x0800), 15).size(), 15u);
    EXPECT_GE(MsSince(Start), 149.0);
    Start = TClock::now();
    EXPECT_EQ(Unit.Line.Ask(Write(0x0800, 5), 9).size(), 9u);
    EXPECT_GE(MsSince(Start), 79.0);
}

TEST(UartMismatch, SameRateIsTransparentAndMismatchesGarble) {
    const TBytes Bytes = FromHex("00 55 FF 10 02 A5");
    EXPECT_EQ(ReceiveAtRate(Bytes, 9600, 9600), Bytes);
    // At 115,200 a 9,600-baud FF is one long start bit: a framing error, read as 00.
    EXPECT_EQ(ToHex(ReceiveAtRate(FromHex("FF"), 9600, 115200)), "00");
    // At 9,600 a 115,200-baud 00 is a short pulse inside the start bit: FF.
    EXPECT_EQ(ToHex(ReceiveAtRate(FromHex("00"), 115200, 9600)), "FF");
    EXPECT_TRUE(ReceiveAtRate(FromHex("FF FF"), 9600, 0).empty());
}
