// The simulated unit for the upgrade tests: started on its own pty, and its report read
// back as the requests the program sent.
#pragma once

#include "tools/unitsim/UnitSim.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TMainForm;

// A started unit; the test fails at once when it cannot start.
std::unique_ptr<TUnitSim> StartUnit(const TUnitSimConfig& Config);

// A DLE-framed request from the program, unstuffed.
struct TBootRequest {
    uint8_t Command = 0;
    uint8_t Count = 0;
    std::vector<uint8_t> Payload;
    uint32_t Rate = 0;
    // The 24-bit address of an addressed command (erase, write), low byte first.
    uint32_t Address() const;
};

struct TModbusRequest {
    uint8_t Slave = 0;
    uint8_t Function = 0;
    uint16_t Register = 0;
    uint16_t Value = 0;           // the value written, or the count of a read or multiple write
    std::vector<uint16_t> Values; // of a multiple write
    uint32_t Rate = 0;
};

std::vector<TBootRequest> BootRequests(const TUnitSimReport& Report);
std::vector<TBootRequest> BootRequests(const TUnitSimReport& Report, uint8_t Command);
std::vector<TModbusRequest> ModbusRequests(const TUnitSimReport& Report);

// Seconds the bytes need on the wire at their rate, 10 bits a byte, requests and replies:
// of every frame, or of the bootloader frames of one command.
double WireSeconds(const TUnitSimReport& Report);
double BootWireSeconds(const TUnitSimReport& Report, uint8_t Command);

// The unit's flash holds the window's image over the whole program range.
void ExpectFlashHoldsImage(const TUnitSimReport& Report, const TMainForm& Form);
