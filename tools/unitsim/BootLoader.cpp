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
    char Text[16];
    std::snprintf(Text, sizeof Text, "0x%0*X", Digits, static_cast<unsigned>(Value));
    return Text;
}

TBootOutcome Refuse(std::string Fault) {
    TBootOutcome Outcome;
    Outcome.Verdict = "refused, no reply: " + Fault;
    Outcome.Faults.push_back(std::move(Fault));
    return Outcome;
}

uint32_t Address(const uint8_t* Payload) {
    return Payload[0] | Payload[1] << 8 | Payload[2] << 16;
}

} // namespace

std::vector<uint8_t> FrameReply(const std::vector<uint8_t>& Reply, bool Spoil) {
    std::vector<uint8_t> Body = Reply;
    Body.push_back(
        static_cast<uint8_t>(BootChecksum(Reply.data(), Reply.size()) + (Spoil ? 1 : 0)));
    std::vector<uint8_t> Frame{DLE, STX};
    for (uint8_t Byte : Body) {
        Frame.push_back(Byte);
        if (Byte == DLE) {
            Frame.push_back(DLE);
        }
    }
    Frame.push_back(DLE);
    Frame.push_back(ETX);
    return Frame;
}

TBootLoader::TBootLoader(const TUnitSimConfig& UnitConfig, TFlashModel& UnitFlash)
    : Config(UnitConfig), Flash(UnitFlash) {}

void TBootLoader::BeginSession() {
    Flash.BeginSession();
    Left = false;
}

const TBlockFault* TBootLoader::FaultFor(const std::vector<TBlockFault>& Faults, uint32_t At,
                                         uint32_t Size) const {
    const uint32_t Number = (At - TFlashModel::FirstProgramAddress) / Size + 1;
    for (const TBlockFault& Fault : Faults) {
        if (Fault.Number == Number) {
            return &Fault;
        }
    }
    return nullptr;
}

TBootOutcome TBootLoader::Handle(const std::vector<uint8_t>& Body) {
    const uint8_t Command = Body[0];
    const uint8_t Count = Body[1];
    const uint8_t* Payload = Body.data() + 2;
    const size_t PayloadLength = Body.size() - 3;
    auto Shape = [&](uint8_t WantCount, size_t WantPayload) {
        return Count == WantCount && PayloadLength == WantPayload;
    };
    const std::string Request = "command " + Hex(Command, 2) + " count " + std::to_string(Count) +
                                " with " + std::to_string(PayloadLength) + " payload bytes";
    TBootOutcome Outcome;
    switch (Command) {
    case CommandIdentity:
        if (!Shape(4, 0)) {
            return Refuse(Request);
        }
        {
            const uint16_t Rm = Config.BootRmNumber.value_or(Config.ModelNumber);
            Outcome.Reply = {Command,
                             Count,
                             static_cast<uint8_t>(Rm >> 8),
                             static_cast<uint8_t>(Rm & 0xFF),
                             static_cast<uint8_t>(Config.BootVersion >> 8),
                             static_cast<uint8_t>(Config.BootVersion & 0xFF)};
        }
        Outcome.Verdict = "bootloader identity";
        return Outcome;
    case CommandModelOrRestart:
        if (Shape(2, 0)) {
            const uint16_t Model = Config.BootModelNumber.value_or(Config.ModelNumber);
            Outcome.Reply = {Command, Count, static_cast<uint8_t>(Model >> 8),
                             static_cast<uint8_t>(Model & 0xFF)};
            Outcome.Verdict = "model number " + std::to_string(Model);
            return Outcome;
        }
        if (Shape(0, 0)) {
            Outcome.Reply = {Command, Count};
            Outcome.Restart = true;
            Outcome.Verdict = "restart";
            return Outcome;
        }
        return Refuse(Request);
    case CommandErase:
        if (!Shape(8, 3)) {
            return Refuse(Request);
        }
        return Erase(Address(Payload));
    case CommandWrite:
        if (!Shape(2, 3 + TFlashModel::BlockSize)) {
            return Refuse(Request);
        }
        return Write(Address(Payload), Payload + 3);
    case CommandLeaveBootMode:
        if (!Shape(1, 4) || Payload[0] != 0xFF || Payload[1] != 0x03 || Payload[2] != 0x00 ||
            Payload[3] != 0x00) {
            return Refuse(Request + " (leaving boot mode takes FF 03 00 00)");
        }
        Left = true;
        Outcome.Reply = {Command, Count, 0x00};
        Outcome.Verdict = "boot mode left";
        return Outcome;
    default:
        return Refuse("unknown " + Request);
    }
}

TBootOutcome TBootLoader::Erase(uint32_t At) {
    if (std::string Why = Flash.CheckErase(At); !Why.empty()) {
        return Refuse(Why);
    }
    TBootOutcome Outcome;
    Outcome.Work = TBootWork::Erase;
    Outcome.Reply = {CommandErase,
                     8,
                     static_cast<uint8_t>(At & 0xFF),
                     static_cast<uint8_t>(At >> 8 & 0xFF),
                     static_cast<uint8_t>(At >> 16 & 0xFF),
                     0x00,
                     0x02,
                     0x00,
                     0x00,
                     0x00};
    if (const TBlockFault* Fault = FaultFor(Config.EraseFaults, At, TFlashModel::PageSize)) {
        Outcome.Verdict = "erase of page " + Hex(At, 4) + " fails (injected)";
        if (Fault->Kind == TFailKind::NoReply) {
            Outcome.Reply.clear();
        } else {
            Outcome.SpoilChecksum = true;
        }
        return Outcome;
    }
    Flash.Erase(At);
    ++ErasedPages;
    Outcome.Verdict = "erase " + Hex(At, 4);
    return Outcome;
}

TBootOutcome TBootLoader::Write(uint32_t At, const uint8_t* Block) {
    if (std::string Why = Flash.CheckWrite(At); !Why.empty()) {
        return Refuse(Why);
    }
    uint16_t Sum = 0;
    for (uint32_t Index = 0; Index < TFlashModel::BlockSize; ++Index) {
        Sum = static_cast<uint16_t>(Sum + Block[Index]);
    }
    TBootOutcome Outcome;
    Outcome.Work = TBootWork::Write;
    Outcome.Reply = {CommandWrite, 2, static_cast<uint8_t>(Sum >> 8),
                     static_cast<uint8_t>(Sum & 0xFF)};
    if (const TBlockFault* Fault = FaultFor(Config.WriteFaults, At, TFlashModel::BlockSize)) {
        Outcome.Verdict = "write of block " + Hex(At, 4) + " fails (injected)";
        if (Fault->Kind == TFailKind::NoReply) {
            Outcome.Reply.clear();
        } else {
            Outcome.SpoilChecksum = true;
        }
        return Outcome;
    }
    Flash.Write(At, Block);
    ++WrittenBlocks;
    Outcome.Verdict = "write " + Hex(At, 4);
    return Outcome;
}
