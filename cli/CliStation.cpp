#include "cli/CliStation.h"

#include "cli/CliImage.h"
#include "cli/CliLogFollower.h"
#include "cli/CliOutcome.h"
#include "cli/SignalPipe.h"
#include "serial/KestComms.h"
#include "serial/ResultCodes.h"
#include "serial/remote/RemotePortName.h"
#include "shell/Main1.h"
#include "shell/ModalSeam.h"
#include "shell/Settings.h"
#include "upgrade/BootSwitchTable.h"
#include "upgrade/StageLines.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QListWidget>
#include <QSpinBox>
#include <QThread>
#include <QTimer>

#include <unistd.h>

#ifndef BOOTLOAD_CLI_VERSION
#define BOOTLOAD_CLI_VERSION "0.0.0.0"
#endif

namespace {

const QString ProcessorPromptCaption = QStringLiteral("Enter Processor No.");
const QString ModelPromptCaption = QStringLiteral("Enter RM No.");

QString VersionText(uint16_t Version) {
    return QString::asprintf("%d.%.2d", Version / 100, Version % 100);
}

QString Sha256(const uint8_t* Bytes, size_t Count) {
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArrayView(Bytes, static_cast<qsizetype>(Count)),
                                 QCryptographicHash::Sha256)
            .toHex());
}

QString Hex(uint32_t Value) {
    return QStringLiteral("0x") +
           QStringLiteral("%1").arg(Value, 4, 16, QLatin1Char('0')).toUpper();
}

TCliPrintMode PrintModeFor(bool Quiet, FILE* Out) {
    if (Quiet) {
        return TCliPrintMode::Quiet;
    }
    return ::isatty(::fileno(Out)) ? TCliPrintMode::Terminal : TCliPrintMode::Lines;
}

} // namespace

void PrintCliError(const QString& Text) {
    const QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    // Every message begins with a capital, as the window's own texts do; a remote port's
    // name that begins one stays as it is written (rfc2217://...).
    QString text = Text;
    if (!text.isEmpty() && !IsRemotePortName(text)) {
        text[0] = text[0].toUpper();
    }
    std::fprintf(stderr, "%s: %s\n", name.toLocal8Bit().constData(),
                 text.toLocal8Bit().constData());
    std::fflush(stderr);
}

TCliStation::TCliStation(TMainForm& Window, const TCliOptions& Given, FILE* Stream)
    : Form(Window), Options(Given), Out(Stream) {
    TModalSeam::SetHook([this](const TModalRequest& Request) {
        TModalAnswer answer;
        switch (Request.Kind) {
        case TModalKind::OpenFile:
            answer.Accepted = LoadingImage;
            answer.Text = LoadingImage ? this->Options.ImagePath : QString();
            break;
        case TModalKind::InputText:
            answer.Accepted = LoadingImage;
            if (Request.Caption == ProcessorPromptCaption) {
                answer.Text = this->Options.ProcessorText;
            } else if (Request.Caption == ModelPromptCaption) {
                answer.Text = this->Options.ModelText;
            } else {
                answer.Accepted = false;
            }
            break;
        case TModalKind::MessageBox:
            // An error box becomes a printed error; a question gets No.
            ReportError(Request.Text);
            if (!Request.InformativeText.isEmpty()) {
                ReportError(Request.InformativeText);
            }
            answer.Result =
                Request.Icon == QMessageBox::Question ? QMessageBox::No : QMessageBox::Ok;
            break;
        case TModalKind::Dialog:
            answer.Result = QDialog::Rejected;
            break;
        }
        return answer;
    });
    Signals = new TSignalPipe(this);
    connect(Signals, &TSignalPipe::Received, this, [this](const QString& Name) { OnSignal(Name); });
}

TCliStation::~TCliStation() {
    TModalSeam::SetHook({});
}

void TCliStation::ReportError(const QString& Text) {
    Messages << Text;
    PrintCliError(Text);
}

void TCliStation::Say(const QString& Text) {
    if (!Options.Quiet) {
        std::fprintf(Out, "%s\n", Text.toLocal8Bit().constData());
        std::fflush(Out);
    }
}

