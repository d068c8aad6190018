// The command-line program's main block: the window's start-up steps that need no port,
// with the window never shown (the offscreen platform, whatever the session), then the
// one thing the command line asks for.
#include "cli/CliFleet.h"
#include "cli/CliImage.h"
#include "cli/CliOptions.h"
#include "cli/CliPorts.h"
#include "cli/CliStation.h"
#include "shell/Main1.h"
#include "shell/ModalSeam.h"
#include "shell/ProductTable.h"
#include "shell/StartUp.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

#ifndef BOOTLOAD_CLI_VERSION
#define BOOTLOAD_CLI_VERSION "0.0.0.0"
#endif

namespace {

void PrintText(FILE* Stream, const QString& Text) {
    std::fputs(Text.toLocal8Bit().constData(), Stream);
    std::fflush(Stream);
}

// Qt's own notes (platform plugin, fonts) are not the program's output; the program's
// logging categories still reach standard error when QT_LOGGING_RULES turns them on.
void FilterQtMessages(QtMsgType Type, const QMessageLogContext& Context, const QString& Text) {
    const QLatin1String category(Context.category != nullptr ? Context.category : "");
    if (!category.startsWith(QLatin1String("bootload.")) && Type != QtCriticalMsg &&
        Type != QtFatalMsg) {
        return;
    }
    std::fprintf(stderr, "%s\n", qFormatLogMessage(Type, Context, Text).toLocal8Bit().constData());
}

} // namespace

int main(int argc, char** argv) {
    // No display: the window is created but never shown.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(FilterQtMessages);
    QApplication application(argc, argv);
    const QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();

    // Start-up as the window's, without showing it, reading or writing the settings, or
    // opening the saved port: the port is the command line's.
    const std::unique_ptr<TMainForm> window = MakeMainForm();
    TMainForm& form = *window;
    QString dir = QDir::currentPath();
    form.SettingsDir = dir.endsWith(u'/') ? dir : dir + u'/';
    form.SlaveAddress = 1;
    int status = 0;
    {
        // Errors of the start-up steps (a missing resource) are printed, not shown.
        QStringList errors;
        TModalSeam::SetHook([&errors](const TModalRequest& Request) {
            errors << Request.Text;
            PrintCliError(Request.Text);
            return TModalAnswer{};
        });
        form.ImageBuffer.fill(0);
        form.ApplyProductIdentity();
        form.LoadEmbeddedImage();
        TModalSeam::SetHook({});
        if (!errors.isEmpty()) {
            return 1;
        }
    }

    const bool slaveAllowed =
        LookUpProduct(form.ModelNumber, form.FirmwareVersion).ShowSlaveAddress;
    QString error;
    const std::optional<TCliOptions> options =
        ParseCliOptions(QCoreApplication::arguments(), slaveAllowed, error);
    if (!options) {
        PrintCliError(error);
        PrintText(stderr, CliUsage(name) + QStringLiteral("Try '%1 --help'.\n").arg(name));
        return 2;
    }
    switch (options->Action) {
    case TCliAction::Help:
        PrintText(stdout, CliHelp(name));
        return 0;
    case TCliAction::Version: {
        const TProductRow* row = FindProductRow(form.ModelNumber);
        const std::string firmware =
            FormatFirmwareVersion(form.FirmwareVersion, row != nullptr ? row->VersionDigits : 2);
        PrintText(stdout,
                  QStringLiteral("%1 %2\n%3 (model %4, processor %5, firmware version %6)\n")
                      .arg(name, QStringLiteral(BOOTLOAD_CLI_VERSION), ApplicationTitle())
                      .arg(form.ModelNumber)
                      .arg(form.ProcessorNumber)
                      .arg(QString::fromStdString(firmware)));
        PrintText(stdout, ImageFactsText(form));
        return 0;
    }
    case TCliAction::ListPorts:
        return ListPorts(form, stdout);
    case TCliAction::Update:
    case TCliAction::Identify: {
        // With the report on standard output, the progress goes to standard error.
        FILE* out = options->JsonPath == QLatin1String("-") ? stderr : stdout;
        if (options->Many) {
            return RunFleet(form, *options, out);
        }
        TCliStation station(form, *options, out);
        status = options->Action == TCliAction::Update ? station.Update() : station.Identify();
        break;
    }
    }
    return status;
}
