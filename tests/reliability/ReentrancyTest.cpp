// Close, Exit, Close button, Start, Load File and the port command attempted at random
// moments of a run, with the question about stopping answered either way after the
// operator has thought about it for a while (the run goes on underneath the question, as
// it does under a real message box). Nothing may crash, the port is never found closed
// while the run is in progress, an answer No lets the update complete, and an answer Yes
// stops it (before the erase at a step boundary, a switched unit still leaving boot mode
// and restarting; once the erase has begun, only after the update) and then closes the
// window.
#include "ReliabilitySupport.h"

#include "serial/KestComms.h"
#include "tests/upgrade/SimSupport.h"

#include <QAction>
#include <QEventLoop>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <random>

namespace {

constexpr int RunBoundMs = 60000;
constexpr int Trials = 12;
constexpr int ActionsPerTrial = 3;
const QString StageLines[] = {
    QStringLiteral("Initialising Upgrade....."),
    QStringLiteral("Enabling BootLoader....."),
    QStringLiteral("Retrieving Bootloader Info......"),
    QStringLiteral("Retrieving Model Number......"),
    QStringLiteral("Erasing Program Memory......"),
    QStringLiteral("Sending New Program Data......"),
    QStringLiteral("Disabling Boot Mode......"),
    QStringLiteral("Restarting Unit......"),
    QStringLiteral("Finalising Upgrade....."),
};
const QString StoppedLine = QStringLiteral("Update stopped by the operator.");

enum class TAction { Close, Exit, CloseButton, StartButton, LoadFile, PortCommand };
// The two that ask a question come up twice as often.
constexpr TAction Actions[] = {TAction::Close,    TAction::Exit,        TAction::Close,
                               TAction::Exit,     TAction::CloseButton, TAction::StartButton,
                               TAction::LoadFile, TAction::PortCommand};

// Exit outside a run leaves the application's event loop; a test program has none, but
// the request stays pending and would end every later wait. Running the loop once clears
// it.
void ClearPendingExit() {
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

TUnitSimConfig SecondLongRun() {
    TUnitSimConfig config;
    config.EraseMs = 5; // a run of a second or two
    config.WriteMs = 2;
    return config;
}

class TReentrancyTrial {
public:
    explicit TReentrancyTrial(uint32_t Seed)
        : Random(Seed), Link(std::make_unique<TLinkedUnit>(SecondLongRun())),
          AnswerYes(Random() % 2 == 0) {}

    void Run() {
        ASSERT_TRUE(Link->Started());
        TMainForm& form = Link->Form();
        Link->Harness().Answer = [this](const TModalRequest& Request) { return Answer(Request); };
        // The port is looked at every few milliseconds, from inside the exchanges' waits.
        QTimer sampler;
        sampler.setInterval(3);
        QObject::connect(&sampler, &QTimer::timeout, [this, &form] {
            if (form.RunInProgress() && (form.Comms == nullptr || !form.Comms->IsOpen())) {
                ++PortClosedSamples;
            }
        });
        sampler.start();
        // Each action comes a little after a stage's line appears, so that every step,
        // the waits inside it and the boundaries between steps all get their share.
        for (int i = 0; i < ActionsPerTrial; ++i) {
            const TAction action = Actions[Random() % std::size(Actions)];
            const QString& stage = StageLines[Random() % std::size(StageLines)];
            const int afterMs = static_cast<int>(Random() % 300);
            Link->Harness().WhenLineAppears(stage, [this, &form, action, afterMs] {
                QTimer::singleShot(afterMs, &form, [this, action] { Act(action); });
            });
        }
        QTest::mouseClick(form.Button6, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !form.RunInProgress(); }, RunBoundMs));
        // Actions still pending fire now (and do nothing outside a run).
        QTest::qWait(350);
        sampler.stop();
        Judge();
        ClearPendingExit();
    }

private:
    TModalAnswer Answer(const TModalRequest& Request) {
        TModalAnswer answer;
        answer.Result = QMessageBox::Ok;
        if (Request.Kind == TModalKind::Dialog || Request.Kind == TModalKind::OpenFile) {
            ++DialogsDuringRun;
            answer.Accepted = false;
            answer.Result = 0;
            return answer;
        }
        if (Request.Icon == QMessageBox::Question) {
            ++Questions;
            // The box stays open a while; events, the run's included, go on meanwhile.
            QEventLoop thinking;
            QTimer::singleShot(static_cast<int>(Random() % 600), &thinking, &QEventLoop::quit);
            thinking.exec();
            answer.Result = AnswerYes ? QMessageBox::Yes : QMessageBox::No;
            AgreedDuringRun = AgreedDuringRun || (AnswerYes && Link->Form().RunInProgress());
        }
        return answer;
    }