int TCliStation::Prepare() {
    QString error;
    // The files a run needs: a report by the name of one of them would replace it.
    const QList<TKeptFile> kept{
        {Form.SettingsDir + SettingsFileName, QStringLiteral("the settings file")},
        {Options.ImagePath, QStringLiteral("the image (--image)")},
        {QCoreApplication::applicationFilePath(), QStringLiteral("this program")},
    };
    if (!Report.Open(Options.JsonPath, kept, error)) {
        PrintCliError(error);
        return static_cast<int>(TCliStatus::BadArguments);
    }
    if (!Signals->IsReady()) {
        PrintCliError(QStringLiteral("Cannot catch the signals that stop a run"));
        return static_cast<int>(TCliStatus::Unknown);
    }
    if (!Options.ImagePath.isEmpty() && !LoadImage()) {
        return static_cast<int>(TCliStatus::BadArguments);
    }
    if (Options.ImagePath.isEmpty()) {
        // What start-up said of the build's image: the data a HEX file held outside
        // program memory.
        for (int i = 0; i < Form.ListBox1->count(); ++i) {
            Say(Form.ListBox1->item(i)->text());
        }
    }
    if (Options.Slave) {
        Form.SpinEdit1->setValue(*Options.Slave);
        Form.SlaveAddress = *Options.Slave;
    }

    const size_t programBytes =
        Form.LastProgramAddress >= 0x0800 ? Form.LastProgramAddress + 1 - 0x0800 : 0;
    Report.Root.insert(
        QStringLiteral("Program"),
        QJsonObject{{"Name", QFileInfo(QCoreApplication::applicationFilePath()).fileName()},
                    {"Version", QStringLiteral(BOOTLOAD_CLI_VERSION)}});
    Report.Root.insert(
        QStringLiteral("Image"),
        QJsonObject{{"Source",
                     Options.ImagePath.isEmpty() ? QStringLiteral("embedded") : Options.ImagePath},
                    {"Product", ApplicationTitle()},
                    {"Model", Form.ModelNumber},
                    {"ExpectedModel", Form.ExpectedModelNumber},
                    {"Processor", Form.ProcessorNumber},
                    {"FirmwareVersion", Form.FirmwareVersion},
                    {"Sha256", Sha256(Form.ImageBuffer.data(), Form.ImageBuffer.size())},
                    {"ProgramFirst", Hex(0x0800)},
                    {"ProgramLast", Hex(Form.LastProgramAddress)},
                    {"ProgramSha256", Sha256(Form.ImageBuffer.data() + 0x0800, programBytes)}});
    QJsonObject image = Report.Root.value(QStringLiteral("Image")).toObject();
    AddImageFacts(Form, image);
    Report.Root.insert(QStringLiteral("Image"), image);
    if (Options.Slave) {
        Report.Root.insert(QStringLiteral("Slave"), *Options.Slave);
    }
    if (!OpenPort()) {
        return Finish(static_cast<int>(TCliStatus::PortNotOpened),
                      OutcomeOfStatus(TCliStatus::PortNotOpened).Name);
    }
    return -1;
}

bool TCliStation::LoadImage() {
    const qsizetype before = Messages.size();
    const int linesBefore = Form.ListBox1->count();
    LoadingImage = true;
    Form.LoadFile1Click();
    LoadingImage = false;
    if (Messages.size() != before) {
        return false; // the window said why
    }
    // "New File Loaded...", and what a HEX file held outside program memory.
    for (int i = linesBefore; i < Form.ListBox1->count(); ++i) {
        Say(Form.ListBox1->item(i)->text());
    }
    return true;
}

bool TCliStation::OpenPort() {
    auto* comms = new TKestComms(&Form);
    Form.Comms = comms;
    comms->PortMapFile = Form.SettingsDir + SettingsFileName;
    if (Options.ComNumber > 0) {
        // COM numbers as the window's start-up gives them: a new adapter gets its number.
        Form.NumberNewPorts();
        Form.CommsPortNumber = Options.ComNumber;
        comms->CommPort = static_cast<TComport>(static_cast<uint8_t>(Options.ComNumber - 1));
    } else {
        comms->NamedDevice = Options.Port;
    }
    comms->BaudRate = ModbusBaudRate(Form.ExpectedModelNumber);
    comms->Parity = TParity::None;
    comms->DataBits = 8;
    comms->StopBits = TStopBits::sb1;
    comms->RxBufferSize = 500;
    bool opened = false;
    QString reason;
    try {
        opened = comms->Open();
    } catch (const ECommsError& error) {
        reason = QString::fromUtf8(error.what());
    }
    Report.Root.insert(QStringLiteral("Port"), Options.Port);
    Report.Root.insert(QStringLiteral("Device"), comms->DevicePath());
    if (!opened) {
        ReportError(QStringLiteral("Unable To Open Comms Port %1 (%2)%3")
                        .arg(Options.Port, comms->DevicePath(),
                             reason.isEmpty() ? QString() : QStringLiteral(": ") + reason));
        const QString why = comms->LastOpenFailure().Reason(
            Options.ComNumber > 0 ? QStringLiteral("COM%1").arg(Options.ComNumber) : QString());
        if (!why.isEmpty()) {
            ReportError(why);
        }
    }
    return opened;
}

