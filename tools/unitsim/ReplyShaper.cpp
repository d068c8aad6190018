#include "tools/unitsim/ReplyShaper.h"

#include "tools/unitsim/LineRate.h"
#include "tools/unitsim/UartMismatch.h"
#include "upgrade/BootFrame.h"

#include <algorithm>

bool Picks(const TReplyPick& Pick, const TReplyContext& Context) {
    uint32_t ordinal = Context.AnyOrdinal;
    if (Pick.Kind == TReplyPick::TKind::Modbus) {
        if (!Context.IsModbus) {
            return false;
        }
        ordinal = Context.KindOrdinal;
    } else if (Pick.Kind == TReplyPick::TKind::Boot) {
        if (Context.IsModbus) {
            return false;
        }
        ordinal = Context.KindOrdinal;
    }
    return Pick.Index == 0 || Pick.Index == ordinal;
}

uint8_t TNoiseSource::Next(uint8_t Avoid) {
    while (true) {
        State ^= State << 13;
        State ^= State >> 17;
        State ^= State << 5;
        const auto byte = static_cast<uint8_t>(State >> 24);
        if (byte != Avoid && byte != DLE && byte != STX && byte != ETX) {
            return byte;
        }
    }
}

namespace {

template <typename TFault>
const TFault* FirstPicked(const std::vector<TFault>& Faults, const TReplyContext& Context) {
    for (const TFault& fault : Faults) {
        if (Picks(fault.Pick, Context)) {
            return &fault;
        }
    }
    return nullptr;
}

} // namespace

TShapedReply ShapeReply(std::vector<uint8_t> Wire, const TReplyContext& Context,
                        const TUnitSimConfig& Config, TNoiseSource& Noise) {
    TShapedReply shaped;
    if (const TDropFault* drop = FirstPicked(Config.Drops, Context); drop && !Wire.empty()) {
        const size_t at = drop->Offset < 0
                              ? Wire.size() / 2
                              : std::min(static_cast<size_t>(drop->Offset), Wire.size());
        const size_t count = std::min<size_t>(drop->Count, Wire.size() - at);
        Wire.erase(Wire.begin() + at, Wire.begin() + at + count);
        shaped.Notes += "; " + std::to_string(count) + " bytes dropped at " + std::to_string(at);
    }
    if (const TNoiseFault* extra = FirstPicked(Config.Noise, Context)) {
        const uint8_t avoid = Wire.empty() ? DLE : Wire.front();
        std::vector<uint8_t> before;
        for (uint32_t index = 0; index < extra->Count; ++index) {
            before.push_back(Noise.Next(avoid));
        }
        Wire.insert(Wire.begin(), before.begin(), before.end());
        shaped.Notes += "; " + std::to_string(extra->Count) + " noise bytes before it";
    }

    uint32_t sendRate = Context.UnitRate;
    if (const TWrongRateFault* wrong = FirstPicked(Config.WrongRate, Context)) {
        sendRate = wrong->Rate != 0 ? wrong->Rate : Context.OtherRate;
    }
    const double lineMs = Wire.size() * 10000.0 / std::max<uint32_t>(sendRate, 1);
    if (Context.LineRate != 0 && sendRate != 0 && !RatesMatch(Context.LineRate, sendRate)) {
        Wire = ReceiveAtRate(Wire, sendRate, Context.LineRate);
        shaped.Notes += "; sent at " + std::to_string(sendRate) + " baud, heard at " +
                        std::to_string(Context.LineRate);
    }

    double start = 0;
    if (const TLateFault* late = FirstPicked(Config.Late, Context)) {
        start = late->Ms;
        shaped.Notes += "; late by " + std::to_string(late->Ms) + " ms";
    }
    const double byteMs = Config.Pacing && !Wire.empty() ? lineMs / Wire.size() : 0.0;
    size_t chunkSize = Wire.size();
    double gapMs = 0;
    if (const TChunkFault* chunks = FirstPicked(Config.Chunks, Context)) {
        chunkSize = std::max<uint32_t>(chunks->Size, 1);
        gapMs = chunks->GapMs;
        shaped.Notes += "; in chunks of " + std::to_string(chunkSize) + " bytes, " +
                        std::to_string(chunks->GapMs) + " ms apart";
    } else if (Config.Pacing) {
        // About a millisecond of line time per write, so the far end sees the reply grow.
        chunkSize = std::max<size_t>(1, static_cast<size_t>(sendRate / 10000));
    }
    double at = start;
    for (size_t first = 0; first < Wire.size(); first += chunkSize) {
        const size_t last = std::min(Wire.size(), first + chunkSize);
        at += byteMs * static_cast<double>(last - first);
        shaped.Pieces.push_back({at, {Wire.begin() + first, Wire.begin() + last}});
        if (last < Wire.size()) {
            at += gapMs;
        }
    }
    shaped.EndMs = std::max(at, start);
    shaped.Wire = std::move(Wire);
    return shaped;
}
