#include "cli/CliFleet.h"

#include "cli/CliFleetTable.h"
#include "cli/CliFleetView.h"
#include "cli/CliOutcome.h"
#include "cli/CliReport.h"
#include "cli/CliStation.h"
#include "cli/CliUnitPorts.h"
#include "cli/CliUnitRun.h"
#include "cli/SignalPipe.h"
#include "shell/Main1.h"
#include "shell/Settings.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <vector>

#ifndef BOOTLOAD_CLI_VERSION
#define BOOTLOAD_CLI_VERSION "0.0.0.0"
#endif

namespace {

// The single run of one unit, as it would be typed for its port alone.
QStringList UnitArguments(const TCliOptions& Options, const TCliPort& Port) {
    QStringList arguments{QStringLiteral("--port"), Port.Name};
    if (Port.Slave) {
        arguments << QStringLiteral("--slave") << QString::number(*Port.Slave);
    }
    if (!Options.ImagePath.isEmpty()) {
        arguments << QStringLiteral("--image") << Options.ImagePath << QStringLiteral("--processor")
                  << Options.ProcessorText << QStringLiteral("--model") << Options.ModelText;
    }
    if (Options.Action == TCliAction::Identify) {
        arguments << QStringLiteral("--identify");
    }
    if (Options.SkipCurrent) {
        arguments << QStringLiteral("--skip-current");
    }
    return arguments;
}

class TCliFleet : public QObject {
public:
    TCliFleet(const TCliOptions& Given, FILE* Stream) : Options(Given), Out(Stream) {
        Signals = new TSignalPipe(this);
        connect(Signals, &TSignalPipe::Received, this,
                [this](const QString& Name) { OnSignal(Name); });
    }
    int Run(const TMainForm& Form);

private:
    void StartMore();
    void UnitEnded();
    void OnSignal(const QString& Name);
    int Finish();