void TCliStation::OnSignal(const QString& Name) {
    ++SignalsSeen;
    if (Identifying) {
        // Nothing is changed by a read: the wait in progress ends at once.
        PrintCliError(Name + QStringLiteral(": stopping"));
        if (Form.Comms != nullptr) {
            Form.Comms->Close();
        }
        return;
    }
    if (SignalsSeen == 1) {
        PrintCliError(Name + QStringLiteral(": stopping the update where the unit can be left"));
        Form.RequestStop();
    } else {
        PrintCliError(Name + QStringLiteral(": already stopping; the update ends as soon as the "
                                            "unit can be left"));
    }
}

int TCliStation::Finish(int Status, const QString& Outcome) {
    Report.Root.insert(QStringLiteral("Messages"), QJsonArray::fromStringList(Messages));
    Report.Root.insert(QStringLiteral("Outcome"), Outcome);
    Report.Root.insert(QStringLiteral("ExitStatus"), Status);
    QString error;
    QString outcome = Outcome;
    int exitStatus = Status;
    if (!Report.Write(error)) {
        // A run that failed keeps its own status; one that succeeded does not end with 0
        // when the report a script would read is missing.
        const QString run = Options.Action == TCliAction::Identify
                                ? QStringLiteral("identification")
                                : QStringLiteral("update");
        PrintCliError(QStringLiteral("%1 (the %2 itself ended: %3)").arg(error, run, Outcome));
        outcome += QStringLiteral(", report not written");
        if (Status == static_cast<int>(TCliStatus::Complete)) {
            exitStatus = static_cast<int>(TCliStatus::ReportNotWritten);
        }
    }
    const QByteArray line =
        QStringLiteral("Outcome: %1 (exit status %2)").arg(outcome).arg(exitStatus).toLocal8Bit();
    std::fprintf(Out, "%s\n", line.constData());
    std::fflush(Out);
    return exitStatus;
}

int TCliStation::Update() {
    if (const int status = Prepare(); status >= 0) {
        return status;
    }
    const QString started = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    if (Options.SkipCurrent) {
        if (const int status = SkipIfCurrent(started); status >= 0) {
            return status;
        }
    }
    TCliLogFollower follower(Form.ListBox1, Out, PrintModeFor(Options.Quiet, Out));
    connect(&Form, &TMainForm::UpgradeEnded, this, [] { QCoreApplication::exit(0); });
    Form.Button6Click();
    QCoreApplication::exec();
    follower.Finish();

    const TCliOutcome outcome = OutcomeOfRun(follower.Lines());
    QJsonArray stages;
    QJsonObject unit;
    if (Form.UnitModelNumber != 0) {
        unit.insert(QStringLiteral("Model"), Form.UnitModelNumber);
        unit.insert(QStringLiteral("FirmwareVersion"), Form.UnitFirmwareVersion);
    }
    for (const TCliStage& stage : follower.Stages()) {
        stages.append(QJsonObject{{"Stage", stage.Stage},
                                  {"Line", stage.Line},
                                  {"Outcome", stage.Outcome()},
                                  {"StartMs", stage.StartMs},
                                  {"EndMs", stage.EndMs}});
        if (stage.Stage == InfoLine) {
            unit.insert(QStringLiteral("Bootloader"), stage.Outcome());
        }
    }
    Report.Root.insert(QStringLiteral("Started"), started);
    Report.Root.insert(QStringLiteral("Unit"), unit);
    Report.Root.insert(QStringLiteral("Stages"), stages);
    Report.Root.insert(QStringLiteral("TotalSeconds"), follower.ElapsedMs() / 1000.0);
    return Finish(static_cast<int>(outcome.Status), outcome.Name);
}

