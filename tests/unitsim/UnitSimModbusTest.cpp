// The running firmware's Modbus side, driven through the pty at 9,600 baud.
#include "tests/unitsim/PtyClient.h"

#include <QTest>

#include <gtest/gtest.h>

namespace {

constexpr int NoReplyMs = 300;

TBytes Read(uint8_t Slave, uint16_t First, uint16_t Count) {
    return WithCrc({Slave, 3, static_cast<uint8_t>(First >> 8), static_cast<uint8_t>(First),
                    static_cast<uint8_t>(Count >> 8), static_cast<uint8_t>(Count)});
}

TBytes WriteOne(uint8_t Slave, uint8_t Function, uint16_t Register, uint16_t Value) {
    return WithCrc({Slave, Function, static_cast<uint8_t>(Register >> 8),
                    static_cast<uint8_t>(Register), static_cast<uint8_t>(Value >> 8),
                    static_cast<uint8_t>(Value)});
}

TBytes WriteMany(uint8_t Slave, uint16_t First, const std::vector<uint16_t>& Values) {
    TBytes Frame{Slave,
                 104,
                 static_cast<uint8_t>(First >> 8),
                 static_cast<uint8_t>(First),
                 0,
                 static_cast<uint8_t>(Values.size()),
                 static_cast<uint8_t>(2 * Values.size())};
    for (uint16_t Value : Values) {
        Frame.push_back(static_cast<uint8_t>(Value >> 8));
        Frame.push_back(static_cast<uint8_t>(Value));
    }
    return WithCrc(Frame);
}

} // namespace

TEST(UnitSimModbus, IdentityReadGetsModelAndVersion) {
    TUnitSimConfig Config;
    Config.FirmwareVersion = 140;
    TRunningUnit Unit(Config);
    const TBytes Request = FromHex("13 03 00 14 00 02 87 7D");
    EXPECT_EQ(Read(19, 20, 2), Request); // the request the updater sends
    EXPECT_EQ(ToHex(Unit.Line.Ask(Request, 9)), "13 03 04 15 8C 00 8C 0C 70");
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet().empty()) << "nothing after the reply";
}

TEST(UnitSimModbus, SettingsBlocksReadWithTheirLengths) {
    TRunningUnit Unit;
    const TBytes Block1 = Unit.Line.Ask(Read(17, 24, 1), 7);
    EXPECT_EQ(ToHex(Block1).substr(0, 14), "11 03 02 42 80"); // 17024
    const TBytes Block2 = Unit.Line.Ask(Read(19, 22, 11), 27);
    ASSERT_EQ(Block2.size(), 27u);
    EXPECT_EQ(Block2[2], 22);
    EXPECT_EQ(Block2[3] << 8 | Block2[4], 19022);
    const TBytes Block3 = Unit.Line.Ask(Read(20, 7, 22), 49);
    ASSERT_EQ(Block3.size(), 49u);
    EXPECT_EQ(Block3[45] << 8 | Block3[46], 20028);
    EXPECT_EQ(WithCrc(TBytes(Block3.begin(), Block3.end() - 2)), Block3);
}

TEST(UnitSimModbus, ExceptionRepliesForWhatTheUnitDoesNotKnow) {
    TRunningUnit Unit;
    // Register 33 of slave 19 does not exist; a read running into it fails whole.
    EXPECT_EQ(ToHex(Unit.Line.Ask(Read(19, 32, 2), 5)), "13 83 02 60 F4");
    EXPECT_EQ(ToHex(Unit.Line.Ask(Read(19, 20, 0), 5)), "13 83 03 A1 34");
    // Function 4 has no fixed length: the request ends with the silence after it.
    EXPECT_EQ(ToHex(Unit.Line.Ask(FromHex("13 04 00 14 00 02 32 BD"), 5)), "13 84 01 22 C5");
    // 16 is framed like 104 but this unit only takes 104.
    TBytes Standard = WriteMany(19, 22, {1});
    Standard[1] = 16;
    Standard = WithCrc(TBytes(Standard.begin(), Standard.end() - 2));
    EXPECT_EQ(ToHex(Unit.Line.Ask(Standard, 5)), "13 90 01 2D C5");
    // The model register is read-only.
    EXPECT_EQ(ToHex(Unit.Line.Ask(WriteOne(19, 6, 20, 1), 5)), "13 86 02 63 A4");
}

TEST(UnitSimModbus, SilentForBroadcastOtherSlavesAndBadCrc) {
    TRunningUnit Unit;
    Unit.Line.Write(Read(0, 20, 2));
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    Unit.Line.Write(Read(90, 20, 2));
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    Unit.Line.Write(FromHex("13 03 00 14 00 02 87 7E"));
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    // Still listening afterwards.
    EXPECT_EQ(Unit.Line.Ask(Read(19, 20, 2), 9).size(), 9u);
}

