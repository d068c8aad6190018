#include "upgrade/UpgradeSteps.h"

#include "serial/KestComms.h"
#include "shell/Main1.h"
#include "upgrade/BootSwitchTable.h"
#include "upgrade/ProgramRange.h"

#include <QString>
#include <QThread>

namespace {

const QString InitialisingLine = QStringLiteral("Initialising Upgrade.....");
const QString EnablingLine = QStringLiteral("Enabling BootLoader.....");
const QString InfoLine = QStringLiteral("Retrieving Bootloader Info......");
const QString ModelLine = QStringLiteral("Retrieving Model Number......");
const QString ErasingLine = QStringLiteral("Erasing Program Memory......");
const QString SendingLine = QStringLiteral("Sending New Program Data......");
const QString DisablingLine = QStringLiteral("Disabling Boot Mode......");
const QString RestartingLine = QStringLiteral("Restarting Unit......");
const QString FinalisingLine = QStringLiteral("Finalising Upgrade.....");

// Any value from 0x10000 on means the model-number read got no valid reply.
constexpr uint32_t FirstNonModel = 0x10000;

void Append(TMainForm& Form, const QString& Text) {
    Form.AddLogLine(Form.ListBox1, Text);
}

// The port is closed and opened again at the Modbus speed; a port that does not open shows
// in the exchanges that follow.
void ReopenForModbus(TMainForm& Form) {
    if (Form.Comms == nullptr) {
        return;
    }
    Form.Comms->Close();
    Form.Comms->BaudRate = ModbusBaudRate(Form.ExpectedModelNumber);
    Form.Comms->Open();
}

int Initialise(TMainForm& Form) {
    Form.ClearLogList();
    Append(Form, InitialisingLine);
    // Without a program range there is nothing to erase or write: stop before the unit
    // is touched.
    if (!IsValidProgramRange(Form.LastProgramAddress)) {
        Form.ReplaceLastLogLine(InitialisingLine + QStringLiteral("Error (No Program Range)"));
        return FinalUpgradeStep;
    }
    ReopenForModbus(Form);
    if (Form.ReadUnitIdentity() != 1) {
        Form.ReplaceLastLogLine(InitialisingLine + QStringLiteral("Done (0)"));
        return 0;
    }
    const int32_t backup = Form.BackupUnitSettings();
    if (backup == 1 || backup == TMainForm::NoSettingsToCarry) {
        Form.ReplaceLastLogLine(InitialisingLine + QStringLiteral("Done (1)"));
        return 0;
    }
    Form.ReplaceLastLogLine(InitialisingLine + QStringLiteral("Error"));
    return FinalUpgradeStep;
}

int EnableBootMode(TMainForm& Form) {
    Append(Form, EnablingLine);
    Form.EnableBootLoader();
    Form.ReplaceLastLogLine(EnablingLine + QStringLiteral("Done"));
    return 7;
}

int ReportBootloaderInfo(TMainForm& Form) {
    Append(Form, InfoLine);
    // The first answer after the switch is dropped.
    Form.GetBootloaderInfo();
    const int32_t info = Form.GetBootloaderInfo();
    if (info == -1) {
        Form.ReplaceLastLogLine(InfoLine + QStringLiteral("Info Unavailable"));
    } else {
        const uint32_t value = static_cast<uint32_t>(info);
        const int rm = static_cast<int>(value >> 16);
        const int version = static_cast<int>(value & 0xFFFF);
        Form.ReplaceLastLogLine(
            InfoLine + QString::asprintf("RM%d v%d.%.2d", rm, version / 100, version % 100));
    }
    return 1;
}

int CheckModelNumber(TMainForm& Form) {
    Append(Form, ModelLine);
    // The first answer is dropped here too.
    Form.GetModelNumber();
    if (Form.CommandPause > 0) {
        QThread::msleep(static_cast<unsigned long>(Form.CommandPause));
    }
    const uint32_t model = Form.GetModelNumber();
    if (model == Form.ExpectedModelNumber) {
        Form.ReplaceLastLogLine(ModelLine + QStringLiteral("OK"));
        return 2;
    }
    if (model < FirstNonModel) {
        Form.ReplaceLastLogLine(ModelLine + QStringLiteral("Error (Incompatible Model)"));
    } else {
        Form.ReplaceLastLogLine(ModelLine + QStringLiteral("Error (No Reply)"));
    }
    return FinalUpgradeStep;
}

int Erase(TMainForm& Form) {
    Append(Form, ErasingLine);
    if (Form.EraseProgramMemory()) {
        return 3;
    }
    Form.ReplaceLastLogLine(ErasingLine + QStringLiteral("Error Detected"));
    return FinalUpgradeStep;
}

int SendProgram(TMainForm& Form) {
    Append(Form, SendingLine);
    if (Form.SendProgramData()) {
        return 4;
    }
    Form.ReplaceLastLogLine(SendingLine + QStringLiteral("Error Detected"));
    return FinalUpgradeStep;
}

int LeaveBootMode(TMainForm& Form) {
    Append(Form, DisablingLine);
    Form.DisableBootMode();
    Form.ReplaceLastLogLine(DisablingLine + QStringLiteral("Done"));
    return 5;
}

int Restart(TMainForm& Form) {
    Append(Form, RestartingLine);
    // A unit that restarts at once may never answer.
    Form.RestartUnit();
    return 6;
}

int ReportRestart(TMainForm& Form) {
    Form.ReplaceLastLogLine(RestartingLine + QStringLiteral("Done"));
    return 21;
}

int Finalise(TMainForm& Form) {
    Append(Form, FinalisingLine);
    ReopenForModbus(Form);
    // A write-back that failed part-way leaves the unit with settings the operator must
    // check; the commit value has gone out all the same.
    const int32_t restored = Form.RestoreUnitSettings();
    if (restored == 1 || restored == TMainForm::NoSettingsToCarry) {
        Form.ReplaceLastLogLine(FinalisingLine + QStringLiteral("Done"));
    } else {
        Form.ReplaceLastLogLine(FinalisingLine + QStringLiteral("Error (Settings Not Restored)"));
    }
    return FinalUpgradeStep;
}

} // namespace

bool IsUpgradeStep(int Step) {
    switch (Step) {
    case 20:
    case 0:
    case 7:
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 21:
    case 99:
        return true;
    default:
        return false;
    }
}

bool IsWrapUpStep(int Step) {
    return Step == 4 || Step == 5 || Step == 6 || Step == 21;
}

int RunUpgradeStage(TMainForm& Form, int Step) {
    switch (Step) {
    case 20:
        return Initialise(Form);
    case 0:
        return EnableBootMode(Form);
    case 7:
        return ReportBootloaderInfo(Form);
    case 1:
        return CheckModelNumber(Form);
    case 2:
        return Erase(Form);
    case 3:
        return SendProgram(Form);
    case 4:
        return LeaveBootMode(Form);
    case 5:
        return Restart(Form);
    case 6:
        return ReportRestart(Form);
    case 21:
        return Finalise(Form);
    default:
        return NoNextUpgradeStep;
    }
}
