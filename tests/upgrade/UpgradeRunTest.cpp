// Whole updates of this build's product: Start clicked on the real window, the simulated
// unit on the far end of a pseudo-terminal.
#include "CompleteRun.h"
#include "FormHarness.h"
#include "SimSupport.h"

#include "serial/KestComms.h"

#include <QAction>
#include <QElapsedTimer>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

constexpr int RunBoundMs = 60000;

void ExpectControlsBack(TMainForm& Form) {
    EXPECT_TRUE(Form.Button6->isEnabled());
    EXPECT_TRUE(Form.Button1->isEnabled());
    EXPECT_TRUE(Form.CommsPort1->isEnabled());
    EXPECT_FALSE(Form.RunInProgress());
}

class UpgradeRun : public ::testing::Test {
protected:
    void Connect(const TUnitSimConfig& Config) {
        Unit = StartUnit(Config);
        Harness = std::make_unique<TFormHarness>(QString::fromStdString(Unit->PortPath()));
        ASSERT_EQ(Form().ExpectedModelNumber, 5516);
        ASSERT_EQ(Form().LastProgramAddress, 0xBFFFu);
    }
    TMainForm& Form() { return Harness->Form(); }

    std::unique_ptr<TUnitSim> Unit;
    std::unique_ptr<TFormHarness> Harness;
};

TEST_F(UpgradeRun, CompleteUpdateAtLineRate) {
    TUnitSimConfig config;
    config.Pacing = true;
    config.FirmwareVersion = 140;
    Connect(config);
    TLogCapture log;
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(Harness->RunUpdate(RunBoundMs));
    const qint64 runMs = clock.elapsed();

    EXPECT_EQ(Harness->LogLines(), CompleteRunLog());
    ExpectControlsBack(Form());
    const TUnitSimReport report = Unit->Report();
    ExpectFlashHoldsImage(report, Form());
    EXPECT_TRUE(report.UpdaterFaults.empty());
    EXPECT_EQ(report.Mode, TUnitMode::Running);
    EXPECT_EQ(report.Restarts, 1u);
    EXPECT_EQ(report.FirmwareVersion, 150);

    // Modbus at 9,600 baud, the bootloader at 115,200.
    const std::vector<TModbusRequest> modbus = ModbusRequests(report);
    ASSERT_EQ(modbus.size(), 2u); // identity read, switch
    for (const TModbusRequest& request : modbus) {
        EXPECT_EQ(request.Rate, 9600u);
    }
    EXPECT_EQ(modbus[0].Slave, 19);
    EXPECT_EQ(modbus[0].Function, 3);
    EXPECT_EQ(modbus[0].Register, 20);
    EXPECT_EQ(modbus[0].Value, 2);
    EXPECT_EQ(modbus[1].Slave, 19);
    EXPECT_EQ(modbus[1].Function, 103);
    EXPECT_EQ(modbus[1].Register, 29);
    EXPECT_EQ(modbus[1].Value, 5183);
    const std::vector<TBootRequest> boot = BootRequests(report);
    ASSERT_EQ(boot.size(), 2u + 2u + 92u + 368u + 1u + 1u);
    for (const TBootRequest& request : boot) {
        EXPECT_EQ(request.Rate, 115200u);
    }
    EXPECT_EQ(Form().Comms->BaudRate, 9600u);
    EXPECT_TRUE(Form().Comms->IsOpen());

    // The log category saw the run from its clearing on, in order.
    const QStringList messages = log.Messages();
    ASSERT_FALSE(messages.isEmpty());
    EXPECT_EQ(messages.first(), "clear");
    EXPECT_EQ(messages.last(), "replace: Finalising Upgrade.....Done");

    std::printf("complete update at 115,200 baud, line-rate pacing: %.2f s (wire %.2f s)\n",
                runMs / 1000.0, WireSeconds(report));
    RecordProperty("RunMs", static_cast<int>(runMs));
}

TEST_F(UpgradeRun, UnitThatAnswersNothing) {
    TUnitSimConfig config;
    config.NoAnswer = true;
    Connect(config);
    ASSERT_TRUE(Harness->RunUpdate(RunBoundMs));
    EXPECT_EQ(Harness->LogLines(),
              (QStringList{"Initialising Upgrade.....Done (0)", "Enabling BootLoader.....Done",
                           "Retrieving Bootloader Info......Info Unavailable",
                           "Retrieving Model Number......Error (No Reply)"}));
    ExpectControlsBack(Form());
    const TUnitSimReport report = Unit->Report();
    EXPECT_TRUE(BootRequests(report, 0x03).empty());
    EXPECT_EQ(BootRequests(report, 0x08).size(), 2u);
    EXPECT_EQ(BootRequests(report, 0x00).size(), 2u);
}

