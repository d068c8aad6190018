// The unit itself, without any I/O: it is told what bytes arrived, at what line rate and
// when, and says what it sends back and when. Running firmware and bootloader, the
// switches between them, the timing of requests and replies, the injected faults and the
// record of everything seen. Not thread-safe: its owner serialises the calls.
#pragma once

#include "tools/unitsim/BootDeframer.h"
#include "tools/unitsim/BootLoader.h"
#include "tools/unitsim/FlashModel.h"
#include "tools/unitsim/ModbusFramer.h"
#include "tools/unitsim/ModbusUnit.h"
#include "tools/unitsim/ReplyShaper.h"
#include "tools/unitsim/UnitSim.h"

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <vector>

class TUnitEngine {
public:
    using TClock = std::chrono::steady_clock;
    using TTime = TClock::time_point;

    TUnitEngine(const TUnitSimConfig& Config, TTime Start);

    void Receive(const uint8_t* Bytes, size_t Length, uint32_t LineRate, TTime Now);
    // Runs everything that has fallen due: silences, requests, mode switches.
    void Advance(uint32_t LineRate, TTime Now);
    // When Advance or TakeDueOutput next has something to do.
    std::optional<TTime> NextDue() const;
    std::vector<uint8_t> TakeDueOutput(TTime Now);

    // True once when an injected hang-up is due; the owner then drops the line.
    bool TakeHangUp();
    // The line went away: what was half heard and what was still to be sent is lost.
    void LineLost(TTime Now, const std::string& Why);
    // Bytes that fell due while there was no line are recorded as lost.
    void Discard(std::vector<uint8_t> Bytes, TTime Now);

    TUnitMode Mode() const { return CurrentMode; }
    // The rate the unit listens and sends at in its current mode.
    uint32_t ModeRate() const;
    TUnitSimReport Snapshot() const;

private:
    enum class TSwitchKind { EnterBoot, BeginRestart, RunFirmware, RestartBootloader };
    struct TSwitch {
        TTime At;
        TSwitchKind Kind;
    };
    struct TRequest {
        TTime Due;
        bool IsModbus = true;
        std::vector<uint8_t> Bytes; // Modbus frame, or bootloader body
        size_t LogIndex = 0;
    };
    struct TOutput {
        TTime Due;
        std::vector<uint8_t> Bytes;
    };

    void Log(TTime At, bool FromUpdater, uint32_t Rate, std::vector<uint8_t> Bytes,
             std::string Verdict);
    void DropHeld(TTime Now, uint32_t Rate, const std::string& Why);
    void TakeModbusPieces(std::vector<TModbusPiece> Pieces, uint32_t Rate, TTime Heard);
    void TakeBootPieces(std::vector<TBootPiece> Pieces, uint32_t Rate, TTime Heard);
    void Accept(bool IsModbus, std::vector<uint8_t> Bytes, size_t LogIndex, TTime Heard);
    void Process(const TRequest& Request, uint32_t LineRate);
    TTime SendReply(std::vector<uint8_t> Content, bool IsModbus, bool Spoil, TTime Start,
                    uint32_t LineRate);
    void ApplySwitch(const TSwitch& Switch);
    uint32_t RateOf(TUnitMode Mode) const;
    double MsSinceStart(TTime At) const;

    TUnitSimConfig Config;
    TTime Start;
    TUnitMode CurrentMode;
    bool Restarting = false;
    std::optional<TSwitch> Pending;

    TFlashModel Flash;
    TBootLoader Boot;
    TModbusUnit Modbus;
    TModbusFramer ModbusFrames;
    TBootDeframer BootFrames;
    TNoiseSource Noise;

    TTime LastHeard;
    TTime InboundLineFree;
    std::deque<TRequest> Requests;
    std::deque<TOutput> Output;

    uint32_t AnyReplies = 0;
    uint32_t ModbusReplies = 0;
    uint32_t BootReplies = 0;
    uint32_t ValidFrames = 0;
    bool HangUpFired = false;
    bool HangUpDue = false;
    uint32_t HangUps = 0;

    uint16_t FirmwareVersion;
    uint32_t BootEntries = 0;
    uint32_t Restarts = 0;
    uint32_t Commits = 0;
    std::map<TRegisterKey, uint16_t> CommittedSettings;
    std::vector<std::string> Faults;
    std::vector<TSimFrame> Frames;
};
