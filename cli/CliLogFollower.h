// Follows the window's log list while a run is in progress: prints each line as it
// changes and keeps every stage (one log line) with the times it began and ended. It
// watches the list's own model, so it sees exactly what the window shows.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <vector>

class QListWidget;

struct TCliStage {
    QString Stage; // the line as its stage appended it ("Erasing Program Memory......")
    QString Line;  // its last text
    double StartMs = 0;
    double EndMs = 0;
    // What the stage wrote after its name ("Done (1)", "100%", "Error Detected").
    QString Outcome() const;
};

enum class TCliPrintMode {
    Terminal, // the last line rewritten in place
    Lines,    // one line per stage, percentages at most every 10 %
    Quiet,    // nothing
};

class TCliLogFollower : public QObject {
public:
    TCliLogFollower(QListWidget* Log, FILE* Stream, TCliPrintMode PrintMode);
    // The run has ended: the last line is final.
    void Finish();
    const std::vector<TCliStage>& Stages() const { return StageList; }
    QStringList Lines() const;
    double ElapsedMs() const;

private:
    void Appended(const QString& Text);
    void Replaced(const QString& Text);
    void Cleared();
    void Print(const QString& Text);
    void PrintFinal();

    QListWidget* List;
    FILE* Out;
    TCliPrintMode Mode;
    QElapsedTimer Clock;
    std::vector<TCliStage> StageList;
    QString Current;       // the last line's text
    QString LastPrinted;   // Lines: the last line printed
    int LastDecade = -1;   // Lines: the tens of the last percentage printed
    int InPlaceWidth = -1; // Terminal: width of the line being rewritten; -1: none
};
