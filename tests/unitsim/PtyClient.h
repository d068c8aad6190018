// The updater's side of the line, as small as a test needs: opens the unit's port raw at
// a rate, writes bytes, and reads what comes back within a bound.
#pragma once

#include "tools/unitsim/UnitSim.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

using TBytes = std::vector<uint8_t>;

// "13 03 00 14" -> bytes.
TBytes FromHex(const std::string& Text);
std::string ToHex(const TBytes& Bytes);
// Appends the Modbus CRC, low byte first.
TBytes WithCrc(TBytes Bytes);

class TPtyClient {
public:
    TPtyClient() = default;
    TPtyClient(const std::string& Path, uint32_t Rate) { Open(Path, Rate); }
    ~TPtyClient() { Close(); }
    TPtyClient(const TPtyClient&) = delete;
    TPtyClient& operator=(const TPtyClient&) = delete;

    bool Open(const std::string& Path, uint32_t Rate);
    bool SetRate(uint32_t Rate);
    void Close();
    bool IsOpen() const { return Fd >= 0; }

    // All bytes, or false after 2 s without room.
    bool Write(const TBytes& Bytes);
    // Reads until Count bytes have come or TimeoutMs has passed.
    TBytes ReadCount(size_t Count, int TimeoutMs = 2000);
    // Reads until the line has been quiet for QuietMs (or TimeoutMs in all): with nothing
    // expected, whatever came within that window.
    TBytes ReadUntilQuiet(int QuietMs = 150, int TimeoutMs = 3000);
    // A reply of unknown length: waits up to FirstByteMs for it to begin, then reads
    // until the line has been quiet for QuietMs.
    TBytes ReadReply(int QuietMs = 150, int FirstByteMs = 2000);
    // Write, then read Count bytes.
    TBytes Ask(const TBytes& Request, size_t Count, int TimeoutMs = 2000);
    // True when the far end hung up (poll reports POLLHUP/POLLERR or read gives EIO)
    // within TimeoutMs.
    bool HangsUp(int TimeoutMs);

private:
    int Fd = -1;
};

// A unit that runs for the life of the test, with the client opened at its Modbus rate.
struct TRunningUnit {
    explicit TRunningUnit(const TUnitSimConfig& Config = {});
    TUnitSim Unit;
    TPtyClient Line;
};

// The unit's speeds for a model.
uint32_t ModbusRateOf(uint16_t Model);
uint32_t BootRateOf(uint16_t Model);
