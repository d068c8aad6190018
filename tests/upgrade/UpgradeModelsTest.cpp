// How each kind of unit is switched into its bootloader, seen from the far end: the
// requests, their order and the line rates, in whole updates started with Start.
#include "FormHarness.h"
#include "SimSupport.h"

#include "serial/KestComms.h"

#include <QSpinBox>

#include <gtest/gtest.h>

namespace {

constexpr int RunBoundMs = 60000;

class UpgradeModels : public ::testing::Test {
protected:
    // A window whose image is for Model, against a unit of that model.
    void Connect(uint16_t Model, TUnitSimConfig Config = {}) {
        Config.ModelNumber = Model;
        Unit = StartUnit(Config);
        Harness = std::make_unique<TFormHarness>(QString::fromStdString(Unit->PortPath()));
        Form().ModelNumber = Model;
        Form().ExpectedModelNumber = Model;
        Form().LastProgramAddress = 0x1FFF; // a short range: the switch is what matters here
    }
    TMainForm& Form() { return Harness->Form(); }

    // Runs an update and expects it to complete.
    void RunToCompletion() {
        ASSERT_TRUE(Harness->RunUpdate(RunBoundMs));
        const QStringList lines = Harness->LogLines();
        ASSERT_EQ(lines.size(), 9) << lines.join('\n').toStdString();
        EXPECT_EQ(lines[3], "Retrieving Model Number......OK");
        EXPECT_EQ(lines[8], "Finalising Upgrade.....Done");
        const TUnitSimReport report = Unit->Report();
        EXPECT_TRUE(report.UpdaterFaults.empty());
        EXPECT_EQ(report.Mode, TUnitMode::Running);
    }

    // The requests that switched the unit: every Modbus request after the identity read.
    std::vector<TModbusRequest> SwitchRequests() {
        std::vector<TModbusRequest> requests = ModbusRequests(Unit->Report());
        std::erase_if(requests, [](const TModbusRequest& r) {
            return r.Slave == 19 && r.Function == 3 && r.Register == 20;
        });
        return requests;
    }

    std::unique_ptr<TUnitSim> Unit;
    std::unique_ptr<TFormHarness> Harness;
};

TEST_F(UpgradeModels, Model5466UsesItsFastLinksAndTwoRequests) {
    Connect(5466);
    RunToCompletion();
    const TUnitSimReport report = Unit->Report();
    for (const TModbusRequest& request : ModbusRequests(report)) {
        EXPECT_EQ(request.Rate, 800000u);
    }
    for (const TBootRequest& request : BootRequests(report)) {
        EXPECT_EQ(request.Rate, 92160u);
    }
    const std::vector<TModbusRequest> requests = SwitchRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Slave, 1);
    EXPECT_EQ(requests[0].Function, 103);
    EXPECT_EQ(requests[0].Register, 8);
    EXPECT_EQ(requests[0].Value, 5183);
    EXPECT_EQ(requests[1].Slave, 2);
    EXPECT_EQ(requests[1].Function, 103);
    EXPECT_EQ(requests[1].Register, 5);
    EXPECT_EQ(requests[1].Value, 5183);
    EXPECT_EQ(Form().Comms->BaudRate, 800000u);
}

TEST_F(UpgradeModels, Model5396SendsTheBroadcastSecond) {
    Connect(5396);
    RunToCompletion();
    const std::vector<TModbusRequest> requests = SwitchRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Slave, 1);
    EXPECT_EQ(requests[1].Slave, 0);
    for (const TModbusRequest& request : requests) {
        EXPECT_EQ(request.Function, 6);
        EXPECT_EQ(request.Register, 156);
        EXPECT_EQ(request.Value, 5183);
        EXPECT_EQ(request.Rate, 9600u);
    }
}

TEST_F(UpgradeModels, Model5479SendsNothingButStillMovesThePort) {
    Connect(5479); // a unit of this model waits in its bootloader
    RunToCompletion();
    EXPECT_EQ(Harness->LogLines()[0], "Initialising Upgrade.....Done (0)");
    EXPECT_TRUE(SwitchRequests().empty());
    // The identity read went out at the Modbus rate and the bootloader was reached at its
    // own: the port was moved in between.
    const TUnitSimReport report = Unit->Report();
    for (const TModbusRequest& request : ModbusRequests(report)) {
        EXPECT_EQ(request.Rate, 9600u);
    }
    const std::vector<TBootRequest> boot = BootRequests(report);
    ASSERT_FALSE(boot.empty());
    EXPECT_EQ(boot.front().Rate, 115200u);
}

TEST_F(UpgradeModels, Model5599UsesTheOperatorsSlaveAddressAndPauses) {
    TUnitSimConfig config;
    config.OperatorSlave = 7;
    Connect(5599, config);
    Form().CommandPause = 5;
    Form().SpinEdit1->setValue(7);
    RunToCompletion();
    const std::vector<TModbusRequest> requests = SwitchRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Slave, 7);
    EXPECT_EQ(requests[0].Function, 6);
    EXPECT_EQ(requests[0].Register, 151);
    EXPECT_EQ(requests[0].Value, 5183);
}

// A model without a switching method gets no request; a unit already in its bootloader is
// still updated.
TEST_F(UpgradeModels, ModelWithoutASwitchingMethodSendsNothing) {
    TUnitSimConfig config;
    config.StartMode = TUnitMode::Boot;
    Connect(4999, config);
    RunToCompletion();
    EXPECT_TRUE(SwitchRequests().empty());
}

} // namespace
