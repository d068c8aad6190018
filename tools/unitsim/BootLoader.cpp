#include "tools/unitsim/BootLoader.h"

#include "upgrade/BootFrame.h"

#include <cstdio>

namespace {

constexpr uint8_t CommandModelOrRestart = 0x00;
constexpr uint8_t CommandWrite = 0x02;
constexpr uint8_t CommandErase = 0x03;
constexpr uint8_t CommandLeaveBootMode = 0x05;
constexpr uint8_t CommandIdentity = 0x08;

std::string Hex(uint32_t Value, int Digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", Digits, static_cast<unsigned>(Value));
    return text;
}

TBootOutcome Refuse(std::string Fault) {
    TBootOutcome outcome;
    outcome.Verdict = "refused, no reply: " + Fault;
    outcome.Faults.push_back(std::move(Fault));
    return outcome;
}

uint32_t Address(const uint8_t* Payload) {
    return Payload[0] | Payload[1] << 8 | Payload[2] << 16;
}

} // namespace

std::vector<uint8_t> FrameReply(const std::vector<uint8_t>& Reply, bool Spoil) {
    std::vector<uint8_t> body = Reply;
    body.push_back(
        static_cast<uint8_t>(BootChecksum(Reply.data(), Reply.size()) + (Spoil ? 1 : 0)));
    std::vector<uint8_t> frame{DLE, STX};
    for (uint8_t byte : body) {
        frame.push_back(byte);
        if (byte == DLE) {
            frame.push_back(DLE);
        }
    }
    frame.push_back(DLE);
    frame.push_back(ETX);
    return frame;
}

TBootLoader::TBootLoader(const TUnitSimConfig& UnitConfig, TFlashModel& UnitFlash)
    : Config(UnitConfig), Flash(UnitFlash) {}

void TBootLoader::BeginSession() {
    Flash.BeginSession();
    Left = false;
}

const TBlockFault* TBootLoader::FaultFor(const std::vector<TBlockFault>& Faults, uint32_t At,
                                         uint32_t Size) const {
    const uint32_t number = (At - TFlashModel::FirstProgramAddress) / Size + 1;
    for (const TBlockFault& fault : Faults) {
        if (fault.Number == number) {
            return &fault;
        }
    }
    return nullptr;
}

TBootOutcome TBootLoader::Handle(const std::vector<uint8_t>& Body) {
    const uint8_t command = Body[0];
    const uint8_t count = Body[1];
    const uint8_t* payload = Body.data() + 2;
    const size_t payloadLength = Body.size() - 3;
    auto shape = [&](uint8_t WantCount, size_t WantPayload) {
        return count == WantCount && payloadLength == WantPayload;
    };
    const std::string request = "command " + Hex(command, 2) + " count " + std::to_string(count) +
                                " with " + std::to_string(payloadLength) + " payload bytes";
    TBootOutcome outcome;
    switch (command) {
    case CommandIdentity:
        if (!shape(4, 0)) {
            return Refuse(request);
        }
        {
            const uint16_t rm = Config.BootRmNumber.value_or(Config.ModelNumber);
            outcome.Reply = {command,
                             count,
                             static_cast<uint8_t>(rm >> 8),
                             static_cast<uint8_t>(rm & 0xFF),
                             static_cast<uint8_t>(Config.BootVersion >> 8),
                             static_cast<uint8_t>(Config.BootVersion & 0xFF)};
        }
        outcome.Verdict = "bootloader identity";
        return outcome;
    case CommandModelOrRestart:
        if (shape(2, 0)) {
            const uint16_t model = Config.BootModelNumber.value_or(Config.ModelNumber);
            outcome.Reply = {command, count, static_cast<uint8_t>(model >> 8),
                             static_cast<uint8_t>(model & 0xFF)};
            outcome.Verdict = "model number " + std::to_string(model);
            return outcome;
        }
        if (shape(0, 0)) {
            outcome.Reply = {command, count};
            outcome.Restart = true;
            outcome.Verdict = "restart";
            return outcome;
        }
        return Refuse(request);
    case CommandErase:
        if (!shape(8, 3)) {
            return Refuse(request);
        }
        return Erase(Address(payload));
    case CommandWrite:
        if (!shape(2, 3 + TFlashModel::BlockSize)) {
            return Refuse(request);
        }
        return Write(Address(payload), payload + 3);
    case CommandLeaveBootMode:
        if (!shape(1, 4) || payload[0] != 0xFF || payload[1] != 0x03 || payload[2] != 0x00 ||
            payload[3] != 0x00) {
            return Refuse(request + " (leaving boot mode takes FF 03 00 00)");
        }
        Left = true;
        outcome.Reply = {command, count, 0x00};
        outcome.Verdict = "boot mode left";
        return outcome;
    default:
        return Refuse("unknown " + request);
    }
}

TBootOutcome TBootLoader::Erase(uint32_t At) {
    if (std::string why = Flash.CheckErase(At); !why.empty()) {
        return Refuse(why);
    }
    TBootOutcome outcome;
    outcome.Work = TBootWork::Erase;
    outcome.Reply = {CommandErase,
                     8,
                     static_cast<uint8_t>(At & 0xFF),
                     static_cast<uint8_t>(At >> 8 & 0xFF),
                     static_cast<uint8_t>(At >> 16 & 0xFF),
                     0x00,
                     0x02,
                     0x00,
                     0x00,
                     0x00};
    if (const TBlockFault* fault = FaultFor(Config.EraseFaults, At, TFlashModel::PageSize)) {
        outcome.Verdict = "erase of page " + Hex(At, 4) + " fails (injected)";
        if (fault->Kind == TFailKind::NoReply) {
            outcome.Reply.clear();
        } else {
            outcome.SpoilChecksum = true;
        }
        return outcome;
    }
    Flash.Erase(At);
    ++ErasedPages;
    outcome.Verdict = "erase " + Hex(At, 4);
    return outcome;
}

TBootOutcome TBootLoader::Write(uint32_t At, const uint8_t* Block) {
    if (std::string why = Flash.CheckWrite(At); !why.empty()) {
        return Refuse(why);
    }
    uint16_t sum = 0;
    for (uint32_t index = 0; index < TFlashModel::BlockSize; ++index) {
        sum = static_cast<uint16_t>(sum + Block[index]);
    }
    TBootOutcome outcome;
    outcome.Work = TBootWork::Write;
    outcome.Reply = {CommandWrite, 2, static_cast<uint8_t>(sum >> 8),
                     static_cast<uint8_t>(sum & 0xFF)};
    if (const TBlockFault* fault = FaultFor(Config.WriteFaults, At, TFlashModel::BlockSize)) {
        outcome.Verdict = "write of block " + Hex(At, 4) + " fails (injected)";
        if (fault->Kind == TFailKind::NoReply) {
            outcome.Reply.clear();
        } else {
            outcome.SpoilChecksum = true;
        }
        return outcome;
    }
    Flash.Write(At, Block);
    ++WrittenBlocks;
    outcome.Verdict = "write " + Hex(At, 4);
    return outcome;
}
