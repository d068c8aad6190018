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

// Several units on their own ptys in one working directory, for one command that runs
// them all: the n-th (from 0) is COM<3+n> in its "Bootload.Ini".
class TCliLine {
public:
    explicit TCliLine(const std::vector<TUnitSimConfig>& Configs);
    TUnitSim& Unit(size_t Index) { return *Units.at(Index); }
    static std::string ComName(size_t Index) { return "COM" + std::to_string(3 + Index); }
    std::string Dir() const { return WorkDir.path().toStdString(); }
    std::string File(const std::string& Name) const { return Dir() + "/" + Name; }
    // "--port COM3 --port COM4 ...", one for each unit.
    std::vector<std::string> PortArguments() const;
    std::unique_ptr<TChildProcess> Start(const std::vector<std::string>& Arguments) const;
    TCliResult Run(const std::vector<std::string>& Arguments) const;

private:
    QTemporaryDir WorkDir;
    std::vector<std::unique_ptr<TUnitSim>> Units;
};

// The end of a started program: status, the rest of its output and its errors.
TCliResult Collect(TChildProcess& Program);

QJsonObject ReadJsonFile(const std::string& Path);

// This build's image, and the last address its processor's program memory has.
std::vector<uint8_t> BuildImage();
uint32_t BuildLastProgramAddress();

// The unit's program memory holds the image over the range a run writes.
void ExpectImageWritten(const TUnitSim& Unit, const std::vector<uint8_t>& Image = BuildImage());
