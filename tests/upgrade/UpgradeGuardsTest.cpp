// What keeps a run safe: closing the window or leaving the program during it, the port
// command, a failure raised inside a step, and a build without a program range.
#include "FormHarness.h"
#include "SimSupport.h"

#include "serial/KestComms.h"

#include <QAction>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

constexpr int RunBoundMs = 60000;

class UpgradeGuards : public ::testing::Test {
protected:
    void Connect(TUnitSimConfig Config = {}) {
        Config.Pacing = true; // a run long enough to act in
        Unit = StartUnit(Config);
        Harness = std::make_unique<TFormHarness>(QString::fromStdString(Unit->PortPath()));
        ASSERT_TRUE(Form().isVisible());
    }
    TMainForm& Form() { return Harness->Form(); }

    int Questions() const {
        int count = 0;
        for (const TModalRequest& request : Harness->Modals()) {
            count += request.Icon == QMessageBox::Question ? 1 : 0;
        }
        return count;
    }

    std::unique_ptr<TUnitSim> Unit;
    std::unique_ptr<TFormHarness> Harness;
};

// Once the erase has begun, a stop lets the update finish: the unit is never left without
// a program by the operator's choice. The question says so.
TEST_F(UpgradeGuards, ClosingDuringTheEraseFinishesTheUpdateFirst) {
    Connect();
    Harness->AnswerQuestionsWith(QMessageBox::Yes);
    bool closedAtOnce = true;
    bool visibleAfter = false;
    bool portOpenAfter = false;
    Harness->WhenLineAppears("Erasing Program Memory......", [&] {
        closedAtOnce = Form().close(); // asked, agreed, but not now: an exchange is running
        visibleAfter = Form().isVisible();
        portOpenAfter = Form().Comms != nullptr && Form().Comms->IsOpen();
    });
    QTest::mouseClick(Form().Button6, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Form().isVisible(); }, RunBoundMs));
    EXPECT_FALSE(closedAtOnce);
    EXPECT_TRUE(visibleAfter);
    EXPECT_TRUE(portOpenAfter);
    ASSERT_EQ(Questions(), 1);
    EXPECT_EQ(Harness->Modals().back().Text,
              "An update is in progress. Stop it and close the program?\n\n"
              "The update will finish first; this takes a few seconds.");

    const QStringList lines = Harness->LogLines();
    ASSERT_EQ(lines.size(), 9);
    EXPECT_EQ(lines[8], "Finalising Upgrade.....Done");
    EXPECT_FALSE(Form().RunInProgress());
    EXPECT_EQ(Form().Comms, nullptr); // released by the close, after the run
    const TUnitSimReport report = Unit->Report();
    ExpectFlashHoldsImage(report, Form());
    EXPECT_EQ(report.Restarts, 1u);
    EXPECT_EQ(report.Mode, TUnitMode::Running);
}

// A stop after the switch but before the erase ends the run there; the unit, whose program
// is untouched, is told to leave boot mode and restart first. Nothing is restored.
TEST_F(UpgradeGuards, StopBeforeTheEraseLeavesBootModeAndRestarts) {
    Connect();
    int ended = 0;
    QObject::connect(&Form(), &TMainForm::UpgradeEnded, [&] { ++ended; });
    Harness->WhenLineAppears("Retrieving Model Number......", [&] { Form().RequestStop(); });
    ASSERT_TRUE(Harness->RunUpdate(RunBoundMs));
    EXPECT_EQ(ended, 1);
    const QStringList lines = Harness->LogLines();
    ASSERT_EQ(lines.size(), 7);
    EXPECT_EQ(lines[3], "Retrieving Model Number......OK");
    EXPECT_EQ(lines.mid(4),
              (QStringList{"Disabling Boot Mode......Done", "Restarting Unit......Done",
                           "Update stopped by the operator."}));
    EXPECT_TRUE(Form().isVisible());
    EXPECT_TRUE(Harness->Modals().empty());
    const TUnitSimReport report = Unit->Report();
    EXPECT_TRUE(BootRequests(report, 0x03).empty());
    EXPECT_TRUE(BootRequests(report, 0x02).empty());
    EXPECT_EQ(BootRequests(report, 0x05).size(), 1u);
    EXPECT_EQ(report.Restarts, 1u);
    EXPECT_EQ(report.Mode, TUnitMode::Running);
}

