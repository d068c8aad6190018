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
    TBytes frame{Slave,
                 104,
                 static_cast<uint8_t>(First >> 8),
                 static_cast<uint8_t>(First),
                 0,
                 static_cast<uint8_t>(Values.size()),
                 static_cast<uint8_t>(2 * Values.size())};
    for (uint16_t value : Values) {
        frame.push_back(static_cast<uint8_t>(value >> 8));
        frame.push_back(static_cast<uint8_t>(value));
    }
    return WithCrc(frame);
}

} // namespace

TEST(UnitSimModbus, IdentityReadGetsModelAndVersion) {
    TUnitSimConfig config;
    config.FirmwareVersion = 140;
    TRunningUnit unit(config);
    const TBytes request = FromHex("13 03 00 14 00 02 87 7D");
    EXPECT_EQ(Read(19, 20, 2), request); // the request the updater sends
    EXPECT_EQ(ToHex(unit.Line.Ask(request, 9)), "13 03 04 15 8C 00 8C 0C 70");
    EXPECT_TRUE(unit.Line.ReadUntilQuiet().empty()) << "nothing after the reply";
}

TEST(UnitSimModbus, SettingsBlocksReadWithTheirLengths) {
    TRunningUnit unit;
    const TBytes block1 = unit.Line.Ask(Read(17, 24, 1), 7);
    EXPECT_EQ(ToHex(block1).substr(0, 14), "11 03 02 42 80"); // 17024
    const TBytes block2 = unit.Line.Ask(Read(19, 22, 11), 27);
    ASSERT_EQ(block2.size(), 27u);
    EXPECT_EQ(block2[2], 22);
    EXPECT_EQ(block2[3] << 8 | block2[4], 19022);
    const TBytes block3 = unit.Line.Ask(Read(20, 7, 22), 49);
    ASSERT_EQ(block3.size(), 49u);
    EXPECT_EQ(block3[45] << 8 | block3[46], 20028);
    EXPECT_EQ(WithCrc(TBytes(block3.begin(), block3.end() - 2)), block3);
}

TEST(UnitSimModbus, ExceptionRepliesForWhatTheUnitDoesNotKnow) {
    TRunningUnit unit;
    // Register 33 of slave 19 does not exist; a read running into it fails whole.
    EXPECT_EQ(ToHex(unit.Line.Ask(Read(19, 32, 2), 5)), "13 83 02 60 F4");
    EXPECT_EQ(ToHex(unit.Line.Ask(Read(19, 20, 0), 5)), "13 83 03 A1 34");
    // Function 4 has no fixed length: the request ends with the silence after it.
    EXPECT_EQ(ToHex(unit.Line.Ask(FromHex("13 04 00 14 00 02 32 BD"), 5)), "13 84 01 22 C5");
    // 16 is framed like 104 but this unit only takes 104.
    TBytes standard = WriteMany(19, 22, {1});
    standard[1] = 16;
    standard = WithCrc(TBytes(standard.begin(), standard.end() - 2));
    EXPECT_EQ(ToHex(unit.Line.Ask(standard, 5)), "13 90 01 2D C5");
    // The model register is read-only.
    EXPECT_EQ(ToHex(unit.Line.Ask(WriteOne(19, 6, 20, 1), 5)), "13 86 02 63 A4");
}

TEST(UnitSimModbus, SilentForBroadcastOtherSlavesAndBadCrc) {
    TRunningUnit unit;
    unit.Line.Write(Read(0, 20, 2));
    EXPECT_TRUE(unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    unit.Line.Write(Read(90, 20, 2));
    EXPECT_TRUE(unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    unit.Line.Write(FromHex("13 03 00 14 00 02 87 7E"));
    EXPECT_TRUE(unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    // Still listening afterwards.
    EXPECT_EQ(unit.Line.Ask(Read(19, 20, 2), 9).size(), 9u);
}

TEST(UnitSimModbus, BroadcastWriteIsActedOnButNotAnswered) {
    TRunningUnit unit;
    unit.Line.Write(WriteOne(0, 103, 24, 4242));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return unit.Unit.Report().Registers.at({17, 24}) == 4242;
        },
        2000));
    EXPECT_TRUE(unit.Line.ReadUntilQuiet(NoReplyMs).empty());
}

