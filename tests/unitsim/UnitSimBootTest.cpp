// The bootloader: golden frames, the flash model's rules, leaving boot mode and restart.
#include "tests/unitsim/PtyClient.h"
#include "tools/unitsim/FlashModel.h"
#include "tools/unitsim/SimReport.h"
#include "upgrade/BootFrame.h"

#include <QTest>

#include <gtest/gtest.h>

#include <random>

namespace {

constexpr int NoReplyMs = 300;

TUnitSimConfig InBoot(uint16_t Model = 5516) {
    TUnitSimConfig Config;
    Config.ModelNumber = Model;
    Config.StartMode = TUnitMode::Boot;
    return Config;
}

TBytes Frame(uint8_t Command, uint8_t Count, const TBytes& Payload = {}) {
    return BuildBootFrame(Command, Count, Payload.data(), Payload.size());
}

TBytes Erase(uint32_t Address) {
    return Frame(0x03, 8, {static_cast<uint8_t>(Address), static_cast<uint8_t>(Address >> 8), 0});
}

TBytes Write(uint32_t Address, const TBytes& Block) {
    TBytes Payload{static_cast<uint8_t>(Address), static_cast<uint8_t>(Address >> 8), 0};
    Payload.insert(Payload.end(), Block.begin(), Block.end());
    return Frame(0x02, 2, Payload);
}

// Reads one reply frame, up to its DLE ETX (a doubled DLE is no end).
TBytes ReadFrame(TPtyClient& Line) {
    TBytes Received;
    while (true) {
        const TBytes Byte = Line.ReadCount(1, 1000);
        if (Byte.empty()) {
            return Received;
        }
        Received.push_back(Byte[0]);
        size_t Dles = 0;
        for (size_t At = Received.size() - 1; At > 0 && Received[At - 1] == DLE; --At) {
            ++Dles;
        }
        if (Received.size() >= 4 && Received.back() == ETX && Dles % 2 == 1) {
            return Received;
        }
    }
}

bool HasFault(const TUnitSimReport& Report, const std::string& Text) {
    for (const std::string& Fault : Report.UpdaterFaults) {
        if (Fault.find(Text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(UnitSimBoot, GoldenModelAndIdentityReplies) {
    TRunningUnit Unit(InBoot());
    EXPECT_EQ(ToHex(Unit.Line.Ask(FromHex("10 02 00 02 FE 10 03"), 9)),
              "10 02 00 02 15 8C 5D 10 03");
    const TBytes Identity = Unit.Line.Ask(Frame(0x08, 4), 11);
    EXPECT_EQ(ToHex(Identity), ToHex(Frame(0x08, 4, {0x15, 0x8C, 0x00, 0x96})));
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet().empty());
}

TEST(UnitSimBoot, GoldenEraseRequestsEraseTheirPages) {
    TRunningUnit Unit(InBoot());
    EXPECT_EQ(ToHex(Erase(0x0800)), "10 02 03 08 00 08 00 ED 10 03");
    EXPECT_EQ(ToHex(Erase(0x1000)), "10 02 03 08 00 10 10 00 E5 10 03");
    for (uint32_t Address : {0x0800u, 0x1000u}) {
        Unit.Line.Write(Erase(Address));
        const TBytes Reply = ReadFrame(Unit.Line);
        const TBytes Body = UnstuffBootFrame(Reply.data(), Reply.size());
        ASSERT_EQ(Body.size(), 13u) << ToHex(Reply); // STX 03 08 + 8 data + sum + ETX
        EXPECT_EQ(Body[1], 0x03);
        EXPECT_EQ(Body[2], 8);
        uint8_t Sum = 0;
        for (size_t At = 1; At + 1 < Body.size(); ++At) {
            Sum = static_cast<uint8_t>(Sum + Body[At]);
        }
        EXPECT_EQ(Sum, 0);
    }
    const TUnitSimReport Report = Unit.Unit.Report();
    EXPECT_EQ(Report.Erases, 2u);
    for (uint32_t At = 0x0800; At < 0x0A00; ++At) {
        ASSERT_EQ(Report.Flash[At], 0xFF);
    }
    EXPECT_EQ(Report.Flash[0x1000], 0xFF);
    EXPECT_EQ(Report.Flash[0x11FF], 0xFF);
    EXPECT_EQ(Report.Flash[0x0A00], TFlashModel::PatternByte(0x0A00)) << "the next page is kept";
    EXPECT_EQ(Report.Flash[0x07FF], TFlashModel::PatternByte(0x07FF));
}

TEST(UnitSimBoot, WrittenBlockLandsAndIsDigested) {
    TRunningUnit Unit(InBoot());
    Unit.Line.Write(Erase(0x0C00));
    ASSERT_FALSE(ReadFrame(Unit.Line).empty());
    TBytes Block(128);
    for (size_t At = 0; At < Block.size(); ++At) {
        Block[At] = static_cast<uint8_t>(At % 3 == 0 ? DLE : At); // stuffed on the wire
    }
    const TBytes Request = Write(0x0C80, Block);
    EXPECT_GT(Request.size(), 4u + 3 + 128 + 3 + 40);
    const TBytes Reply = Unit.Line.Ask(Request, 9);
    EXPECT_EQ(Reply.size(), 9u) << ToHex(Reply);
    const TUnitSimReport Report = Unit.Unit.Report();
    EXPECT_EQ(Report.Writes, 1u);
    EXPECT_TRUE(std::equal(Block.begin(), Block.end(), Report.Flash.begin() + 0x0C80));
    EXPECT_EQ(FlashDigest(Report.Flash, {0x0C80, 0x0CFF}), FlashDigest(Block, {0, 127}));
    EXPECT_EQ(FlashDigest(Report.Flash, {0x10000, 0x10001}), "");
    EXPECT_TRUE(Report.UpdaterFaults.empty());
}

TEST(UnitSimBoot, RefusesWhatARealBootloaderWould) {
    TRunningUnit Unit(InBoot());
    const TBytes Block(128, 0xA5);
    struct TRefused {
        TBytes Request;
        std::string Fault;
    };
    const std::vector<TRefused> Cases = {
        {Write(0x2000, Block), "not erased"},
        {Erase(0x0600), "outside"},
        {Erase(0x0900), "not at the start"},
        {Frame(0x03, 8, {0x00, 0x00, 0x01}), "outside"}, // 0x10000
        {Frame(0x08, 2), "command 0x08 count 2"},
        {Frame(0x00, 1), "command 0x00 count 1"},
        {Frame(0x05, 1, {0xFF, 0x03, 0x00, 0x01}), "FF 03 00 00"},
        {Frame(0x07, 0), "unknown command"},
        {FromHex("10 02 00 02 FD 10 03"), "bad checksum"},
    };
    for (const TRefused& Case : Cases) {
        const size_t Before = Unit.Unit.Report().UpdaterFaults.size();
        Unit.Line.Write(Case.Request);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return Unit.Unit.Report().UpdaterFaults.size() > Before; }, 2000));
        EXPECT_TRUE(HasFault(Unit.Unit.Report(), Case.Fault)) << Case.Fault;
        EXPECT_TRUE(Unit.Line.ReadUntilQuiet(100).empty()) << ToHex(Case.Request);
    }
    // A block may be written once after its page's erase, and not across into 0x10000.
    Unit.Line.Write(Erase(0x2000));
    ASSERT_FALSE(ReadFrame(Unit.Line).empty());
    EXPECT_EQ(Unit.Line.Ask(Write(0x2000, Block), 9).size(), 9u);
    Unit.Line.Write(Write(0x2000, Block));
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    EXPECT_TRUE(HasFault(Unit.Unit.Report(), "second time"));
    Unit.Line.Write(Write(0x2040, Block));
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    EXPECT_EQ(Unit.Unit.Report().Writes, 1u);
}

TEST(UnitSimBoot, EraseStateDoesNotOutliveTheBootSession) {
    TRunningUnit Unit(InBoot());
    Unit.Line.Write(Erase(0x0800));
    ASSERT_FALSE(ReadFrame(Unit.Line).empty());
    EXPECT_EQ(ToHex(Unit.Line.Ask(Frame(0x00, 0), 7)), "10 02 00 00 00 10 03");
    // Restarted without leaving boot mode: back in the bootloader, a new session.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Unit.Unit.Report().BootEntries == 2; }, 2000));
    const TUnitSimReport Report = Unit.Unit.Report();
    EXPECT_EQ(Report.Mode, TUnitMode::Boot);
    EXPECT_TRUE(HasFault(Report, "without leaving boot mode"));
    Unit.Line.Write(Write(0x0800, TBytes(128, 1)));
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet(NoReplyMs).empty());
}

