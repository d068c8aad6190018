#include "cli/CliUnitRun.h"

#include "cli/CliOutcome.h"
#include "cli/CliUnitProcess.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

namespace {

// A unit's program prints a line at least every stage and every 10 % of one; one silent
// this long is hung. It is asked to stop (it finishes an erase or write it is in), and
// ended when it has not within the grace that follows.
constexpr int QuietLimitMs = 180000;
constexpr int StopGraceMs = 60000;

} // namespace

TCliUnitRun::TCliUnitRun(const TCliPort& UnitPort, const QStringList& UnitArguments,
                         const QString& UnitReport, QObject* Parent)
    : QObject(Parent), Port(UnitPort), Arguments(UnitArguments), ReportPath(UnitReport) {
    Process = new QProcess(this);
    Watch = new QTimer(this);
    Watch->setSingleShot(true);
    connect(Watch, &QTimer::timeout, this, [this] { Quiet(); });
}

TCliUnitRun::~TCliUnitRun() {
    // The command ends only once every unit has: nothing is left running here.
    if (Process->state() != QProcess::NotRunning) {
        Process->kill();
        Process->waitForFinished(5000);
    }
}

int TCliUnitRun::Status() const {
    return Report.value(QStringLiteral("ExitStatus")).toInt(static_cast<int>(TCliStatus::Unknown));
}

QString TCliUnitRun::Outcome() const {
    return Report.value(QStringLiteral("Outcome")).toString();
}

void TCliUnitRun::Start(const QString& Program) {
    Process->setProgram(Program);
    Process->setArguments(Arguments + QStringList{QStringLiteral("--json"), ReportPath});
    Process->setStandardInputFile(QProcess::nullDevice());
    SetUpUnitProcess(*Process);
    connect(Process, &QProcess::readyReadStandardOutput, this, [this] { ReadOutput(); });
    connect(Process, &QProcess::readyReadStandardError, this, [this] { ReadErrors(); });
    connect(Process, &QProcess::finished, this,
            [this](int, QProcess::ExitStatus How) { Finished(How == QProcess::CrashExit); });
    connect(Process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError Error) {
        if (Error == QProcess::FailedToStart) {
            Finished(true);
        }
    });
    State = TUnitState::Running;
    Clock.start();
    Watch->start(QuietLimitMs);
    Process->start();
    if (OnChange) {
        OnChange();
    }
}

bool TCliUnitRun::PassStop(const QString& Name) {
    return State == TUnitState::Running && PassStopOn(*Process, Name);
}

void TCliUnitRun::EndUnstarted(const QString& Why) {
    const TCliOutcome stopped = OutcomeOfStatus(TCliStatus::Stopped);
    Report = QJsonObject{{"Port", Port.Name},
                         {"Messages", QJsonArray{Why}},
                         {"Outcome", stopped.Name},
                         {"ExitStatus", static_cast<int>(stopped.Status)}};
    Ended();
}

void TCliUnitRun::Ended() {
    State = TUnitState::Ended;
    if (OnChange) {
        OnChange();
    }
    if (OnEnd) {
        OnEnd();
    }
}

void TCliUnitRun::ReadOutput() {
    Process->setReadChannel(QProcess::StandardOutput);
    while (Process->canReadLine()) {
        TakeLine(QString::fromLocal8Bit(Process->readLine()).trimmed());
    }
}

void TCliUnitRun::ReadErrors() {
    Process->setReadChannel(QProcess::StandardError);
    while (Process->canReadLine()) {
        const QString line = QString::fromLocal8Bit(Process->readLine()).trimmed();
        Errors << line;
        if (OnError) {
            OnError(line);
        }
    }
}

// "Erasing Program Memory......40%", "Retrieving Model Number......OK", "Outcome: ...".
void TCliUnitRun::TakeLine(const QString& Line) {
    static const QRegularExpression staged(QStringLiteral("^(.*?)\\.{3,}(.*)$"));
    static const QRegularExpression percent(QStringLiteral("^([0-9]{1,3})%$"));
    Watch->start(QuietLimitMs);
    bool ends = true;
    if (Line.startsWith(QLatin1String("Outcome: "))) {
        OutcomeLine = Line;
    } else if (const QRegularExpressionMatch match = staged.match(Line); match.hasMatch()) {
        Stage = match.captured(1);
        StageState = match.captured(2);
        Percent = -1;
        if (const QRegularExpressionMatch number = percent.match(StageState); number.hasMatch()) {
            Percent = number.captured(1).toInt();
            StageState.clear();
            ends = Percent == 100;
        }
    }
    if (OnChange) {
        OnChange();
    }
    if (ends && OnLine) {
        OnLine(Line);
    }
}

void TCliUnitRun::Finished(bool Crashed) {
    if (State == TUnitState::Ended) {
        return; // a program that failed to start may also report its end
    }
    Watch->stop();
    Seconds = static_cast<double>(Clock.elapsed()) / 1000;
    ReadOutput();
    ReadErrors();
    // A last line without its newline.
    for (const QProcess::ProcessChannel channel :
         {QProcess::StandardOutput, QProcess::StandardError}) {
        Process->setReadChannel(channel);
        if (const QString rest = QString::fromLocal8Bit(Process->readAll()).trimmed();
            !rest.isEmpty()) {
            if (channel == QProcess::StandardOutput) {
                TakeLine(rest);
            } else {
                Errors << rest;
            }
        }
    }
    QFile file(ReportPath);
    if (file.open(QIODevice::ReadOnly)) {
        Report = QJsonDocument::fromJson(file.readAll()).object();
    }
    if (!Report.contains(QStringLiteral("ExitStatus"))) {
        // No report: it crashed, was ended, or never started. Its own words are kept.
        const bool normal = !Crashed && Process->exitStatus() == QProcess::NormalExit;
        const TCliOutcome outcome = OutcomeOfStatus(
            normal ? static_cast<TCliStatus>(Process->exitCode()) : TCliStatus::Unknown);
        QStringList messages = Errors;
        if (!normal) {
            messages << QStringLiteral("The unit's program ended abnormally: %1")
                            .arg(Process->errorString());
            if (OnError) {
                OnError(messages.last());
            }
        }
        Report = QJsonObject{{"Port", Port.Name},
                             {"Messages", QJsonArray::fromStringList(messages)},
                             {"Outcome", outcome.Name},
                             {"ExitStatus", static_cast<int>(outcome.Status)}};
    }
    Ended();
}

void TCliUnitRun::Quiet() {
    if (State != TUnitState::Running) {
        return;
    }
    if (!Told && PassStopOn(*Process, QStringLiteral("SIGTERM"))) {
        Told = true;
        if (OnError) {
            OnError(QStringLiteral("No output for %1 s: asked to stop").arg(QuietLimitMs / 1000));
        }
        Watch->start(StopGraceMs);
        return;
    }
    if (OnError) {
        OnError(QStringLiteral("No output for %1 s: ended")
                    .arg((QuietLimitMs + (Told ? StopGraceMs : 0)) / 1000));
    }
    Process->kill();
}
