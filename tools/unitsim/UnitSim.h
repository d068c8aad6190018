// TUnitSim: a simulated instrument on the far end of a pseudo-terminal.
//
// The unit is reached through the slave side of a pty, exactly as the updater reaches a
// real unit through a serial port. It keeps its own slave descriptor open, so the updater
// closing and re-opening the port (it does so at every speed change) never hangs up the
// line. It reads the bit rate the updater set on the slave whenever bytes arrive, and
// only listens at the rate of its current mode:
//
//   running firmware   Modbus RTU at 9,600 baud (800,000 for model 5466)
//   bootloader         DLE-framed protocol at 115,200 baud (92,160 for model 5466)
//
// A rate within 1 % of the expected one is accepted, as a real UART would; bytes at any
// other rate are recorded with the verdict "wrong rate" and otherwise ignored.
//
// Running firmware. Requests are framed by their function code (3, 6, 103: 8 bytes;
// 16, 104: 9 + byte count), any other function by a silence gap; the CRC is checked and a
// bad frame is skipped a byte at a time; a partial frame is dropped after the silence gap.
// Slaves 17 (register 24), 19 (20 model, 21 firmware version x 100, 22..32 settings,
// 29 also the key and commit register) and 20 (7..28), plus the slaves of the model's
// switching method. Functions 3 (read), 6 and 103 (write one), 104 (write several);
// exception 1 for any other function, 2 for an unknown or read-only register, 3 for a bad
// count; silence for slave 0 (broadcast writes are acted on, never answered) and for
// slaves the unit does not have. Writing the bootloader key 5183 by the model's method
// (both requests in a row for a two-request method) switches to the bootloader once the
// reply has gone out. Writing the commit value 3962 to register 29 of slave 19 with
// function 103 commits the settings. Either value written to a key or commit register
// any other way is recorded as a fault of the updater, and neither stored nor obeyed.
//
// Bootloader. DLE STX body DLE ETX, every DLE in the body doubled, the body summing to 0.
// 08/4 identity, 00/2 model number, 03/8 erase a 512-byte page, 02/2 write a 128-byte
// block, 05/1 FF 03 00 00 leave boot mode, 00/0 restart. Anything a real bootloader
// would refuse (unknown command, wrong count or payload, an address outside
// 0x0800..0xFFFF or misaligned, a write to a page not erased since boot mode began, a
// block written twice after its erase) gets no reply and is recorded as a fault of the
// updater. A restart after 05 runs the firmware (reporting the version for after the
// update once a block was written); a restart without 05 comes back in the bootloader.
//
// Thread use: Start() runs the unit in a thread of its own (poll() on the pty master and
// a wake-up descriptor, no busy waiting). Every public operation may be called from any
// thread; Report() returns a consistent snapshot.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

enum class TUnitMode { Running, Boot };

// Which replies a fault applies to: the Index-th reply (1-based) among the replies of
// Kind the unit sends, counted from Start(); Index 0 means every reply of Kind.
struct TReplyPick {
    enum class TKind { Any, Modbus, Boot };
    TKind Kind = TKind::Any;
    uint32_t Index = 0;
};

// How a failing erase page or write block fails.
enum class TFailKind { NoReply, BadChecksum };

// Page or block Number counts from 1 at 0x0800 (page 3 is 0x0C00, block 3 is 0x0900).
// It fails every time it is asked for, and memory is left unchanged.
struct TBlockFault {
    uint32_t Number = 1;
    TFailKind Kind = TFailKind::NoReply;
};

struct TDropFault {
    TReplyPick Pick;
    uint32_t Count = 1;  // bytes left out
    int32_t Offset = -1; // first byte left out; -1: the middle of the reply
};

struct TNoiseFault {
    TReplyPick Pick;
    uint32_t Count = 4; // bytes sent before the reply (never DLE, STX, ETX or its address)
};

struct TChunkFault {
    TReplyPick Pick;
    uint32_t Size = 1;   // bytes per chunk
    uint32_t GapMs = 10; // silence between chunks
};

struct TLateFault {
    TReplyPick Pick;
    uint32_t Ms = 0; // extra delay before the reply
};

// The reply leaves the unit at Rate; the far end decodes it at the rate its port is set
// to, so it receives what a mismatched UART would (framing errors arrive as 0x00).
struct TWrongRateFault {
    TReplyPick Pick;
    uint32_t Rate = 0; // 0: the other mode's rate
};

// After the AfterFrames-th valid request (Modbus or bootloader, before acting on it) the
// line goes dead: the pty master is closed and the link removed. With BackAfterMs, a new
// pty appears at the same link path that long afterwards; the unit keeps its state.
struct THangUpFault {
    uint32_t AfterFrames = 1;
    std::optional<uint32_t> BackAfterMs;
};

using TRegisterKey = std::pair<uint8_t, uint16_t>; // slave, register

struct TUnitSimConfig {
    // ---- Identity ----
    uint16_t ModelNumber = 5516;
    std::optional<uint16_t> BootModelNumber; // what command 00/2 reports ("wrong model")
    std::optional<uint16_t> BootRmNumber;    // RM number of 08/4; default ModelNumber
    uint16_t BootVersion = 150;              // bootloader version x 100
    uint16_t FirmwareVersion = 140;          // running firmware before the update, x 100
    uint16_t FirmwareVersionAfter = 150;     // after a restart that followed a write
    uint8_t OperatorSlave = 1;               // the slave address of model 5599's method
    std::optional<TUnitMode> StartMode;      // default: Boot for 5479, Running otherwise