TEST(UnitSimBoot, LeaveAndRestartRunsTheNewFirmware) {
    TUnitSimConfig Config = InBoot();
    Config.FirmwareVersion = 140;
    Config.FirmwareVersionAfter = 150;
    TRunningUnit Unit(Config);
    Unit.Line.Write(Erase(0x0800));
    ASSERT_FALSE(ReadFrame(Unit.Line).empty());
    ASSERT_EQ(Unit.Line.Ask(Write(0x0800, TBytes(128, 0x42)), 9).size(), 9u);
    EXPECT_EQ(ToHex(Unit.Line.Ask(Frame(0x05, 1, {0xFF, 0x03, 0x00, 0x00}), 8)),
              ToHex(Frame(0x05, 1, {0x00})));
    EXPECT_EQ(ToHex(Unit.Line.Ask(Frame(0x00, 0), 7)), "10 02 00 00 00 10 03");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Unit.Unit.Mode() == TUnitMode::Running; }, 2000));
    ASSERT_TRUE(Unit.Line.SetRate(9600));
    EXPECT_EQ(ToHex(Unit.Line.Ask(FromHex("13 03 00 14 00 02 87 7D"), 9)),
              "13 03 04 15 8C 00 96 8D BB");
    const TUnitSimReport Report = Unit.Unit.Report();
    EXPECT_EQ(Report.Restarts, 1u);
    EXPECT_TRUE(Report.UpdaterFaults.empty());
    EXPECT_EQ(Report.Registers.at({17, 24}), 17024) << "settings kept by default";
}

