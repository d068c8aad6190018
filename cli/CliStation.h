// One station of the command-line program: the real main window, never shown, driven as
// an operator would drive it (Load File, the slave address, Start) on the port given,
// with every dialog answered and printed, the log list followed and a signal turned
// into the window's own stop.
#pragma once

#include "cli/CliOptions.h"
#include "cli/CliReport.h"

#include <QObject>
#include <QStringList>

#include <cstdio>

class TMainForm;
class TSignalPipe;

// "bootload-cli: " and the text, on standard error.
void PrintCliError(const QString& Text);

class TCliStation : public QObject {
public:
    // Window has gone through the start-up steps that need no port (identity and image).
    TCliStation(TMainForm& Window, const TCliOptions& Given, FILE* Stream);
    ~TCliStation() override;
    TCliStation(const TCliStation&) = delete;
    TCliStation& operator=(const TCliStation&) = delete;

    // Each runs to its end and gives the exit status.
    int Update();
    int Identify();

private:
    // The steps before either: the report opened, the image loaded, the slave address set,
    // the port opened. A status other than -1 ends the program with it.
    int Prepare();
    bool LoadImage();
    bool OpenPort();
    // --skip-current: the exit status of a unit whose running firmware reports this image's
    // model and firmware version (nothing written), or -1 to go on with the update.
    int SkipIfCurrent(const QString& Started);
    void OnSignal(const QString& Name);
    int Finish(int Status, const QString& Outcome);
    // Prints an error and keeps it for the report.
    void ReportError(const QString& Text);
    void Say(const QString& Text);

    TMainForm& Form;
    TCliOptions Options;
    FILE* Out;
    TCliReport Report;
    TSignalPipe* Signals = nullptr;
    QStringList Messages;      // every dialog's text, in order
    bool LoadingImage = false; // the Load File prompts are answered from the options
    bool Identifying = false;
    int SignalsSeen = 0;
};