    TCliOptions Options;
    FILE* Out;
    TSignalPipe* Signals = nullptr;
    TCliReport Report;
    QTemporaryDir Reports; // each unit's report, read when it ends
    std::vector<TCliUnitRun*> Units;
    std::unique_ptr<TCliFleetView> View;
    int Jobs = 1;
    size_t Next = 0; // the next unit to start
    int SignalsSeen = 0;
    QString Started;
    QElapsedTimer Clock;
};

int TCliFleet::Run(const TMainForm& Form) {
    const QString program = QCoreApplication::applicationFilePath();
    const QString settings = Form.SettingsDir + SettingsFileName;
    QString error;
    const QList<TKeptFile> kept{
        {settings, QStringLiteral("the settings file")},
        {Options.ImagePath, QStringLiteral("the image (--image)")},
        {program, QStringLiteral("this program")},
    };
    if (!Report.Open(Options.JsonPath, kept, error)) {
        PrintCliError(error);
        return static_cast<int>(TCliStatus::BadArguments);
    }
    if (const QString same = SameDeviceTwice(Options.Ports, settings); !same.isEmpty()) {
        PrintCliError(same);
        return static_cast<int>(TCliStatus::BadArguments);
    }
    if (!Signals->IsReady()) {
        PrintCliError(QStringLiteral("Cannot catch the signals that stop a run"));
        return static_cast<int>(TCliStatus::Unknown);
    }
    if (!Reports.isValid()) {
        PrintCliError(QStringLiteral("Cannot make a folder for the units' reports: %1")
                          .arg(Reports.errorString()));
        return static_cast<int>(TCliStatus::Unknown);
    }
    for (qsizetype index = 0; index < Options.Ports.size(); ++index) {
        const TCliPort& port = Options.Ports[index];
        auto* unit =
            new TCliUnitRun(port, UnitArguments(Options, port),
                            Reports.filePath(QStringLiteral("unit%1.json").arg(index + 1)), this);
        unit->OnChange = [this] { View->Changed(); };
        unit->OnLine = [this, unit](const QString& Line) { View->Line(*unit, Line); };
        unit->OnError = [this, unit](const QString& Line) { View->Message(unit, Line); };
        unit->OnEnd = [this] { UnitEnded(); };
        Units.push_back(unit);
    }
    Jobs =
        Options.Jobs > 0 ? Options.Jobs : std::min(static_cast<int>(Units.size()), DefaultJobLimit);
    View = std::make_unique<TCliFleetView>(Units, Out,
                                           !Options.Quiet && Options.Action == TCliAction::Update);
    Started = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    Clock.start();
    View->Changed();
    QTimer::singleShot(0, this, [this] { StartMore(); });
    QCoreApplication::exec();
    return Finish();
}

void TCliFleet::StartMore() {
    const auto running = [this] {
        return std::count_if(Units.begin(), Units.end(), [](const TCliUnitRun* Unit) {
            return Unit->State == TUnitState::Running;
        });
    };
    while (SignalsSeen == 0 && Next < Units.size() && running() < Jobs) {
        Units[Next++]->Start(QCoreApplication::applicationFilePath());
    }
}

void TCliFleet::UnitEnded() {
    if (std::all_of(Units.begin(), Units.end(),
                    [](const TCliUnitRun* Unit) { return Unit->State == TUnitState::Ended; })) {
        QCoreApplication::exit(0);
        return;
    }
    // Started from the event loop: a unit that ends as it starts does not start another
    // inside this one's start.
    QTimer::singleShot(0, this, [this] { StartMore(); });
}

void TCliFleet::OnSignal(const QString& Name) {
    if (++SignalsSeen > 1) {
        View->Message(nullptr, Name + QStringLiteral(": already stopping; each unit ends as "
                                                     "soon as it can be left"));
        return;
    }
    View->Message(nullptr, Name + QStringLiteral(": stopping: units not yet erasing stop, units "
                                                 "erasing or writing finish"));
    for (TCliUnitRun* unit : Units) {
        if (unit->State == TUnitState::Running) {
            unit->PassStop(Name);
        }
    }
    for (TCliUnitRun* unit : Units) {
        if (unit->State == TUnitState::Waiting) {
            unit->EndUnstarted(QStringLiteral("Not started: stopped by %1").arg(Name));
        }
    }
}

int TCliFleet::Finish() {
    View->Finish();
    const bool identify = Options.Action == TCliAction::Identify;
    QList<TUnitEnd> ends;
    QJsonArray reports;
    QJsonArray rows;
    for (const TCliUnitRun* unit : Units) {
        ends << TUnitEnd{unit->Port.Name, unit->Report, unit->Seconds};
        reports.append(unit->Report);
        rows.append(SummaryRow(ends.last(), identify));
    }
    const TFleetOutcome outcome = FleetOutcome(ends, identify);
    if (!Options.Quiet && !identify) {
        std::fputc('\n', Out);
    }
    std::fputs(SummaryTable(ends, identify).toLocal8Bit().constData(), Out);

    QJsonObject summary = outcome.Counts;
    summary.insert(QStringLiteral("Table"), rows);
    summary.insert(QStringLiteral("TotalSeconds"), static_cast<double>(Clock.elapsed()) / 1000);
    summary.insert(QStringLiteral("Outcome"),
                   outcome.Status == 0 ? QStringLiteral("complete")
                                       : OutcomeOfStatus(TCliStatus::SomeUnitsFailed).Name);
    summary.insert(QStringLiteral("ExitStatus"), outcome.Status);
    Report.Root.insert(
        QStringLiteral("Program"),
        QJsonObject{{"Name", QFileInfo(QCoreApplication::applicationFilePath()).fileName()},
                    {"Version", QStringLiteral(BOOTLOAD_CLI_VERSION)}});
    Report.Root.insert(QStringLiteral("Started"), Started);
    Report.Root.insert(QStringLiteral("Units"), reports);
    Report.Root.insert(QStringLiteral("Summary"), summary);
    QString text = outcome.Text;
    int status = outcome.Status;
    if (QString error; !Report.Write(error)) {
        PrintCliError(QStringLiteral("%1 (the units themselves ended: %2)").arg(error, text));
        text += QStringLiteral(", report not written");
        if (status == 0) {
            status = static_cast<int>(TCliStatus::ReportNotWritten);
        }
    }
    std::fprintf(Out, "Outcome: %s (exit status %d)\n", text.toLocal8Bit().constData(), status);
    std::fflush(Out);
    return status;
}

} // namespace

int RunFleet(const TMainForm& Form, const TCliOptions& Options, FILE* Out) {
    TCliFleet fleet(Options, Out);
    return fleet.Run(Form);
}
