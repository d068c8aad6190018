// Switching into the bootloader: every model's method, and what must not switch.
#include "tests/unitsim/PtyClient.h"

#include <QTest>

#include <gtest/gtest.h>

namespace {

constexpr int NoReplyMs = 300;

struct TStep {
    uint8_t Slave;
    uint8_t Function;
    uint16_t Register;
};

struct TMethodCase {
    uint16_t Model;
    std::vector<TStep> Steps;
    uint8_t OperatorSlave = 1;
};

TBytes KeyRequest(const TStep& Step, uint16_t Value = 5183) {
    return WithCrc({Step.Slave, Step.Function, static_cast<uint8_t>(Step.Register >> 8),
                    static_cast<uint8_t>(Step.Register), static_cast<uint8_t>(Value >> 8),
                    static_cast<uint8_t>(Value)});
}

TBytes ModelRequest() {
    return FromHex("10 02 00 02 FE 10 03");
}

// Model number reply: 10 02 00 02 hi lo checksum 10 03 (no DLE among these models).
std::string ModelReply(uint16_t Model) {
    const uint8_t Hi = static_cast<uint8_t>(Model >> 8);
    const uint8_t Lo = static_cast<uint8_t>(Model);
    return ToHex(
        {0x10, 0x02, 0x00, 0x02, Hi, Lo, static_cast<uint8_t>(0x100 - 2 - Hi - Lo), 0x10, 0x03});
}

class UnitSimSwitch : public testing::TestWithParam<TMethodCase> {};

} // namespace

TEST_P(UnitSimSwitch, KeyByTheModelsMethodSwitchesAfterTheReply) {
    const TMethodCase& Case = GetParam();
    TUnitSimConfig Config;
    Config.ModelNumber = Case.Model;
    Config.OperatorSlave = Case.OperatorSlave;
    TRunningUnit Unit(Config);
    for (const TStep& Step : Case.Steps) {
        const TBytes Request = KeyRequest(Step);
        Unit.Line.Write(Request);
        if (Step.Slave == 0) {
            EXPECT_TRUE(Unit.Line.ReadUntilQuiet(NoReplyMs).empty()) << "a broadcast is silent";
        } else {
            EXPECT_EQ(ToHex(Unit.Line.ReadCount(8)), ToHex(Request));
        }
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return Unit.Unit.Mode() == TUnitMode::Boot; }, 2000));
    ASSERT_TRUE(Unit.Line.SetRate(BootRateOf(Case.Model)));
    EXPECT_EQ(ToHex(Unit.Line.Ask(ModelRequest(), 9)), ModelReply(Case.Model));
    EXPECT_TRUE(Unit.Unit.Report().UpdaterFaults.empty());
}

INSTANTIATE_TEST_SUITE_P(
    EveryMethod, UnitSimSwitch,
    testing::Values(TMethodCase{5516, {{19, 103, 29}}}, TMethodCase{5531, {{19, 103, 29}}},
                    TMethodCase{5396, {{1, 6, 156}, {0, 6, 156}}},
                    TMethodCase{5483, {{1, 6, 156}, {0, 6, 156}}},
                    TMethodCase{5424, {{242, 6, 13}}}, TMethodCase{5448, {{1, 103, 8}}},
                    TMethodCase{5466, {{1, 103, 8}, {2, 103, 5}}},
                    TMethodCase{5599, {{77, 6, 151}}, 77}, TMethodCase{5623, {{1, 103, 2}}}),
    [](const testing::TestParamInfo<TMethodCase>& Info) {
        return "Model" + std::to_string(Info.param.Model);
    });

TEST(UnitSimSwitchRefused, AnotherModelsMethodDoesNotSwitch) {
    TRunningUnit Unit; // 5516
    Unit.Line.Write(KeyRequest({1, 6, 156}));
    Unit.Line.Write(KeyRequest({0, 6, 156}));
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet(NoReplyMs).empty()) << "no slave 1 on this unit";
    // The right register by the wrong function: echoed as a write, recorded, not obeyed.
    const TBytes ByFunction6 = KeyRequest({19, 6, 29});
    EXPECT_EQ(Unit.Line.Ask(ByFunction6, 8), ByFunction6);
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    const TUnitSimReport Report = Unit.Unit.Report();
    EXPECT_EQ(Report.Mode, TUnitMode::Running);
    EXPECT_EQ(Report.UpdaterFaults.size(), 1u);
    EXPECT_EQ(Report.BootEntries, 0u);
}

TEST(UnitSimSwitchRefused, TwoRequestMethodBrokenByAnotherRequestDoesNotSwitch) {
    TUnitSimConfig Config;
    Config.ModelNumber = 5466;
    TRunningUnit Unit(Config);
    EXPECT_EQ(Unit.Line.Ask(KeyRequest({1, 103, 8}), 8).size(), 8u);
    EXPECT_EQ(Unit.Line.Ask(FromHex("13 03 00 14 00 02 87 7D"), 9).size(), 9u);
    EXPECT_EQ(Unit.Line.Ask(KeyRequest({2, 103, 5}), 8).size(), 8u);
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    EXPECT_EQ(Unit.Unit.Mode(), TUnitMode::Running);
    // The second request alone does not switch either; the pair in order does.
    EXPECT_EQ(Unit.Line.Ask(KeyRequest({1, 103, 8}), 8).size(), 8u);
    EXPECT_EQ(Unit.Line.Ask(KeyRequest({2, 103, 5}), 8).size(), 8u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Unit.Unit.Mode() == TUnitMode::Boot; }, 2000));
}

TEST(UnitSimSwitchRefused, Model5479StartsInItsBootloader) {
    TUnitSimConfig Config;
    Config.ModelNumber = 5479;
    TRunningUnit Unit(Config);
    EXPECT_EQ(Unit.Unit.Mode(), TUnitMode::Boot);
    EXPECT_EQ(ToHex(Unit.Line.Ask(ModelRequest(), 9)), ModelReply(5479));
    ASSERT_TRUE(Unit.Line.SetRate(9600));
    Unit.Line.Write(FromHex("13 03 00 14 00 02 87 7D"));
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet(NoReplyMs).empty());
}

TEST(UnitSimSwitchRefused, Model5466ListensAt800000Then92160) {
    TUnitSimConfig Config;
    Config.ModelNumber = 5466;
    TRunningUnit Unit(Config);
    ASSERT_TRUE(Unit.Line.SetRate(9600));
    Unit.Line.Write(FromHex("13 03 00 14 00 02 87 7D"));
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    ASSERT_TRUE(Unit.Line.SetRate(800000));
    EXPECT_EQ(Unit.Line.Ask(FromHex("13 03 00 14 00 02 87 7D"), 9).size(), 9u);
    Unit.Line.Ask(KeyRequest({1, 103, 8}), 8);
    Unit.Line.Ask(KeyRequest({2, 103, 5}), 8);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Unit.Unit.Mode() == TUnitMode::Boot; }, 2000));
    ASSERT_TRUE(Unit.Line.SetRate(115200));
    Unit.Line.Write(ModelRequest());
    EXPECT_TRUE(Unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    ASSERT_TRUE(Unit.Line.SetRate(92160));
    EXPECT_EQ(ToHex(Unit.Line.Ask(ModelRequest(), 9)), ModelReply(5466));
}
