// The bootloader: golden frames, the flash model's rules, leaving boot mode and restart.
#include "tests/unitsim/BootRequests.h"
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
    TUnitSimConfig config;
    config.ModelNumber = Model;
    config.StartMode = TUnitMode::Boot;
    return config;
}

TBytes Write(uint32_t Address, const TBytes& Block) {
    TBytes payload{static_cast<uint8_t>(Address), static_cast<uint8_t>(Address >> 8), 0};
    payload.insert(payload.end(), Block.begin(), Block.end());
    return Frame(0x02, 2, payload);
}

// Reads one reply frame, up to its DLE ETX (a doubled DLE is no end).
TBytes ReadFrame(TPtyClient& Line) {
    TBytes received;
    while (true) {
        const TBytes byte = Line.ReadCount(1, 1000);
        if (byte.empty()) {
            return received;
        }
        received.push_back(byte[0]);
        size_t dles = 0;
        for (size_t at = received.size() - 1; at > 0 && received[at - 1] == DLE; --at) {
            ++dles;
        }
        if (received.size() >= 4 && received.back() == ETX && dles % 2 == 1) {
            return received;
        }
    }
}

bool HasFault(const TUnitSimReport& Report, const std::string& Text) {
    for (const std::string& fault : Report.UpdaterFaults) {
        if (fault.find(Text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(UnitSimBoot, GoldenModelAndIdentityReplies) {
    TRunningUnit unit(InBoot());
    EXPECT_EQ(ToHex(unit.Line.Ask(FromHex("10 02 00 02 FE 10 03"), 9)),
              "10 02 00 02 15 8C 5D 10 03");
    const TBytes identity = unit.Line.Ask(Frame(0x08, 4), 11);
    EXPECT_EQ(ToHex(identity), ToHex(Frame(0x08, 4, {0x15, 0x8C, 0x00, 0x96})));
    EXPECT_TRUE(unit.Line.ReadUntilQuiet().empty());
}

TEST(UnitSimBoot, GoldenEraseRequestsEraseTheirPages) {
    TRunningUnit unit(InBoot());
    EXPECT_EQ(ToHex(Erase(0x0800)), "10 02 03 08 00 08 00 ED 10 03");
    EXPECT_EQ(ToHex(Erase(0x1000)), "10 02 03 08 00 10 10 00 E5 10 03");
    for (uint32_t address : {0x0800u, 0x1000u}) {
        unit.Line.Write(Erase(address));
        const TBytes reply = ReadFrame(unit.Line);
        const TBytes body = UnstuffBootFrame(reply.data(), reply.size());
        ASSERT_EQ(body.size(), 13u) << ToHex(reply); // STX 03 08 + 8 data + sum + ETX
        EXPECT_EQ(body[1], 0x03);
        EXPECT_EQ(body[2], 8);
        uint8_t sum = 0;
        for (size_t at = 1; at + 1 < body.size(); ++at) {
            sum = static_cast<uint8_t>(sum + body[at]);
        }
        EXPECT_EQ(sum, 0);
    }
    const TUnitSimReport report = unit.Unit.Report();
    EXPECT_EQ(report.Erases, 2u);
    for (uint32_t at = 0x0800; at < 0x0A00; ++at) {
        ASSERT_EQ(report.Flash[at], 0xFF);
    }
    EXPECT_EQ(report.Flash[0x1000], 0xFF);
    EXPECT_EQ(report.Flash[0x11FF], 0xFF);
    EXPECT_EQ(report.Flash[0x0A00], TFlashModel::PatternByte(0x0A00)) << "the next page is kept";
    EXPECT_EQ(report.Flash[0x07FF], TFlashModel::PatternByte(0x07FF));
}

TEST(UnitSimBoot, WrittenBlockLandsAndIsDigested) {
    TRunningUnit unit(InBoot());
    unit.Line.Write(Erase(0x0C00));
    ASSERT_FALSE(ReadFrame(unit.Line).empty());
    TBytes block(128);
    for (size_t at = 0; at < block.size(); ++at) {
        block[at] = static_cast<uint8_t>(at % 3 == 0 ? DLE : at); // stuffed on the wire
    }
    const TBytes request = Write(0x0C80, block);
    EXPECT_GT(request.size(), 4u + 3 + 128 + 3 + 40);
    const TBytes reply = unit.Line.Ask(request, 9);
    EXPECT_EQ(reply.size(), 9u) << ToHex(reply);
    const TUnitSimReport report = unit.Unit.Report();
    EXPECT_EQ(report.Writes, 1u);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), report.Flash.begin() + 0x0C80));
    EXPECT_EQ(FlashDigest(report.Flash, {0x0C80, 0x0CFF}), FlashDigest(block, {0, 127}));
    EXPECT_EQ(FlashDigest(report.Flash, {0x10000, 0x10001}), "");
    EXPECT_TRUE(report.UpdaterFaults.empty());
}

TEST(UnitSimBoot, RefusesWhatARealBootloaderWould) {
    TRunningUnit unit(InBoot());
    const TBytes block(128, 0xA5);
    struct TRefused {
        TBytes Request;
        std::string Fault;
    };
    const std::vector<TRefused> cases = {
        {Write(0x2000, block), "not erased"},
        {Erase(0x0600), "outside"},
        {Erase(0x0900), "not at the start"},
        {Frame(0x03, 8, {0x00, 0x00, 0x01}), "outside"}, // 0x10000
        {Frame(0x08, 2), "command 0x08 count 2"},
        {Frame(0x00, 1), "command 0x00 count 1"},
        {Frame(0x05, 1, {0xFF, 0x03, 0x00, 0x01}), "FF 03 00 00"},
        {Frame(0x07, 0), "unknown command"},
        {FromHex("10 02 00 02 FD 10 03"), "bad checksum"},
    };
    for (const TRefused& refused : cases) {
        const size_t before = unit.Unit.Report().UpdaterFaults.size();
        unit.Line.Write(refused.Request);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return unit.Unit.Report().UpdaterFaults.size() > before; }, 2000));
        EXPECT_TRUE(HasFault(unit.Unit.Report(), refused.Fault)) << refused.Fault;
        EXPECT_TRUE(unit.Line.ReadUntilQuiet(100).empty()) << ToHex(refused.Request);
    }
    // A block may be written once after its page's erase, and not across into 0x10000.
    unit.Line.Write(Erase(0x2000));
    ASSERT_FALSE(ReadFrame(unit.Line).empty());
    EXPECT_EQ(unit.Line.Ask(Write(0x2000, block), 9).size(), 9u);
    unit.Line.Write(Write(0x2000, block));
    EXPECT_TRUE(unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    EXPECT_TRUE(HasFault(unit.Unit.Report(), "second time"));
    unit.Line.Write(Write(0x2040, block));
    EXPECT_TRUE(unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    EXPECT_EQ(unit.Unit.Report().Writes, 1u);
}

TEST(UnitSimBoot, EraseStateDoesNotOutliveTheBootSession) {
    TRunningUnit unit(InBoot());
    unit.Line.Write(Erase(0x0800));
    ASSERT_FALSE(ReadFrame(unit.Line).empty());
    EXPECT_EQ(ToHex(unit.Line.Ask(Frame(0x00, 0), 7)), "10 02 00 00 00 10 03");
    // Restarted without leaving boot mode: back in the bootloader, a new session.
    ASSERT_TRUE(QTest::qWaitFor([&] { return unit.Unit.Report().BootEntries == 2; }, 2000));
    const TUnitSimReport report = unit.Unit.Report();
    EXPECT_EQ(report.Mode, TUnitMode::Boot);
    EXPECT_TRUE(HasFault(report, "without leaving boot mode"));
    unit.Line.Write(Write(0x0800, TBytes(128, 1)));
    EXPECT_TRUE(unit.Line.ReadUntilQuiet(NoReplyMs).empty());
}

TEST(UnitSimBoot, LeaveAndRestartRunsTheNewFirmware) {
    TUnitSimConfig config = InBoot();
    config.FirmwareVersion = 140;
    config.FirmwareVersionAfter = 150;
    TRunningUnit unit(config);
    unit.Line.Write(Erase(0x0800));
    ASSERT_FALSE(ReadFrame(unit.Line).empty());
    ASSERT_EQ(unit.Line.Ask(Write(0x0800, TBytes(128, 0x42)), 9).size(), 9u);
    EXPECT_EQ(ToHex(unit.Line.Ask(Frame(0x05, 1, {0xFF, 0x03, 0x00, 0x00}), 8)),
              ToHex(Frame(0x05, 1, {0x00})));
    EXPECT_EQ(ToHex(unit.Line.Ask(Frame(0x00, 0), 7)), "10 02 00 00 00 10 03");
    ASSERT_TRUE(QTest::qWaitFor([&] { return unit.Unit.Mode() == TUnitMode::Running; }, 2000));
    ASSERT_TRUE(unit.Line.SetRate(9600));
    EXPECT_EQ(ToHex(unit.Line.Ask(FromHex("13 03 00 14 00 02 87 7D"), 9)),
              "13 03 04 15 8C 00 96 8D BB");
    const TUnitSimReport report = unit.Unit.Report();
    EXPECT_EQ(report.Restarts, 1u);
    EXPECT_TRUE(report.UpdaterFaults.empty());
    EXPECT_EQ(report.Registers.at({17, 24}), 17024) << "settings kept by default";
}

TEST(UnitSimBoot, Model5468CrossingVersion110LosesItsSettingsUntilRestored) {
    TUnitSimConfig config;
    config.ModelNumber = 5468;
    config.FirmwareVersion = 105;
    config.FirmwareVersionAfter = 150;
    TRunningUnit unit(config);
    unit.Line.Ask(WithCrc({19, 103, 0, 29, 0x14, 0x3F}), 8);
    ASSERT_TRUE(QTest::qWaitFor([&] { return unit.Unit.Mode() == TUnitMode::Boot; }, 2000));
    ASSERT_TRUE(unit.Line.SetRate(115200));
    unit.Line.Write(Erase(0x0800));
    ASSERT_FALSE(ReadFrame(unit.Line).empty());
    unit.Line.Ask(Write(0x0800, TBytes(128, 0)), 9);
    unit.Line.Ask(Frame(0x05, 1, {0xFF, 0x03, 0x00, 0x00}), 8);
    unit.Line.Ask(Frame(0x00, 0), 7);
    ASSERT_TRUE(QTest::qWaitFor([&] { return unit.Unit.Mode() == TUnitMode::Running; }, 2000));
    TUnitSimReport report = unit.Unit.Report();
    EXPECT_EQ(report.Registers.at({17, 24}), 0);
    EXPECT_EQ(report.Registers.at({20, 28}), 0);
    EXPECT_EQ(report.Registers.at({19, 21}), 150);
    ASSERT_TRUE(unit.Line.SetRate(9600));
    unit.Line.Ask(WithCrc({17, 103, 0, 24, 0x42, 0x80}), 8);
    unit.Line.Ask(WithCrc({19, 103, 0, 29, 0x0F, 0x7A}), 8); // commit
    report = unit.Unit.Report();
    EXPECT_EQ(report.Commits, 1u);
    EXPECT_EQ(report.CommittedSettings.at({17, 24}), 17024);
    EXPECT_EQ(report.CommittedSettings.at({19, 22}), 0);
}

TEST(UnitSimBoot, GarbageAndBrokenFramesNeverStopIt) {
    TRunningUnit unit(InBoot());
    std::mt19937 random(7);
    TBytes garbage(20000);
    for (uint8_t& byte : garbage) {
        byte = static_cast<uint8_t>(random());
    }
    // Sprinkle frame starts so the deframer sees many starts, aborts and bad escapes.
    for (size_t at = 0; at + 1 < garbage.size(); at += 97) {
        garbage[at] = DLE;
        garbage[at + 1] = STX;
    }
    unit.Line.Write(garbage);
    unit.Line.ReadUntilQuiet(NoReplyMs); // whatever a stray good frame got
    // A frame cut short by a silence, then a whole one.
    unit.Line.Write(FromHex("10 02 00 02"));
    EXPECT_TRUE(unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    EXPECT_EQ(ToHex(unit.Line.Ask(FromHex("10 02 00 02 FE 10 03"), 9)),
              "10 02 00 02 15 8C 5D 10 03");

    ASSERT_TRUE(unit.Line.SetRate(9600));
    unit.Line.Write(garbage); // at the wrong rate: all ignored
    EXPECT_TRUE(unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    EXPECT_EQ(unit.Unit.Mode(), TUnitMode::Boot);
}

TEST(UnitSimBoot, ModbusGarbageNeverStopsIt) {
    TRunningUnit unit;
    std::mt19937 random(11);
    TBytes garbage(20000);
    for (uint8_t& byte : garbage) {
        byte = static_cast<uint8_t>(random());
    }
    unit.Line.Write(garbage);
    unit.Line.ReadUntilQuiet(NoReplyMs);
    EXPECT_EQ(unit.Line.Ask(FromHex("13 03 00 14 00 02 87 7D"), 9).size(), 9u);
}