TEST_F(UpgradeGuards, AnsweringNoLetsTheRunFinish) {
    Connect();
    Harness->AnswerQuestionsWith(QMessageBox::No);
    bool closedAtOnce = true;
    Harness->WhenLineAppears("Erasing Program Memory......", [&] {
        closedAtOnce = Form().close();
        Form().Exit1->trigger();
    });
    ASSERT_TRUE(Harness->RunUpdate(RunBoundMs));
    EXPECT_FALSE(closedAtOnce);
    EXPECT_EQ(Questions(), 2);
    EXPECT_EQ(Harness->LogLines().size(), 9);
    EXPECT_TRUE(Form().isVisible());
    // Out of a run the window closes without a question.
    EXPECT_TRUE(Form().close());
    EXPECT_EQ(Questions(), 2);
}

TEST_F(UpgradeGuards, ClosingOnceTheProgramIsWrittenFinishesTheUpdateFirst) {
    TUnitSimConfig config;
    // The restart's reply (the 466th bootloader reply) is slow; the close comes meanwhile.
    config.Late = {{{TReplyPick::TKind::Boot, 466}, 1500}};
    Connect(config);
    Harness->AnswerQuestionsWith(QMessageBox::Yes);
    bool closedAtOnce = true;
    Harness->WhenLineAppears("Restarting Unit......", [&] { closedAtOnce = Form().close(); });
    QTest::mouseClick(Form().Button6, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Form().isVisible(); }, RunBoundMs));
    EXPECT_FALSE(closedAtOnce);
    EXPECT_EQ(Questions(), 1);
    const QStringList lines = Harness->LogLines();
    ASSERT_EQ(lines.size(), 9);
    EXPECT_EQ(lines[8], "Finalising Upgrade.....Done");
    EXPECT_EQ(Unit->Report().Mode, TUnitMode::Running);
}

TEST_F(UpgradeGuards, PortCommandIsOffDuringARun) {
    Connect();
    EXPECT_TRUE(Form().CommsPort1->isEnabled());
    bool portCommandOn = true;
    bool startOn = true;
    bool closeOn = true;
    Harness->WhenLineAppears("Erasing Program Memory......", [&] {
        portCommandOn = Form().CommsPort1->isEnabled();
        startOn = Form().Button6->isEnabled();
        closeOn = Form().Button1->isEnabled();
        Form().CommsPort1->trigger(); // a disabled action does nothing
    });
    ASSERT_TRUE(Harness->RunUpdate(RunBoundMs));
    EXPECT_FALSE(portCommandOn);
    EXPECT_FALSE(startOn);
    EXPECT_FALSE(closeOn);
    EXPECT_TRUE(Harness->Modals().empty());
    EXPECT_EQ(Harness->LogLines().size(), 9);
    EXPECT_TRUE(Form().CommsPort1->isEnabled());
}

TEST_F(UpgradeGuards, StrayStepMessagesDoNothing) {
    Connect();
    for (int step : {-1, 8, 19, 22, 98, 100, 2, 99}) {
        Form().PostUpgradeStep(step);
    }
    QTest::qWait(300);
    EXPECT_TRUE(Harness->LogLines().isEmpty());
    EXPECT_TRUE(Unit->Report().Frames.empty());
    EXPECT_TRUE(Form().Button6->isEnabled());
}

TEST_F(UpgradeGuards, NoProgramRangeStopsBeforeTheUnitIsTouched) {
    Connect();
    Form().LastProgramAddress = 0;
    ASSERT_TRUE(Harness->RunUpdate(RunBoundMs));
    EXPECT_EQ(Harness->LogLines(),
              QStringList{"Initialising Upgrade.....Error (No Program Range)"});
    EXPECT_TRUE(Unit->Report().Frames.empty());
    EXPECT_TRUE(Form().CommsPort1->isEnabled());
}

// A device that is not a serial port: opening it raises inside the first step.
TEST(UpgradeFailure, FailureRaisedInAStepEndsTheRunAndStartWorksAgain) {
    TFormHarness harness(QStringLiteral("/dev/null"));
    TMainForm& form = harness.Form();
    form.Button6->setEnabled(true); // start-up reported the port; Start is still offered
    const size_t before = harness.Modals().size();
    ASSERT_TRUE(harness.RunUpdate(RunBoundMs));
    ASSERT_EQ(harness.Modals().size(), before + 1);
    const TModalRequest& shown = harness.Modals().back();
    EXPECT_EQ(shown.Icon, QMessageBox::Critical);
    EXPECT_EQ(shown.Text, "File Handle is not a Comm Handle.");
    EXPECT_TRUE(form.Button1->isEnabled());
    EXPECT_TRUE(form.CommsPort1->isEnabled());
    ASSERT_TRUE(harness.RunUpdate(RunBoundMs));
    EXPECT_EQ(harness.Modals().size(), before + 2);
}

} // namespace