TEST_F(UpgradeRun, BootloaderOfAnotherModel) {
    TUnitSimConfig config;
    config.BootModelNumber = 5448;
    Connect(config);
    ASSERT_TRUE(Harness->RunUpdate(RunBoundMs));
    ASSERT_EQ(Harness->LogLines().size(), 4);
    EXPECT_EQ(Harness->LogLines().last(),
              "Retrieving Model Number......Error (Incompatible Model)");
    ExpectControlsBack(Form());
    const TUnitSimReport report = Unit->Report();
    EXPECT_TRUE(BootRequests(report, 0x03).empty());
    EXPECT_EQ(report.Erases, 0u);
}

TEST_F(UpgradeRun, EraseFailureHalfWay) {
    TUnitSimConfig config;
    config.EraseFaults = {{46, TFailKind::BadChecksum}};
    Connect(config);
    TLogCapture log;
    ASSERT_TRUE(Harness->RunUpdate(RunBoundMs));
    const QStringList lines = Harness->LogLines();
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[4], "Erasing Program Memory......Error Detected");
    const QStringList replaced = log.Replacements();
    ASSERT_GE(replaced.size(), 2);
    EXPECT_EQ(replaced[replaced.size() - 2], "Erasing Program Memory......48%");
    ExpectControlsBack(Form());
    const TUnitSimReport report = Unit->Report();
    EXPECT_EQ(BootRequests(report, 0x03).size(), 46u);
    EXPECT_TRUE(BootRequests(report, 0x02).empty());
    // Left in boot mode, no restart, the port still at the bootloader's speed.
    EXPECT_EQ(report.Mode, TUnitMode::Boot);
    EXPECT_TRUE(BootRequests(report, 0x05).empty());
    EXPECT_EQ(Form().Comms->BaudRate, 115200u);
}

TEST_F(UpgradeRun, WriteFailureHalfWay) {
    TUnitSimConfig config;
    config.WriteFaults = {{184, TFailKind::BadChecksum}};
    Connect(config);
    ASSERT_TRUE(Harness->RunUpdate(RunBoundMs));
    const QStringList lines = Harness->LogLines();
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[4], "Erasing Program Memory......100%");
    EXPECT_EQ(lines[5], "Sending New Program Data......Error Detected");
    ExpectControlsBack(Form());
    const TUnitSimReport report = Unit->Report();
    EXPECT_EQ(BootRequests(report, 0x02).size(), 184u);
    EXPECT_EQ(report.Mode, TUnitMode::Boot);
    EXPECT_TRUE(BootRequests(report, 0x05).empty());
    EXPECT_EQ(report.Restarts, 0u);
}

TEST_F(UpgradeRun, StartAgainAfterAFailedRunUpdatesTheUnitLeftInBootMode) {
    TUnitSimConfig config;
    config.BootVersion = 105;
    // The 50th bootloader reply (the 46th erase page) comes after the time-out, once.
    config.Late = {{{TReplyPick::TKind::Boot, 50}, 4000}};
    Connect(config);
    ASSERT_TRUE(Harness->RunUpdate(RunBoundMs));
    ASSERT_EQ(Harness->LogLines().size(), 5);
    EXPECT_EQ(Harness->LogLines().last(), "Erasing Program Memory......Error Detected");
    ASSERT_EQ(Unit->Mode(), TUnitMode::Boot);

    TLogCapture log;
    ASSERT_TRUE(Harness->RunUpdate(RunBoundMs));
    ASSERT_GE(log.Messages().size(), 2);
    EXPECT_EQ(log.Messages()[0], "clear");
    EXPECT_EQ(log.Messages()[1], "append: Initialising Upgrade.....");
    QStringList expected = CompleteRunLog();
    expected[0] = "Initialising Upgrade.....Done (0)";
    expected[2] = "Retrieving Bootloader Info......RM5516 v1.05";
    EXPECT_EQ(Harness->LogLines(), expected);
    ExpectControlsBack(Form());
    const TUnitSimReport report = Unit->Report();
    ExpectFlashHoldsImage(report, Form());
    EXPECT_EQ(report.Mode, TUnitMode::Running);
}

} // namespace
