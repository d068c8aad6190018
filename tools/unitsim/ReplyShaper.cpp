#include "tools/unitsim/ReplyShaper.h"

#include "tools/unitsim/LineRate.h"
#include "tools/unitsim/UartMismatch.h"
#include "upgrade/BootFrame.h"

#include <algorithm>

bool Picks(const TReplyPick& Pick, const TReplyContext& Context) {
    uint32_t Ordinal = Context.AnyOrdinal;
    if (Pick.Kind == TReplyPick::TKind::Modbus) {
        if (!Context.IsModbus) {
            return false;
        }
        Ordinal = Context.KindOrdinal;
    } else if (Pick.Kind == TReplyPick::TKind::Boot) {
        if (Context.IsModbus) {
            return false;
        }
        Ordinal = Context.KindOrdinal;
    }
    return Pick.Index == 0 || Pick.Index == Ordinal;
}

uint8_t TNoiseSource::Next(uint8_t Avoid) {
    while (true) {
        State ^= State << 13;
        State ^= State >> 17;
        State ^= State << 5;
        const auto Byte = static_cast<uint8_t>(State >> 24);
        if (Byte != Avoid && Byte != DLE && Byte != STX && Byte != ETX) {
            return Byte;
        }
    }
}

namespace {

template <typename TFault>
const TFault* FirstPicked(const std::vector<TFault>& Faults, const TReplyContext& Context) {
    for (const TFault& Fault : Faults) {
        if (Picks(Fault.Pick, Context)) {
            return &Fault;
        }
    }
    return nullptr;
}

} // namespace

TShapedReply ShapeReply(std::vector<uint8_t> Wire, const TReplyContext& Context,
                        const TUnitSimConfig& Config, TNoiseSource& Noise) {
    TShapedReply Shaped;
    if (const TDropFault* Drop = FirstPicked(Config.Drops, Context); Drop && !Wire.empty()) {
        const size_t At = Drop->Offset < 0
                              ? Wire.size() / 2
                              : std::min(static_cast<size_t>(Drop->Offset), Wire.size());
        const size_t Count = std::min<size_t>(Drop->Count, Wire.size() - At);
        Wire.erase(Wire.begin() + At, Wire.begin() + At + Count);
        Shaped.Notes += "; " + std::to_string(Count) + " bytes dropped at " + std::to_string(At);
    }
    if (const TNoiseFault* Extra = FirstPicked(Config.Noise, Context)) {
        const uint8_t Avoid = Wire.empty() ? DLE : Wire.front();
        std::vector<uint8_t> Before;
        for (uint32_t Index = 0; Index < Extra->Count; ++Index) {
            Before.push_back(Noise.Next(Avoid));
        }
        Wire.insert(Wire.begin(), Before.begin(), Before.end());
        Shaped.Notes += "; " + std::to_string(Extra->Count) + " noise bytes before it";
    }

    uint32_t SendRate = Context.UnitRate;
    if (const TWrongRateFault* Wrong = FirstPicked(Config.WrongRate, Context)) {
        SendRate = Wrong->Rate != 0 ? Wrong->Rate : Context.OtherRate;
    }
    const double LineMs = Wire.size() * 10000.0 / std::max<uint32_t>(SendRate, 1);
    if (Context.LineRate != 0 && SendRate != 0 && !RatesMatch(Context.LineRate, SendRate)) {
        Wire = ReceiveAtRate(Wire, SendRate, Context.LineRate);
        Shaped.Notes += "; sent at " + std::to_string(SendRate) + " baud, heard at " +
                        std::to_string(Context.LineRate);
    }

    double Start = 0;
    if (const TLateFault* Late = FirstPicked(Config.Late, Context)) {
        Start = Late->Ms;
        Shaped.Notes += "; late by " + std::to_string(Late->Ms) + " ms";
    }
    const double ByteMs = Config.Pacing && !Wire.empty() ? LineMs / Wire.size() : 0.0;
    size_t ChunkSize = Wire.size();
    double GapMs = 0;
    if (const TChunkFault* Chunks = FirstPicked(Config.Chunks, Context)) {
        ChunkSize = std::max<uint32_t>(Chunks->Size, 1);
        GapMs = Chunks->GapMs;
        Shaped.Notes += "; in chunks of " + std::to_string(ChunkSize) + " bytes, " +
                        std::to_string(Chunks->GapMs) + " ms apart";
    } else if (Config.Pacing) {
        // About a millisecond of line time per write, so the far end sees the reply grow.
        ChunkSize = std::max<size_t>(1, static_cast<size_t>(SendRate / 10000));
    }
    double At = Start;
    for (size_t First = 0; First < Wire.size(); First += ChunkSize) {
        const size_t Last = std::min(Wire.size(), First + ChunkSize);
        At += ByteMs * static_cast<double>(Last - First);
        Shaped.Pieces.push_back({At, {Wire.begin() + First, Wire.begin() + Last}});
        if (Last < Wire.size()) {
            At += GapMs;
        }
    }
    Shaped.EndMs = std::max(At, Start);
    Shaped.Wire = std::move(Wire);
    return Shaped;
}
