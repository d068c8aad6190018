// The bootloader's commands: identity, model number, page erase, block write, leaving
// boot mode and restart. Each request is one exchange; erase and write keep a progress
// percentage in the last line of the log list, updated while the next request is awaited.
#include "serial/ResultCodes.h"
#include "shell/Main1.h"
#include "upgrade/ProgramRange.h"
#include "upgrade/StageLines.h"

#include <QString>
#include <QThread>

#include <algorithm>
#include <array>

namespace {

constexpr uint16_t BootTimeOut = 30; // ticks of 100 ms

constexpr uint8_t CmdModelNumber = 0x00; // also the restart, with count 0
constexpr uint8_t CmdProgramData = 0x02;
constexpr uint8_t CmdErasePage = 0x03;
constexpr uint8_t CmdBootMode = 0x05;
constexpr uint8_t CmdBootloaderInfo = 0x08;

constexpr uint32_t NoModelNumber = 0xFFFF0000u;

// Addresses go out as three bytes, low byte first; the third is always 0.
void PutAddress(uint8_t* Payload, uint32_t Address) {
    Payload[0] = static_cast<uint8_t>(Address & 0xFF);
    Payload[1] = static_cast<uint8_t>((Address >> 8) & 0xFF);
    Payload[2] = 0x00;
}

void PauseBetweenRequests(int32_t CommandPause) {
    if (CommandPause > 0) {
        QThread::msleep(static_cast<unsigned long>(CommandPause));
    }
}

} // namespace

int32_t TMainForm::GetBootloaderInfo() {
    std::array<uint8_t, 4> reply{};
    if (BootTransaction(Comms, CmdBootloaderInfo, 4, 0, nullptr, BootTimeOut, reply.data()) !=
        TxResult::Ok) {
        return TxResult::Failed;
    }
    const uint32_t value = (uint32_t{reply[0]} << 24) | (uint32_t{reply[1]} << 16) |
                           (uint32_t{reply[2]} << 8) | uint32_t{reply[3]};
    return static_cast<int32_t>(value);
}

uint32_t TMainForm::GetModelNumber() {
    std::array<uint8_t, 2> reply{};
    if (BootTransaction(Comms, CmdModelNumber, 2, 0, nullptr, BootTimeOut, reply.data()) !=
        TxResult::Ok) {
        return NoModelNumber;
    }
    return (uint32_t{reply[0]} << 8) | uint32_t{reply[1]};
}

bool TMainForm::EraseProgramMemory() {
    ReplaceLastLogLine(ErasingLine + QStringLiteral("0%"));
    if (!IsValidProgramRange(LastProgramAddress)) {
        return false;
    }
    const uint32_t totalPages = ProgramPageCount(LastProgramAddress);
    uint32_t pagesDone = 0;
    bool failed = false;
    for (uint32_t address = FirstProgramAddress; address <= LastProgramAddress && !failed;) {
        std::array<uint8_t, 3> payload{};
        PutAddress(payload.data(), address);
        std::array<uint8_t, 8> reply{};
        if (BootTransaction(Comms, CmdErasePage, 8, payload.size(), payload.data(), BootTimeOut,
                            reply.data()) == TxResult::Ok) {
            ++pagesDone;
            ShowProgressSoon(ErasingLine, pagesDone, totalPages);
            address += ProgramPageSize;
        } else {
            failed = true;
        }
        PauseBetweenRequests(CommandPause);
    }
    // The stage's last percentage is shown before it ends.
    ShowPendingProgress();
    return !failed;
}

bool TMainForm::SendProgramData() {
    if (!IsValidProgramRange(LastProgramAddress)) {
        ReplaceLastLogLine(SendingLine + QStringLiteral("0%"));
        return false;
    }
    const uint32_t firstBlock = FirstProgramAddress / ProgramBlockSize;
    const uint32_t lastBlock = LastProgramAddress / ProgramBlockSize;
    uint32_t totalBlocks = 0;
    for (uint32_t block = firstBlock; block <= lastBlock; ++block) {
        totalBlocks += BlockPresent[block] != 0 ? 1 : 0;
    }
    ReplaceLastLogLine(SendingLine + QStringLiteral("0%"));

    uint32_t blocksSent = 0;
    bool failed = false;
    for (uint32_t block = firstBlock; block <= lastBlock && !failed && blocksSent < totalBlocks;
         ++block) {
        if (BlockPresent[block] == 0) {
            continue;
        }
        const uint32_t address = block * ProgramBlockSize;
        std::array<uint8_t, 3 + ProgramBlockSize> payload{};
        PutAddress(payload.data(), address);
        std::copy_n(ImageBuffer.begin() + address, ProgramBlockSize, payload.begin() + 3);
        std::array<uint8_t, 2> reply{};
        if (BootTransaction(Comms, CmdProgramData, 2, payload.size(), payload.data(), BootTimeOut,
                            reply.data()) == TxResult::Ok) {
            ++blocksSent;
            ShowProgressSoon(SendingLine, blocksSent, totalBlocks);
        } else {
            failed = true;
        }
        PauseBetweenRequests(CommandPause);
    }
    // The stage's last percentage is shown before it ends.
    ShowPendingProgress();
    return !failed;
}

bool TMainForm::DisableBootMode() {
    // Address 0x3FF, then one data byte 0.
    const std::array<uint8_t, 4> payload{0xFF, 0x03, 0x00, 0x00};
    std::array<uint8_t, 1> reply{};
    return BootTransaction(Comms, CmdBootMode, 1, payload.size(), payload.data(), BootTimeOut,
                           reply.data()) == TxResult::Ok;
}

int32_t TMainForm::RestartUnit() {
    const int32_t result =
        BootTransaction(Comms, CmdModelNumber, 0, 0, nullptr, BootTimeOut, nullptr);
    return result == TxResult::Ok ? 0 : TxResult::Failed;
}
