// The running firmware's Modbus side: the slaves the unit answers as, their registers,
// the switching method of the unit's model and the commit command.
#pragma once

#include "tools/unitsim/UnitSim.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

constexpr uint16_t BootloaderKey = 5183;
constexpr uint16_t CommitValue = 3962;

// One request of a switching method; every one carries the bootloader key. Slave 0 is a
// broadcast.
struct TSwitchStep {
    uint8_t Slave = 0;
    uint8_t Function = 0;
    uint16_t Register = 0;
};

// The requests that switch a unit of Model into its bootloader, in order; none for a
// model that starts in it (5479) or is unknown.
std::vector<TSwitchStep> SwitchMethod(uint16_t Model, uint8_t OperatorSlave);
// "(19,103,29)", "(1,6,156) then (0,6,156)" or "none".
std::string DescribeMethod(const std::vector<TSwitchStep>& Method);

struct TModbusOutcome {
    std::vector<uint8_t> Reply; // empty: the unit stays silent
    std::string Verdict;
    std::vector<std::string> Faults; // of the updater
    bool SwitchToBoot = false;       // once the reply (if any) has gone out
    bool Committed = false;
};

class TModbusUnit {
public:
    explicit TModbusUnit(const TUnitSimConfig& Config);

    // Acts on one request whose CRC is good.
    TModbusOutcome Handle(const std::vector<uint8_t>& Frame);

    bool HasSlave(uint8_t Slave) const;
    void SetFirmwareVersion(uint16_t Version);
    void ResetSettings();
    // A half-done two-request method is forgotten (the unit left Modbus mode).
    void Disarm() { Armed = 0; }

    std::map<TRegisterKey, uint16_t> Registers() const;
    std::map<TRegisterKey, uint16_t> Settings() const;
    static bool IsSettingsRegister(TRegisterKey Key);

private:
    struct TRegister {
        uint16_t Value = 0;
        bool Writable = true;
        bool Command = false; // takes the key or the commit value as a command
    };

    TModbusOutcome Read(const std::vector<uint8_t>& Frame);
    TModbusOutcome WriteOne(const std::vector<uint8_t>& Frame);
    TModbusOutcome WriteMany(const std::vector<uint8_t>& Frame);
    bool TrySwitchStep(const std::vector<uint8_t>& Frame, TModbusOutcome& Outcome);
    const TRegister* Find(uint8_t Slave, uint16_t Register) const;
    std::vector<uint8_t> TargetsOf(uint8_t Slave, uint16_t First, uint16_t Count) const;

    std::map<TRegisterKey, TRegister> Map;
    std::set<uint8_t> Slaves;
    std::vector<TSwitchStep> Method;
    size_t Armed = 0; // requests of the method seen in a row
};

// A reply with its CRC appended.
std::vector<uint8_t> WithModbusCrc(std::vector<uint8_t> Bytes);
