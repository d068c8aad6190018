// Turns a reply into what goes on the line and when: the injected faults that change its
// bytes (dropped bytes, noise before it, a rate the far end is not listening at), then
// its timing (late start, chunks with gaps, 10 bit times a byte when pacing).
#pragma once

#include "tools/unitsim/UnitSim.h"

#include <cstdint>
#include <string>
#include <vector>

struct TReplyContext {
    bool IsModbus = true;
    uint32_t AnyOrdinal = 0;  // 1-based among all replies
    uint32_t KindOrdinal = 0; // 1-based among replies of its protocol
    uint32_t UnitRate = 0;    // the rate the unit sends at in its mode
    uint32_t OtherRate = 0;   // the rate of its other mode
    uint32_t LineRate = 0;    // the rate the far end listens at; 0 when unknown
};

bool Picks(const TReplyPick& Pick, const TReplyContext& Context);

struct TReplyPiece {
    double AtMs = 0; // after the reply's start
    std::vector<uint8_t> Bytes;
};

struct TShapedReply {
    std::vector<TReplyPiece> Pieces;
    std::vector<uint8_t> Wire; // all bytes, in order
    double EndMs = 0;          // when the last byte has gone out
    std::string Notes;         // "; 1 byte dropped at 4" ...
};

// Noise bytes, never one that could be taken for the start of a reply.
class TNoiseSource {
public:
    explicit TNoiseSource(uint32_t Seed) : State(Seed == 0 ? 1 : Seed) {}
    uint8_t Next(uint8_t Avoid);

private:
    uint32_t State;
};

TShapedReply ShapeReply(std::vector<uint8_t> Wire, const TReplyContext& Context,
                        const TUnitSimConfig& Config, TNoiseSource& Noise);
