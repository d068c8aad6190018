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
    const uint8_t hi = static_cast<uint8_t>(Model >> 8);
    const uint8_t lo = static_cast<uint8_t>(Model);
    return ToHex(
        {0x10, 0x02, 0x00, 0x02, hi, lo, static_cast<uint8_t>(0x100 - 2 - hi - lo), 0x10, 0x03});
}

class UnitSimSwitch : public testing::TestWithParam<TMethodCase> {};

} // namespace

TEST_P(UnitSimSwitch, KeyByTheModelsMethodSwitchesAfterTheReply) {
    const TMethodCase& method = GetParam();
    TUnitSimConfig config;
    config.ModelNumber = method.Model;
    config.OperatorSlave = method.OperatorSlave;
    TRunningUnit unit(config);
    for (const TStep& step : method.Steps) {
        const TBytes request = KeyRequest(step);
        unit.Line.Write(request);
        if (step.Slave == 0) {
            EXPECT_TRUE(unit.Line.ReadUntilQuiet(NoReplyMs).empty()) << "a broadcast is silent";
        } else {
            EXPECT_EQ(ToHex(unit.Line.ReadCount(8)), ToHex(request));
        }
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return unit.Unit.Mode() == TUnitMode::Boot; }, 2000));
    ASSERT_TRUE(unit.Line.SetRate(BootRateOf(method.Model)));
    EXPECT_EQ(ToHex(unit.Line.Ask(ModelRequest(), 9)), ModelReply(method.Model));
    EXPECT_TRUE(unit.Unit.Report().UpdaterFaults.empty());
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
    TRunningUnit unit; // 5516
    unit.Line.Write(KeyRequest({1, 6, 156}));
    unit.Line.Write(KeyRequest({0, 6, 156}));
    EXPECT_TRUE(unit.Line.ReadUntilQuiet(NoReplyMs).empty()) << "no slave 1 on this unit";
    // The right register by the wrong function: echoed as a write, recorded, not obeyed.
    const TBytes byFunction6 = KeyRequest({19, 6, 29});
    EXPECT_EQ(unit.Line.Ask(byFunction6, 8), byFunction6);
    EXPECT_TRUE(unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    const TUnitSimReport report = unit.Unit.Report();
    EXPECT_EQ(report.Mode, TUnitMode::Running);
    EXPECT_EQ(report.UpdaterFaults.size(), 1u);
    EXPECT_EQ(report.BootEntries, 0u);
}

TEST(UnitSimSwitchRefused, TwoRequestMethodBrokenByAnotherRequestDoesNotSwitch) {
    TUnitSimConfig config;
    config.ModelNumber = 5466;
    TRunningUnit unit(config);
    EXPECT_EQ(unit.Line.Ask(KeyRequest({1, 103, 8}), 8).size(), 8u);
    EXPECT_EQ(unit.Line.Ask(FromHex("13 03 00 14 00 02 87 7D"), 9).size(), 9u);
    EXPECT_EQ(unit.Line.Ask(KeyRequest({2, 103, 5}), 8).size(), 8u);
    EXPECT_TRUE(unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    EXPECT_EQ(unit.Unit.Mode(), TUnitMode::Running);
    // The second request alone does not switch either; the pair in order does.
    EXPECT_EQ(unit.Line.Ask(KeyRequest({1, 103, 8}), 8).size(), 8u);
    EXPECT_EQ(unit.Line.Ask(KeyRequest({2, 103, 5}), 8).size(), 8u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return unit.Unit.Mode() == TUnitMode::Boot; }, 2000));
}

TEST(UnitSimSwitchRefused, Model5479StartsInItsBootloader) {
    TUnitSimConfig config;
    config.ModelNumber = 5479;
    TRunningUnit unit(config);
    EXPECT_EQ(unit.Unit.Mode(), TUnitMode::Boot);
    EXPECT_EQ(ToHex(unit.Line.Ask(ModelRequest(), 9)), ModelReply(5479));
    ASSERT_TRUE(unit.Line.SetRate(9600));
    unit.Line.Write(FromHex("13 03 00 14 00 02 87 7D"));
    EXPECT_TRUE(unit.Line.ReadUntilQuiet(NoReplyMs).empty());
}

TEST(UnitSimSwitchRefused, Model5466ListensAt800000Then92160) {
    TUnitSimConfig config;
    config.ModelNumber = 5466;
    TRunningUnit unit(config);
    ASSERT_TRUE(unit.Line.SetRate(9600));
    unit.Line.Write(FromHex("13 03 00 14 00 02 87 7D"));
    EXPECT_TRUE(unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    ASSERT_TRUE(unit.Line.SetRate(800000));
    EXPECT_EQ(unit.Line.Ask(FromHex("13 03 00 14 00 02 87 7D"), 9).size(), 9u);
    unit.Line.Ask(KeyRequest({1, 103, 8}), 8);
    unit.Line.Ask(KeyRequest({2, 103, 5}), 8);
    ASSERT_TRUE(QTest::qWaitFor([&] { return unit.Unit.Mode() == TUnitMode::Boot; }, 2000));
    ASSERT_TRUE(unit.Line.SetRate(115200));
    unit.Line.Write(ModelRequest());
    EXPECT_TRUE(unit.Line.ReadUntilQuiet(NoReplyMs).empty());
    ASSERT_TRUE(unit.Line.SetRate(92160));
    EXPECT_EQ(ToHex(unit.Line.Ask(ModelRequest(), 9)), ModelReply(5466));
}
