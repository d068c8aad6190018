// The command line of bootload-cli: what it is asked to do, checked before anything is
// opened. Every refusal is one line that names the option and why.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

enum class TCliAction { Update, Identify, ListPorts, Help, Version };

// One unit's port as the command line or the ports file names it.
struct TCliPort {
    QString Name;             // as given: "COM3", a device path or a URL
    int ComNumber = 0;        // 1.. for COMn; 0 for any other name
    std::optional<int> Slave; // the unit's own slave address (ports file), else --slave's
    QString Origin;           // where it was named: "--port" or "FILE, line N"
};

struct TCliOptions {
    TCliAction Action = TCliAction::Update;
    QString Port;             // the first unit's: as given, "COM3" or a device path
    int ComNumber = 0;        // 1.. for COMn; 0 for a device path
    std::optional<int> Slave; // 1..247, only for a product with a slave address
    QList<TCliPort> Ports;    // every unit's, in the order named
    // Several units: each runs in a program of its own, with one summary and one report.
    bool Many = false;
    int Jobs = 0; // how many run at once; 0: all of them, up to DefaultJobLimit
    bool SkipCurrent = false;
    QString ImagePath;     // with ProcessorText and ModelText; empty: the build's
    QString ProcessorText; // answered to the Load File prompts as typed
    QString ModelText;
    QString JsonPath; // "-" for standard output; empty: no report
    bool Quiet = false;
};

constexpr int ImageFileSize = 65536;
constexpr int FirstSlaveAddress = 1;
constexpr int LastSlaveAddress = 247;
// Units run at once when --jobs is not given, and the most --jobs takes.
constexpr int DefaultJobLimit = 32;
constexpr int LastJobs = 64;

// Arguments as the program got them (the first is its name). SlaveAddressAllowed: this
// build's product is the one whose unit's slave address is set. Nothing with Error set
// when the line is refused.
std::optional<TCliOptions> ParseCliOptions(const QStringList& Arguments, bool SlaveAddressAllowed,
                                           QString& Error);

// The short usage (printed after a refusal) and the whole help text, each line at most
// HelpWidth columns so that an 80-column console shows it unwrapped.
constexpr int HelpWidth = 79;
QString CliUsage(const QString& ProgramName);
QString CliHelp(const QString& ProgramName);