TEST(UnitSimModbus, BroadcastWriteIsActedOnButNotAnswered) {
    TRunningUnit Unit;
    Unit.Line.Write(WriteOne(0, 103, 24, 4242));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return Unit.Unit.Report().Registers.at({17, 24}) == 4242;
        },
        2000));
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet(NoReplyMs).empty());
}

TEST(UnitSimModbus, FindsTheRequestBehindGarbageAndDropsAPartialOne) {
    TRunningUnit Unit;
    TBytes Noisy = FromHex("FF 13 06 55");
    const TBytes Request = Read(19, 20, 2);
    Noisy.insert(Noisy.end(), Request.begin(), Request.end());
    EXPECT_EQ(Unit.Line.Ask(Noisy, 9).size(), 9u);

    // Half a request, a silence, then a whole one: only the whole one is answered.
    Unit.Line.Write(TBytes(Request.begin(), Request.begin() + 4));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const TUnitSimReport Report = Unit.Unit.Report();
            return Report.Frames.back().Verdict.find("silence") != std::string::npos;
        },
        2000));
    EXPECT_EQ(Unit.Line.Ask(Request, 9).size(), 9u);
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet(NoReplyMs).empty());
}

TEST(UnitSimModbus, WritesEchoAndStoreTheSettings) {
    TRunningUnit Unit;
    const TBytes One = WriteOne(17, 103, 24, 7);
    EXPECT_EQ(Unit.Line.Ask(One, 8), One);
    std::vector<uint16_t> Block(11, 0);
    for (uint16_t Index = 0; Index < 11; ++Index) {
        Block[Index] = static_cast<uint16_t>(100 + Index);
    }
    const TBytes Many = WriteMany(19, 22, Block);
    EXPECT_EQ(ToHex(Unit.Line.Ask(Many, 8)),
              ToHex(WithCrc(TBytes(Many.begin(), Many.begin() + 6))));
    const TUnitSimReport Report = Unit.Unit.Report();
    EXPECT_EQ(Report.Registers.at({17, 24}), 7);
    EXPECT_EQ(Report.Registers.at({19, 22}), 100);
    EXPECT_EQ(Report.Registers.at({19, 32}), 110);
    EXPECT_TRUE(Report.UpdaterFaults.empty());
}

TEST(UnitSimModbus, CommitValueCommitsOnlyByFunction103) {
    TRunningUnit Unit;
    const TBytes Wrong = WriteOne(19, 6, 29, 3962);
    EXPECT_EQ(Unit.Line.Ask(Wrong, 8), Wrong);
    EXPECT_EQ(Unit.Unit.Report().Commits, 0u);
    EXPECT_EQ(Unit.Unit.Report().UpdaterFaults.size(), 1u);

    EXPECT_EQ(Unit.Line.Ask(WriteOne(17, 103, 24, 99), 8).size(), 8u);
    const TBytes Commit = WriteOne(19, 103, 29, 3962);
    EXPECT_EQ(Unit.Line.Ask(Commit, 8), Commit);
    const TUnitSimReport Report = Unit.Unit.Report();
    EXPECT_EQ(Report.Commits, 1u);
    EXPECT_EQ(Report.CommittedSettings.at({17, 24}), 99);
    EXPECT_EQ(Report.CommittedSettings.size(), 1u + 11u + 22u);
    // The commit value is a command, not a setting.
    EXPECT_EQ(Report.Registers.at({19, 29}), 19029);
}

TEST(UnitSimModbus, CommandValueInAMultipleWriteIsAFault) {
    TRunningUnit Unit;
    std::vector<uint16_t> Block(11, 5);
    Block[7] = 5183; // register 29 must be cleared before a restore
    EXPECT_EQ(Unit.Line.Ask(WriteMany(19, 22, Block), 8).size(), 8u);
    const TUnitSimReport Report = Unit.Unit.Report();
    EXPECT_EQ(Report.Mode, TUnitMode::Running);
    ASSERT_EQ(Report.UpdaterFaults.size(), 1u);
    EXPECT_EQ(Report.Registers.at({19, 29}), 19029);
    EXPECT_EQ(Report.Registers.at({19, 30}), 5);
}

TEST(UnitSimModbus, RequestAtTheBootloaderRateIsNotHeard) {
    TRunningUnit Unit;
    ASSERT_TRUE(Unit.Line.SetRate(115200));
    Unit.Line.Write(Read(19, 20, 2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Unit.Unit.Report().Frames.empty(); }, 2000));
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    const TUnitSimReport Report = Unit.Unit.Report();
    ASSERT_FALSE(Report.Frames.empty());
    EXPECT_EQ(Report.Frames.back().Rate, 115200u);
    EXPECT_NE(Report.Frames.back().Verdict.find("wrong rate"), std::string::npos);
    // Back at 9,600 it answers; 9,650 (within 1 %) is as good.
    ASSERT_TRUE(Unit.Line.SetRate(9650));
    EXPECT_EQ(Unit.Line.Ask(Read(19, 20, 2), 9).size(), 9u);
}
