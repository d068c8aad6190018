// One unit of a command that runs several: this program started again for the unit's port
// alone (the very same single run), its output followed, its report read when it ends. A
// unit's failure, hang or crash stays in its own process.
#pragma once

#include "cli/CliOptions.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QProcess;
class QTimer;

enum class TUnitState { Waiting, Running, Ended };

class TCliUnitRun : public QObject {
public:
    // Arguments: the single run's, without --json; ReportPath: where it writes its report.
    TCliUnitRun(const TCliPort& UnitPort, const QStringList& UnitArguments,
                const QString& UnitReport, QObject* Parent);
    ~TCliUnitRun() override;
    TCliUnitRun(const TCliUnitRun&) = delete;
    TCliUnitRun& operator=(const TCliUnitRun&) = delete;

    void Start(const QString& Program);
    // Passes a request to stop on to a running unit; false when its program gets the
    // request itself.
    bool PassStop(const QString& Name);
    // Ends a unit that never started: stopped by Why.
    void EndUnstarted(const QString& Why);

    // Called on every change of stage, percentage or state; with each line that ends a
    // stage (and the outcome line); with each line of its standard error; once at its end.
    std::function<void()> OnChange;
    std::function<void(const QString&)> OnLine;
    std::function<void(const QString&)> OnError;
    std::function<void()> OnEnd;

    const TCliPort Port;
    TUnitState State = TUnitState::Waiting;
    QString Stage;      // the stage in progress or last ended, as its log line names it
    int Percent = -1;   // its percentage, -1 when it shows none
    QString StageState; // what it wrote after its name ("Done (1)", "OK")
    // Once ended: the unit's report as a single run writes it (Outcome and ExitStatus
    // always there), and its program's time from start to end.
    QJsonObject Report;
    double Seconds = 0;

    int Status() const;
    QString Outcome() const;

private:
    // The report is final: the unit has ended; those watching are told.
    void Ended();
    void ReadOutput();
    void ReadErrors();
    void TakeLine(const QString& Line);
    void Finished(bool Crashed);
    void Quiet();

    QStringList Arguments;
    QString ReportPath;
    QProcess* Process = nullptr;
    QTimer* Watch = nullptr;
    QElapsedTimer Clock;
    QString OutcomeLine; // the last "Outcome: ..." it printed
    QStringList Errors;  // its standard error, line by line
    bool Told = false;   // the watch asked it to stop
};