    // ---- Settings and memory ----
    // Overrides of settings register values (17:24, 19:22..32, 20:7..28); the default
    // value of a register is slave x 1000 + register (19:22 holds 19022).
    std::map<TRegisterKey, uint16_t> Settings;
    // Whether a restart after an update resets the settings to 0 (what the updater's
    // backup and restore exist for). Default: model 5468 crossing firmware version 1.10.
    std::optional<bool> ResetSettingsOnUpdate;
    std::vector<uint8_t> InitialFlash; // 65,536 bytes, or empty for a fixed pattern

    // ---- Line ----
    std::string LinkPath;      // optional stable symlink to the slave
    bool Pacing = false;       // 10 bit times per byte for request and reply
    uint32_t EraseMs = 0;      // processing time of an erase
    uint32_t WriteMs = 0;      // of a block write
    uint32_t OtherMs = 0;      // of any other request (Modbus included)
    uint32_t RestartMs = 0;    // deaf after a restart before the firmware runs
    uint32_t FrameGapMs = 100; // silence after which a partial request is dropped

    // ---- Faults ----
    bool NoAnswer = false; // hears and records everything, acts on nothing, answers nothing
    std::vector<TBlockFault> EraseFaults;
    std::vector<TBlockFault> WriteFaults;
    std::vector<TReplyPick> BadCheck; // bad CRC (Modbus) or checksum (bootloader)
    std::vector<TDropFault> Drops;
    std::vector<TNoiseFault> Noise;
    std::vector<TChunkFault> Chunks;
    std::vector<TLateFault> Late;
    std::vector<TWrongRateFault> WrongRate;
    std::optional<THangUpFault> HangUp;
    uint32_t NoiseSeed = 1;
};

// One frame seen on the line: a request (or bytes the unit could not make a request of)
// or a reply the unit sent.
struct TSimFrame {
    double TimeMs = 0;       // since Start()
    bool FromUpdater = true; // false: sent by the unit
    uint32_t Rate = 0;       // line rate read from the pty; for a reply the unit's rate
    TUnitMode Mode = TUnitMode::Running;
    std::vector<uint8_t> Bytes; // as on the wire
    std::string Verdict;        // "ok", "bad CRC", "wrong rate", "garbage", ...
};

struct TFlashRange {
    uint32_t First = 0;
    uint32_t Last = 0xFFFF; // inclusive
};

struct TUnitSimReport {
    TUnitMode Mode = TUnitMode::Running;
    bool Restarting = false;
    uint16_t FirmwareVersion = 0; // what register 21 reports now
    std::vector<uint8_t> Flash;   // 65,536 bytes
    uint32_t Erases = 0;          // pages erased
    uint32_t Writes = 0;          // blocks written
    uint32_t BootEntries = 0;     // times boot mode began (a unit starting in it counts)
    uint32_t Restarts = 0;        // restarts into the running firmware
    bool BootModeLeft = false;    // 05 seen in the current boot session
    std::vector<std::string> UpdaterFaults;
    std::map<TRegisterKey, uint16_t> Registers;
    uint32_t Commits = 0;
    std::map<TRegisterKey, uint16_t> CommittedSettings; // as at the last commit
    std::vector<TSimFrame> Frames;
    uint32_t HangUps = 0;
    // The moment frames' times count from, on the monotonic clock every process shares.
    int64_t ClockStartNs = 0;
};

class TUnitSimWorker;

class TUnitSim {
public:
    explicit TUnitSim(TUnitSimConfig Config = {});
    ~TUnitSim(); // stops
    TUnitSim(const TUnitSim&) = delete;
    TUnitSim& operator=(const TUnitSim&) = delete;

    // Creates the pty (and the link) and starts the thread. False: see LastError().
    bool Start();
    // Stops the thread (bounded), closes the pty, removes the link. Safe to call twice.
    void Stop();
    std::string LastError() const;

    std::string SlavePath() const; // empty while unplugged
    std::string LinkPath() const;  // as configured; empty without one
    std::string PortPath() const;  // the link if there is one, else the slave

    // Writes "Bootload.Ini" in Dir: [Ports] COM<n>=PortPath(), [Options] Comms_Port=<n>;
    // other keys of an existing file are kept.
    bool WritePortMap(const std::string& Dir, int ComNumber) const;

    // The line goes dead as if the adapter were pulled (master closed, link removed),
    // and comes back as a new pty at the same link path. Each waits for the unit's
    // thread (bounded) and returns false when it did not happen.
    bool Unplug();
    bool Replug();

    TUnitMode Mode() const;
    TUnitSimReport Report() const;
    // The report as JSON; a SHA-256 digest (and the bytes in hex) of each range asked for
    // besides the whole flash.
    std::string ReportJson(const std::vector<TFlashRange>& Ranges = {}) const;

private:
    std::unique_ptr<TUnitSimWorker> Worker;
};
