// The upgrade as a chain of step messages the window posts to itself: Start posts the
// first, each step posts the next as its last action, the final step gives the controls
// back. Exactly one step message is pending while a run is in progress.
//
// A stop (RequestStop) never leaves the unit without a program by the operator's choice:
// once the erase has begun the update runs to its end; before it, the run ends at the next
// step boundary, and a unit already switched into its bootloader is still told to leave
// boot mode and restart.
#include "serial/KestComms.h"
#include "shell/Main1.h"
#include "shell/ModalSeam.h"
#include "upgrade/UpgradeSteps.h"

#include <QAction>
#include <QCoreApplication>
#include <QListWidget>
#include <QPushButton>

#include <exception>

namespace {
const QString StoppedLine = QStringLiteral("Update stopped by the operator.");
const QString CloseQuestion =
    QStringLiteral("An update is in progress. Stop it and close the program?");
const QString FinishesFirst =
    QStringLiteral("The update will finish first; this takes a few seconds.");
} // namespace

void TMainForm::Button6Click() {
    if (UpgradeRunning) {
        return;
    }
    // Start, Close and the port command stay off until the run ends: the port must not
    // be closed or changed under a running exchange.
    UpgradeRunning = true;
    Button6->setEnabled(false);
    Button1->setEnabled(false);
    CommsPort1->setEnabled(false);
    PostUpgradeStep(FirstUpgradeStep);
}

void TMainForm::PostUpgradeStep(int Step) {
    QCoreApplication::postEvent(this, new TUpgradeStepEvent(Step));
}

void TMainForm::RunUpgrade(int Step) {
    if (!IsUpgradeStep(Step)) {
        return;
    }
    if (!UpgradeRunning) {
        // A step message outside a run: only the first step starts one.
        if (Step != FirstUpgradeStep) {
            return;
        }
        UpgradeRunning = true;
        Button6->setEnabled(false);
        Button1->setEnabled(false);
        CommsPort1->setEnabled(false);
    }

    const auto endRun = [this] {
        if (Comms != nullptr) {
            Comms->UnpinDevice();
        }
        Button6->setEnabled(true);
        Button1->setEnabled(true);
        CommsPort1->setEnabled(true);
        UpgradeRunning = false;
        StopRequested = false;
        UnitSwitched = false;
        EraseBegun = false;
        emit UpgradeEnded();
        if (CloseAfterRun) {
            CloseAfterRun = false;
            close();
        }
    };
    if (Step == FinalUpgradeStep) {
        endRun();
        return;
    }

    if (Step == FirstUpgradeStep) {
        UnitSwitched = false;
        EraseBegun = false;
        // From the unit's first answer on, every re-open of the run reaches the device
        // that answered, or fails as a lost port does, rather than follow the port's name
        // to another unit.
        if (Comms != nullptr) {
            Comms->PinDevice();
        }
    }
    int next = FinalUpgradeStep;
    if (StopRequested && !EraseBegun && !IsWrapUpStep(Step)) {
        // The stop is the run's last line; a switched unit first leaves boot mode and
        // restarts.
        if (UnitSwitched) {
            next = UpgradeStep::LeaveBootMode; // where a run stopped after the switch goes on
        } else {
            AddLogLine(ListBox1, StoppedLine);
        }
    } else {
        UnitSwitched = UnitSwitched || Step == UpgradeStep::EnableBootMode;
        EraseBegun = EraseBegun || Step == UpgradeStep::Erase;
        try {
            next = RunUpgradeStage(*this, Step);
        } catch (const std::exception& error) {
            // The run ends here; the operator reads why and can start again.
            TModalSeam::ShowError(this, QString::fromLocal8Bit(error.what()));
        }
        // Stopped before the erase: the unit kept its program and its settings, so there
        // is nothing to put back once it has restarted.
        if (next == UpgradeStep::Finalise && StopRequested && !EraseBegun) {
            AddLogLine(ListBox1, StoppedLine);
            next = FinalUpgradeStep;
        }
    }
    if (next == FinalUpgradeStep && StopRequested) {
        endRun(); // the window closes now rather than after one more message
        return;
    }
    if (next != NoNextUpgradeStep) {
        PostUpgradeStep(next);
    }
}

bool TMainForm::QueryCloseDuringRun() {
    if (!UpgradeRunning) {
        return true;
    }
    if (CloseAfterRun) {
        return false; // already agreed: the window closes when the run has ended
    }
    // Once the erase has begun the update is finished before the window closes.
    const QString question =
        EraseBegun ? CloseQuestion + QStringLiteral("\n\n") + FinishesFirst : CloseQuestion;
    const int answer = TModalSeam::MessageBox(this, QMessageBox::Question, ApplicationTitle(),
                                              question, QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes) {
        return false;
    }
    if (!UpgradeRunning) {
        return true; // the run ended while the question was open
    }
    CloseAfterRun = true;
    RequestStop();
    return false;
}

void TMainForm::RequestStop() {
    if (UpgradeRunning) {
        StopRequested = true;
    }
}
