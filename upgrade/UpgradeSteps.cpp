#include "upgrade/UpgradeSteps.h"

#include "serial/KestComms.h"
#include "serial/ResultCodes.h"
#include "shell/Main1.h"
#include "upgrade/BootSwitchTable.h"
#include "upgrade/ProgramRange.h"
#include "upgrade/StageLines.h"

#include <QString>
#include <QThread>

namespace {

const QString InitialisingLine = QStringLiteral("Initialising Upgrade.....");
const QString EnablingLine = QStringLiteral("Enabling BootLoader.....");
const QString ModelLine = QStringLiteral("Retrieving Model Number......");
const QString DisablingLine = QStringLiteral("Disabling Boot Mode......");
const QString RestartingLine = QStringLiteral("Restarting Unit......");
const QString FinalisingLine = QStringLiteral("Finalising Upgrade.....");

void Append(TMainForm& Form, const QString& Text) {
    Form.AddLogLine(Form.ListBox1, Text);
}

// The port is closed and opened again at the Modbus speed; a port that does not open shows
// in the exchanges that follow.
void ReopenForModbus(TMainForm& Form) {
    ReopenPortAt(Form.Comms, ModbusBaudRate(Form.ExpectedModelNumber));
}

// Each stage appends or completes its Line and gives true to go on with the step after
// it, false to end the run.
bool Initialise(TMainForm& Form, const QString& Line) {
    Form.ClearLogList();
    Append(Form, Line);
    // Without a program range there is nothing to erase or write: stop before the unit
    // is touched.
    if (!IsValidProgramRange(Form.LastProgramAddress)) {
        Form.ReplaceLastLogLine(Line + QStringLiteral("Error (No Program Range)"));
        return false;
    }
    // Nor with no flagged block in the range: erasing would leave the unit without
    // firmware.
    if (Form.ImageSelection().BlocksSent == 0) {
        Form.ReplaceLastLogLine(Line + QStringLiteral("Error (No Program Data)"));
        return false;
    }
    ReopenForModbus(Form);
    if (Form.ReadUnitIdentity() != TxResult::Ok) {
        Form.ReplaceLastLogLine(Line + QStringLiteral("Done (0)"));
        return true;
    }
    const int32_t backup = Form.BackupUnitSettings();
    if (backup == TxResult::Ok || backup == TxResult::NoSettingsToCarry) {
        Form.ReplaceLastLogLine(Line + QStringLiteral("Done (1)"));
        return true;
    }
    Form.ReplaceLastLogLine(Line + QStringLiteral("Error"));
    return false;
}

bool EnableBootMode(TMainForm& Form, const QString& Line) {
    Append(Form, Line);
    Form.EnableBootLoader();
    Form.ReplaceLastLogLine(Line + QStringLiteral("Done"));
    return true;
}

bool ReportBootloaderInfo(TMainForm& Form, const QString& Line) {
    Append(Form, Line);
    // The first answer after the switch is dropped.
    Form.GetBootloaderInfo();
    const int32_t info = Form.GetBootloaderInfo();
    if (info == TxResult::Failed) {
        Form.ReplaceLastLogLine(Line + QStringLiteral("Info Unavailable"));
    } else {
        const uint32_t value = static_cast<uint32_t>(info);
        const int rm = static_cast<int>(value >> 16);
        const int version = static_cast<int>(value & 0xFFFF);
        Form.ReplaceLastLogLine(
            Line + QString::asprintf("RM%d v%d.%.2d", rm, version / 100, version % 100));
    }
    return true;
}

bool CheckModelNumber(TMainForm& Form, const QString& Line) {
    Append(Form, Line);
    // The first answer is dropped here too.
    Form.GetModelNumber();
    if (Form.CommandPause > 0) {
        QThread::msleep(static_cast<unsigned long>(Form.CommandPause));
    }
    const uint32_t model = Form.GetModelNumber();
    if (model == Form.ExpectedModelNumber) {
        Form.ReplaceLastLogLine(Line + QStringLiteral("OK"));
        return true;
    }
    if (model < TMainForm::FirstNonModel) {
        Form.ReplaceLastLogLine(Line + QStringLiteral("Error (Incompatible Model)"));
    } else {
        Form.ReplaceLastLogLine(Line + QStringLiteral("Error (No Reply)"));
    }
    return false;
}

bool Erase(TMainForm& Form, const QString& Line) {
    Append(Form, Line);
    if (Form.EraseProgramMemory()) {
        return true;
    }
    Form.ReplaceLastLogLine(Line + QStringLiteral("Error Detected"));
    return false;
}

bool SendProgram(TMainForm& Form, const QString& Line) {
    Append(Form, Line);
    if (Form.SendProgramData()) {
        return true;
    }
    Form.ReplaceLastLogLine(Line + QStringLiteral("Error Detected"));
    return false;
}

bool LeaveBootMode(TMainForm& Form, const QString& Line) {
    Append(Form, Line);
    Form.DisableBootMode();
    Form.ReplaceLastLogLine(Line + QStringLiteral("Done"));
    return true;
}

bool Restart(TMainForm& Form, const QString& Line) {
    Append(Form, Line);
    // A unit that restarts at once may never answer.
    Form.RestartUnit();
    return true;
}

// Completes the line the restart appended, one step later.
bool ReportRestart(TMainForm& Form, const QString& Line) {
    Form.ReplaceLastLogLine(Line + QStringLiteral("Done"));
    return true;
}

bool Finalise(TMainForm& Form, const QString& Line) {
    Append(Form, Line);
    ReopenForModbus(Form);
    // A write-back that failed part-way leaves the unit with settings the operator must
    // check; the commit value has gone out all the same.
    const int32_t restored = Form.RestoreUnitSettings();
    if (restored == TxResult::Ok || restored == TxResult::NoSettingsToCarry) {
        Form.ReplaceLastLogLine(Line + QStringLiteral("Done"));
    } else {
        Form.ReplaceLastLogLine(Line + QStringLiteral("Error (Settings Not Restored)"));
    }
    return true;
}

struct TUpgradeStepRow {
    int Step;
    bool (*Stage)(TMainForm& Form, const QString& Line); // null for the final step
    const QString* Line;
    bool WrapUp;
    int Next; // after a stage that gives true; false always leads to the final step
};

namespace S = UpgradeStep;

// The steps in the order a run visits them.
const TUpgradeStepRow Steps[] = {
    {S::Initialise, Initialise, &InitialisingLine, false, S::EnableBootMode},
    {S::EnableBootMode, EnableBootMode, &EnablingLine, false, S::BootloaderInfo},
    {S::BootloaderInfo, ReportBootloaderInfo, &InfoLine, false, S::CheckModel},
    {S::CheckModel, CheckModelNumber, &ModelLine, false, S::Erase},
    {S::Erase, Erase, &ErasingLine, false, S::SendProgram},
    {S::SendProgram, SendProgram, &SendingLine, false, S::LeaveBootMode},
    {S::LeaveBootMode, LeaveBootMode, &DisablingLine, true, S::Restart},
    {S::Restart, Restart, &RestartingLine, true, S::ReportRestart},
    {S::ReportRestart, ReportRestart, &RestartingLine, true, S::Finalise},
    {S::Finalise, Finalise, &FinalisingLine, true, S::Final},
    {S::Final, nullptr, nullptr, false, NoNextUpgradeStep},
};

const TUpgradeStepRow* FindStep(int Step) {
    for (const TUpgradeStepRow& row : Steps) {
        if (row.Step == Step) {
            return &row;
        }
    }
    return nullptr;
}

} // namespace

bool IsUpgradeStep(int Step) {
    return FindStep(Step) != nullptr;
}

bool IsWrapUpStep(int Step) {
    const TUpgradeStepRow* row = FindStep(Step);
    return row != nullptr && row->WrapUp;
}

int RunUpgradeStage(TMainForm& Form, int Step) {
    const TUpgradeStepRow* row = FindStep(Step);
    if (row == nullptr || row->Stage == nullptr) {
        return NoNextUpgradeStep;
    }
    return row->Stage(Form, *row->Line) ? row->Next : FinalUpgradeStep;
}
