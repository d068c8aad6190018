// The command-line program run as a child process against simulated units: each station
// a unit on its own pty and a temporary working directory whose "Bootload.Ini" maps COM3
// to it.
#pragma once

#include "ChildProcess.h"
#include "tools/unitsim/UnitSim.h"

#include <QJsonObject>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

constexpr int CliBoundMs = 120000; // any run of the program ends well within this

struct TCliResult {
    int Status = -1;
    std::vector<std::string> Lines; // standard output
    std::string Errors;             // standard error
};

class TCliStation {
public:
    explicit TCliStation(const TUnitSimConfig& Config = {});
    TUnitSim& Unit() { return *SimUnit; }
    std::string Dir() const { return WorkDir.path().toStdString(); }
    std::string File(const std::string& Name) const { return Dir() + "/" + Name; }
    // Starts the program in the station's directory: bootload-cli Arguments...
    std::unique_ptr<TChildProcess> Start(const std::vector<std::string>& Arguments) const;
    // Runs it to its end.
    TCliResult Run(const std::vector<std::string>& Arguments) const;

private:
    QTemporaryDir WorkDir;
    std::unique_ptr<TUnitSim> SimUnit;
};

// The end of a started program: status, the rest of its output and its errors.
TCliResult Collect(TChildProcess& Program);

QJsonObject ReadJsonFile(const std::string& Path);

// This build's image, and the last address its processor's program memory has.
std::vector<uint8_t> BuildImage();
uint32_t BuildLastProgramAddress();