TEST(UnitSimModbus, FindsTheRequestBehindGarbageAndDropsAPartialOne) {
    TRunningUnit unit;
    TBytes noisy = FromHex("FF 13 06 55");
    const TBytes request = Read(19, 20, 2);
    noisy.insert(noisy.end(), request.begin(), request.end());
    EXPECT_EQ(unit.Line.Ask(noisy, 9).size(), 9u);

    // Half a request, a silence, then a whole one: only the whole one is answered.
    unit.Line.Write(TBytes(request.begin(), request.begin() + 4));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const TUnitSimReport Report = unit.Unit.Report();
            return Report.Frames.back().Verdict.find("silence") != std::string::npos;
        },
        2000));
    EXPECT_EQ(unit.Line.Ask(request, 9).size(), 9u);
    EXPECT_TRUE(unit.Line.ReadUntilQuiet(NoReplyMs).empty());
}

TEST(UnitSimModbus, WritesEchoAndStoreTheSettings) {
    TRunningUnit unit;
    const TBytes one = WriteOne(17, 103, 24, 7);
    EXPECT_EQ(unit.Line.Ask(one, 8), one);
    std::vector<uint16_t> block(11, 0);
    for (uint16_t index = 0; index < 11; ++index) {
        block[index] = static_cast<uint16_t>(100 + index);
    }
    const TBytes many = WriteMany(19, 22, block);
    EXPECT_EQ(ToHex(unit.Line.Ask(many, 8)),
              ToHex(WithCrc(TBytes(many.begin(), many.begin() + 6))));
    const TUnitSimReport report = unit.Unit.Report();
    EXPECT_EQ(report.Registers.at({17, 24}), 7);
    EXPECT_EQ(report.Registers.at({19, 22}), 100);
    EXPECT_EQ(report.Registers.at({19, 32}), 110);
    EXPECT_TRUE(report.UpdaterFaults.empty());
}

TEST(UnitSimModbus, CommitValueCommitsOnlyByFunction103) {
    TRunningUnit unit;
    const TBytes wrong = WriteOne(19, 6, 29, 3962);
    EXPECT_EQ(unit.Line.Ask(wrong, 8), wrong);
    EXPECT_EQ(unit.Unit.Report().Commits, 0u);
    EXPECT_EQ(unit.Unit.Report().UpdaterFaults.size(), 1u);

    EXPECT_EQ(unit.Line.Ask(WriteOne(17, 103, 24, 99), 8).size(), 8u);
    const TBytes commit = WriteOne(19, 103, 29, 3962);
    EXPECT_EQ(unit.Line.Ask(commit, 8), commit);
    const TUnitSimReport report = unit.Unit.Report();
    EXPECT_EQ(report.Commits, 1u);
    EXPECT_EQ(report.CommittedSettings.at({17, 24}), 99);
    EXPECT_EQ(report.CommittedSettings.size(), 1u + 11u + 22u);
    // The commit value is a command, not a setting.
    EXPECT_EQ(report.Registers.at({19, 29}), 19029);
}

TEST(UnitSimModbus, CommandValueInAMultipleWriteIsAFault) {
    TRunningUnit unit;
    std::vector<uint16_t> block(11, 5);
    block[7] = 5183; // register 29 must be cleared before a restore
    EXPECT_EQ(unit.Line.Ask(WriteMany(19, 22, block), 8).size(), 8u);
    const TUnitSimReport report = unit.Unit.Report();
    EXPECT_EQ(report.Mode, TUnitMode::Running);
    ASSERT_EQ(report.UpdaterFaults.size(), 1u);
    EXPECT_EQ(report.Registers.at({19, 29}), 19029);
    EXPECT_EQ(report.Registers.at({19, 30}), 5);
}

TEST(UnitSimModbus, RequestAtTheBootloaderRateIsNotHeard) {
    TRunningUnit unit;
    ASSERT_TRUE(unit.Line.SetRate(115200));
    unit.Line.Write(Read(19, 20, 2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !unit.Unit.Report().Frames.empty(); }, 2000));
    EXPECT_TRUE(unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    const TUnitSimReport report = unit.Unit.Report();
    ASSERT_FALSE(report.Frames.empty());
    EXPECT_EQ(report.Frames.back().Rate, 115200u);
    EXPECT_NE(report.Frames.back().Verdict.find("wrong rate"), std::string::npos);
    // Back at 9,600 it answers; 9,650 (within 1 %) is as good.
    ASSERT_TRUE(unit.Line.SetRate(9650));
    EXPECT_EQ(unit.Line.Ask(Read(19, 20, 2), 9).size(), 9u);
}
