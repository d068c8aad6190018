// The command line of bootload-cli: what it is asked to do, checked before anything is
// opened. Every refusal is one line that names the option and why.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

enum class TCliAction { Update, Identify, ListPorts, Help, Version };

struct TCliOptions {
    TCliAction Action = TCliAction::Update;
    QString Port;             // as given: "COM3" or a device path
    int ComNumber = 0;        // 1.. for COMn; 0 for a device path
    std::optional<int> Slave; // 1..247, only for a product with a slave address
    QString ImagePath;        // with ProcessorText and ModelText; empty: the build's
    QString ProcessorText;    // answered to the Load File prompts as typed
    QString ModelText;
    QString JsonPath; // "-" for standard output; empty: no report
    bool Quiet = false;
};

constexpr int ImageFileSize = 65536;
constexpr int FirstSlaveAddress = 1;
constexpr int LastSlaveAddress = 247;

// Arguments as the program got them (the first is its name). SlaveAddressAllowed: this
// build's product is the one whose unit's slave address is set. Nothing with Error set
// when the line is refused.
std::optional<TCliOptions> ParseCliOptions(const QStringList& Arguments, bool SlaveAddressAllowed,
                                           QString& Error);

// The short usage (printed after a refusal) and the whole help text.
QString CliUsage(const QString& ProgramName);
QString CliHelp(const QString& ProgramName);