TEST(UnitSimBoot, Model5468CrossingVersion110LosesItsSettingsUntilRestored) {
    TUnitSimConfig Config;
    Config.ModelNumber = 5468;
    Config.FirmwareVersion = 105;
    Config.FirmwareVersionAfter = 150;
    TRunningUnit Unit(Config);
    Unit.Line.Ask(WithCrc({19, 103, 0, 29, 0x14, 0x3F}), 8);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Unit.Unit.Mode() == TUnitMode::Boot; }, 2000));
    ASSERT_TRUE(Unit.Line.SetRate(115200));
    Unit.Line.Write(Erase(0x0800));
    ASSERT_FALSE(ReadFrame(Unit.Line).empty());
    Unit.Line.Ask(Write(0x0800, TBytes(128, 0)), 9);
    Unit.Line.Ask(Frame(0x05, 1, {0xFF, 0x03, 0x00, 0x00}), 8);
    Unit.Line.Ask(Frame(0x00, 0), 7);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Unit.Unit.Mode() == TUnitMode::Running; }, 2000));
    TUnitSimReport Report = Unit.Unit.Report();
    EXPECT_EQ(Report.Registers.at({17, 24}), 0);
    EXPECT_EQ(Report.Registers.at({20, 28}), 0);
    EXPECT_EQ(Report.Registers.at({19, 21}), 150);
    ASSERT_TRUE(Unit.Line.SetRate(9600));
    Unit.Line.Ask(WithCrc({17, 103, 0, 24, 0x42, 0x80}), 8);
    Unit.Line.Ask(WithCrc({19, 103, 0, 29, 0x0F, 0x7A}), 8); // commit
    Report = Unit.Unit.Report();
    EXPECT_EQ(Report.Commits, 1u);
    EXPECT_EQ(Report.CommittedSettings.at({17, 24}), 17024);
    EXPECT_EQ(Report.CommittedSettings.at({19, 22}), 0);
}

TEST(UnitSimBoot, GarbageAndBrokenFramesNeverStopIt) {
    TRunningUnit Unit(InBoot());
    std::mt19937 Random(7);
    TBytes Garbage(20000);
    for (uint8_t& Byte : Garbage) {
        Byte = static_cast<uint8_t>(Random());
    }
    // Sprinkle frame starts so the deframer sees many starts, aborts and bad escapes.
    for (size_t At = 0; At + 1 < Garbage.size(); At += 97) {
        Garbage[At] = DLE;
        Garbage[At + 1] = STX;
    }
    Unit.Line.Write(Garbage);
    Unit.Line.ReadUntilQuiet(NoReplyMs); // whatever a stray good frame got
    // A frame cut short by a silence, then a whole one.
    Unit.Line.Write(FromHex("10 02 00 02"));
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    EXPECT_EQ(ToHex(Unit.Line.Ask(FromHex("10 02 00 02 FE 10 03"), 9)),
              "10 02 00 02 15 8C 5D 10 03");

    ASSERT_TRUE(Unit.Line.SetRate(9600));
    Unit.Line.Write(Garbage); // at the wrong rate: all ignored
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    EXPECT_EQ(Unit.Unit.Mode(), TUnitMode::Boot);
}

TEST(UnitSimBoot, ModbusGarbageNeverStopsIt) {
    TRunningUnit Unit;
    std::mt19937 Random(11);
    TBytes Garbage(20000);
    for (uint8_t& Byte : Garbage) {
        Byte = static_cast<uint8_t>(Random());
    }
    Unit.Line.Write(Garbage);
    Unit.Line.ReadUntilQuiet(NoReplyMs);
    EXPECT_EQ(Unit.Line.Ask(FromHex("13 03 00 14 00 02 87 7D"), 9).size(), 9u);
}