    void Act(TAction Action) {
        TMainForm& form = Link->Form();
        if (!form.RunInProgress()) {
            return; // out of a run these do what they always do; not the point here
        }
        switch (Action) {
        case TAction::Close:
            form.close();
            break;
        case TAction::Exit:
            form.Exit1->trigger();
            break;
        case TAction::CloseButton:
            form.Button1->click();
            break;
        case TAction::StartButton:
            form.Button6->click();
            break;
        case TAction::LoadFile:
            form.LoadFile1->trigger();
            break;
        case TAction::PortCommand:
            form.CommsPort1->trigger();
            break;
        }
        if (form.RunInProgress() && (form.Comms == nullptr || !form.Comms->IsOpen())) {
            ++PortClosedSamples;
        }
    }

    void Judge() {
        TMainForm& form = Link->Form();
        EXPECT_EQ(PortClosedSamples, 0) << "the port was closed under a running exchange";
        EXPECT_EQ(DialogsDuringRun, 0) << "a dialog was offered during the run";
        EXPECT_FALSE(form.RunInProgress());
        const QStringList lines = Link->Harness().LogLines();
        ASSERT_FALSE(lines.isEmpty());
        if (lines.last() == StoppedLine) {
            // Stopped at a step boundary before the erase: every stage before it finished,
            // and a unit already switched left boot mode and restarted.
            EXPECT_TRUE(AgreedDuringRun);
            QStringList stages = lines.mid(0, lines.size() - 1);
            const TUnitSimReport report = Link->Unit().Report();
            EXPECT_TRUE(BootRequests(report, 0x03).empty()) << "stopped once the erase began";
            const QStringList wrapUp{QStringLiteral("Disabling Boot Mode......Done"),
                                     QStringLiteral("Restarting Unit......Done")};
            if (stages.size() > 2 && stages.mid(stages.size() - 2) == wrapUp) {
                stages = stages.mid(0, stages.size() - 2);
                EXPECT_GE(stages.size(), 2) << "boot mode left by a unit never switched";
                EXPECT_EQ(report.Mode, TUnitMode::Running);
            } else {
                EXPECT_LE(stages.size(), 1) << "a switched unit was left in boot mode";
                EXPECT_TRUE(BootRequests(report, 0x05).empty());
            }
            EXPECT_LE(stages.size(), 4);
            EXPECT_EQ(stages, CompleteRunLog().mid(0, static_cast<int>(stages.size())));
        } else {
            EXPECT_EQ(lines, CompleteRunLog());
            EXPECT_TRUE(Link->FlashHoldsImage());
        }
        if (AgreedDuringRun) {
            EXPECT_FALSE(form.isVisible()) << "agreed to stop, but the window stayed";
            EXPECT_EQ(form.Comms, nullptr);
        } else {
            EXPECT_TRUE(form.isVisible());
            EXPECT_TRUE(form.Button6->isEnabled());
            EXPECT_TRUE(form.Comms != nullptr && form.Comms->IsOpen());
        }
    }

    std::mt19937 Random;
    std::unique_ptr<TLinkedUnit> Link;
    bool AnswerYes = false;
    bool AgreedDuringRun = false;
    int Questions = 0;
    int DialogsDuringRun = 0;
    int PortClosedSamples = 0;
};

TEST(Reentrancy, CloseExitAndPortChangeAtRandomMomentsOfARun) {
    for (uint32_t seed = 1; seed <= Trials; ++seed) {
        SCOPED_TRACE("trial " + std::to_string(seed));
        TReentrancyTrial trial(seed);
        trial.Run();
        if (HasFatalFailure()) {
            return;
        }
    }
}

} // namespace
