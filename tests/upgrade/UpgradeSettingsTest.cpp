// The settings of model 5468 carried across an update that crosses firmware version 1.10.
#include "FormHarness.h"
#include "SimSupport.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

namespace {

constexpr int RunBoundMs = 90000;

class UpgradeSettings : public ::testing::Test {
protected:
    void Connect(uint16_t UnitVersion, TUnitSimConfig config = {}) {
        config.ModelNumber = 5468;
        config.FirmwareVersion = UnitVersion;
        config.FirmwareVersionAfter = 150;
        config.Settings[{19, 29}] = 777; // whatever the unit holds there is not restored
        Unit = StartUnit(config);
        Harness = std::make_unique<TFormHarness>(QString::fromStdString(Unit->PortPath()));
        Form().ModelNumber = 5468;
        Form().ExpectedModelNumber = 5468;
        Form().FirmwareVersion = 150;
        Form().LastProgramAddress = 0x1FFF;
    }
    TMainForm& Form() { return Harness->Form(); }

    std::unique_ptr<TUnitSim> Unit;
    std::unique_ptr<TFormHarness> Harness;
};

bool Is(const TModbusRequest& Request, uint8_t Slave, uint8_t Function, uint16_t Register,
        uint16_t Value) {
    return Request.Slave == Slave && Request.Function == Function && Request.Register == Register &&
           Request.Value == Value;
}

TEST_F(UpgradeSettings, UnitBelow110IsBackedUpAndRestored) {
    Connect(105);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(Harness->RunUpdate(RunBoundMs));
    EXPECT_GE(clock.elapsed(), 8000); // 5 s before the write-back, 3 s after the commit
    const QStringList lines = Harness->LogLines();
    ASSERT_EQ(lines.size(), 9);
    EXPECT_EQ(lines[0], "Initialising Upgrade.....Done (1)");
    EXPECT_EQ(lines[8], "Finalising Upgrade.....Done");

    const std::vector<TModbusRequest> requests = ModbusRequests(Unit->Report());
    ASSERT_EQ(requests.size(), 4u + 1u + 4u + 1u);
    EXPECT_TRUE(Is(requests[0], 19, 3, 20, 2));
    EXPECT_TRUE(Is(requests[1], 17, 3, 24, 1));
    EXPECT_TRUE(Is(requests[2], 19, 3, 22, 11));
    EXPECT_TRUE(Is(requests[3], 20, 3, 7, 22));
    EXPECT_TRUE(Is(requests[4], 19, 103, 29, 5183));
    EXPECT_TRUE(Is(requests[5], 17, 103, 24, 17024));
    EXPECT_TRUE(Is(requests[6], 19, 104, 22, 11));
    EXPECT_TRUE(Is(requests[7], 20, 104, 7, 11));
    EXPECT_TRUE(Is(requests[8], 20, 104, 18, 11));
    EXPECT_TRUE(Is(requests[9], 19, 103, 29, 3962));

    // Block 2 goes back as read, but with 0 for register 29.
    ASSERT_EQ(requests[6].Values.size(), 11u);
    for (uint16_t i = 0; i < 11; ++i) {
        EXPECT_EQ(requests[6].Values[i], i == 7 ? 0 : 19000 + 22 + i) << i;
    }
    ASSERT_EQ(requests[7].Values.size(), 11u);
    ASSERT_EQ(requests[8].Values.size(), 11u);
    for (uint16_t i = 0; i < 11; ++i) {
        EXPECT_EQ(requests[7].Values[i], 20000 + 7 + i);
        EXPECT_EQ(requests[8].Values[i], 20000 + 18 + i);
    }

    const TUnitSimReport report = Unit->Report();
    EXPECT_EQ(report.Commits, 1u);
    EXPECT_EQ(report.CommittedSettings.at({17, 24}), 17024);
    EXPECT_EQ(report.CommittedSettings.at({20, 28}), 20028);
    EXPECT_TRUE(report.UpdaterFaults.empty());
}

TEST_F(UpgradeSettings, UnitAt110NeedsNothingReadOrWritten) {
    Connect(110);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(Harness->RunUpdate(RunBoundMs));
    EXPECT_GE(clock.elapsed(), 5000); // the restore still waits before deciding
    const QStringList lines = Harness->LogLines();
    ASSERT_EQ(lines.size(), 9);
    EXPECT_EQ(lines[0], "Initialising Upgrade.....Done (1)");
    EXPECT_EQ(lines[8], "Finalising Upgrade.....Done"); // nothing to restore is no failure
    const std::vector<TModbusRequest> requests = ModbusRequests(Unit->Report());
    ASSERT_EQ(requests.size(), 2u); // the identity read and the switch
    EXPECT_TRUE(Is(requests[0], 19, 3, 20, 2));
    EXPECT_TRUE(Is(requests[1], 19, 103, 29, 5183));
    EXPECT_EQ(Unit->Report().Commits, 0u);
}

// The first write-back fails on both tries (the 6th and 7th Modbus replies, after the
// identity, the three backup reads and the switch, arrive cut short, so both time out):
// the chain of writes ends, the commit value still goes out, and the last line says the
// settings did not go back.
TEST_F(UpgradeSettings, FailedWriteBackIsReportedAndStillCommitted) {
    TUnitSimConfig config;
    config.Drops = {{{TReplyPick::TKind::Modbus, 6}, 3}, {{TReplyPick::TKind::Modbus, 7}, 3}};
    Connect(105, config);
    ASSERT_TRUE(Harness->RunUpdate(RunBoundMs));
    const QStringList lines = Harness->LogLines();
    ASSERT_EQ(lines.size(), 9);
    EXPECT_EQ(lines[8], "Finalising Upgrade.....Error (Settings Not Restored)");
    const std::vector<TModbusRequest> requests = ModbusRequests(Unit->Report());
    ASSERT_EQ(requests.size(), 5u + 2u + 1u);
    EXPECT_TRUE(Is(requests[5], 17, 103, 24, 17024));
    EXPECT_TRUE(Is(requests[6], 17, 103, 24, 17024));
    EXPECT_TRUE(Is(requests[7], 19, 103, 29, 3962));
    EXPECT_EQ(Unit->Report().Commits, 1u);
}

// The backup fails when its last block cannot be read (bad CRC on both tries): the run
// ends before the unit is switched.
TEST_F(UpgradeSettings, FailedBackupEndsTheRunBeforeTheSwitch) {
    TUnitSimConfig config;
    config.BadCheck = {{TReplyPick::TKind::Modbus, 4}, {TReplyPick::TKind::Modbus, 5}};
    Connect(105, config);
    ASSERT_TRUE(Harness->RunUpdate(RunBoundMs));
    EXPECT_EQ(Harness->LogLines(), QStringList{"Initialising Upgrade.....Error"});
    const std::vector<TModbusRequest> requests = ModbusRequests(Unit->Report());
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_TRUE(Is(requests[3], 20, 3, 7, 22));
    EXPECT_TRUE(Is(requests[4], 20, 3, 7, 22));
    EXPECT_EQ(Unit->Report().Mode, TUnitMode::Running);
}

// A unit that does not answer Modbus: two tries of the identity read, both numbers 0, and
// nothing to restore, at once.
TEST_F(UpgradeSettings, SilentUnitHasNoIdentityAndNothingToRestore) {
    TUnitSimConfig config;
    config.NoAnswer = true;
    Connect(105, config);
    Form().UnitModelNumber = 5468;
    Form().UnitFirmwareVersion = 105;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Form().ReadUnitIdentity(), 0);
    EXPECT_GE(clock.elapsed(), 4000);
    EXPECT_EQ(Form().UnitModelNumber, 0);
    EXPECT_EQ(Form().UnitFirmwareVersion, 0);
    EXPECT_EQ(ModbusRequests(Unit->Report()).size(), 2u);
    clock.restart();
    EXPECT_EQ(Form().BackupUnitSettings(), 99);
    EXPECT_EQ(Form().RestoreUnitSettings(), 99);
    EXPECT_LT(clock.elapsed(), 500);
    EXPECT_EQ(ModbusRequests(Unit->Report()).size(), 2u);
}

} // namespace