int TCliStation::SkipIfCurrent(const QString& Started) {
    QElapsedTimer clock;
    clock.start();
    Identifying = true;
    int32_t result = TxResult::Failed;
    QTimer::singleShot(0, this, [&] {
        result = Form.ReadUnitIdentity();
        QCoreApplication::exit(0);
    });
    QCoreApplication::exec();
    Identifying = false;
    const bool current = result == TxResult::Ok && Form.UnitModelNumber == Form.ModelNumber &&
                         Form.UnitFirmwareVersion == Form.FirmwareVersion;
    if (!current && SignalsSeen == 0) {
        return -1;
    }
    QJsonObject unit;
    if (result == TxResult::Ok) {
        unit = QJsonObject{{"Model", Form.UnitModelNumber},
                           {"FirmwareVersion", Form.UnitFirmwareVersion}};
    }
    Report.Root.insert(QStringLiteral("Started"), Started);
    Report.Root.insert(QStringLiteral("Unit"), unit);
    Report.Root.insert(QStringLiteral("Stages"), QJsonArray());
    Report.Root.insert(QStringLiteral("TotalSeconds"), static_cast<double>(clock.elapsed()) / 1000);
    if (!current) {
        return Finish(static_cast<int>(TCliStatus::Stopped),
                      OutcomeOfStatus(TCliStatus::Stopped).Name);
    }
    Say(QStringLiteral("Running firmware: model %1, firmware version %2, this image's: "
                       "nothing written")
            .arg(Form.UnitModelNumber)
            .arg(VersionText(Form.UnitFirmwareVersion)));
    return Finish(static_cast<int>(TCliStatus::Complete), QStringLiteral("current"));
}

int TCliStation::Identify() {
    if (const int status = Prepare(); status >= 0) {
        return status;
    }
    Identifying = true;
    QJsonObject unit;
    TCliStatus status = TCliStatus::NoReply;
    const auto read = [&] {
        if (Form.ReadUnitIdentity() == TxResult::Ok) {
            unit = QJsonObject{{"Mode", "running"},
                               {"Model", Form.UnitModelNumber},
                               {"FirmwareVersion", Form.UnitFirmwareVersion}};
            Say(QStringLiteral("Running firmware: model %1, firmware version %2")
                    .arg(Form.UnitModelNumber)
                    .arg(VersionText(Form.UnitFirmwareVersion)));
            status = TCliStatus::Complete;
            return;
        }
        if (SignalsSeen > 0) {
            status = TCliStatus::Stopped;
            return;
        }
        // Not answering Modbus: perhaps waiting in its bootloader. Read as a run reads,
        // the first answer of each dropped.
        Form.Comms->Close();
        Form.Comms->BaudRate = BootloaderBaudRate(Form.ExpectedModelNumber);
        bool opened = false;
        try {
            opened = Form.Comms->Open();
        } catch (const ECommsError& error) {
            PrintCliError(QString::fromUtf8(error.what()));
        }
        if (!opened) {
            status = TCliStatus::PortNotOpened;
            return;
        }
        Form.GetBootloaderInfo();
        const int32_t info = Form.GetBootloaderInfo();
        Form.GetModelNumber();
        if (Form.CommandPause > 0) {
            QThread::msleep(static_cast<unsigned long>(Form.CommandPause));
        }
        const uint32_t model = Form.GetModelNumber();
        if (SignalsSeen > 0) {
            status = TCliStatus::Stopped;
            return;
        }
        if (model >= TMainForm::FirstNonModel) {
            unit = QJsonObject{{"Mode", "none"}};
            Say(QStringLiteral("No reply from the unit, neither its firmware nor its bootloader"));
            return;
        }
        unit = QJsonObject{{"Mode", "bootloader"}, {"Model", static_cast<int>(model)}};
        QString text = QStringLiteral("Bootloader: model %1").arg(model);
        if (info != TxResult::Failed) {
            const uint32_t value = static_cast<uint32_t>(info);
            unit.insert(QStringLiteral("BootloaderRm"), static_cast<int>(value >> 16));
            unit.insert(QStringLiteral("BootloaderVersion"), static_cast<int>(value & 0xFFFF));
            text += QStringLiteral(", RM%1 v%2").arg(value >> 16).arg(VersionText(value & 0xFFFF));
        } else {
            text += QStringLiteral(", identity unavailable");
        }
        Say(text);
        status = TCliStatus::Complete;
    };
    QTimer::singleShot(0, this, [&] {
        read();
        QCoreApplication::exit(0);
    });
    QCoreApplication::exec();
    Identifying = false;
    Report.Root.insert(QStringLiteral("Unit"), unit);
    const QString name = status == TCliStatus::Complete ? QStringLiteral("identified")
                                                        : OutcomeOfStatus(status).Name;
    return Finish(static_cast<int>(status), name);
}
