#include "CampaignPlan.h"

#include <algorithm>
#include <random>
#include <string>

namespace {

// Draws from the seed's generator; the same seed gives the same run on any machine with
// the same standard library.
class TDraw {
public:
    explicit TDraw(uint32_t Seed) : Engine(Seed) {}
    // A number in First..Last.
    uint32_t Between(uint32_t First, uint32_t Last) {
        return First + static_cast<uint32_t>(Engine() % (uint64_t{Last} - First + 1));
    }
    bool Chance(uint32_t Percent) { return Between(1, 100) <= Percent; }

private:
    std::mt19937 Engine;
};

enum class TFault {
    Late,
    BadCheck,
    Drop,
    Noise,
    Chunks,
    WrongRate,
    EraseFails,
    WriteFails,
    HangUp,
    WrongModel,
    NoAnswer
};

struct TWeighted {
    TFault Fault;
    uint32_t Weight;
};

// Mostly faults that cost at most one time-out; the unit that stops answering is rare.
constexpr TWeighted FaultWeights[] = {
    {TFault::Late, 12},   {TFault::BadCheck, 12},  {TFault::Drop, 10},      {TFault::Noise, 10},
    {TFault::Chunks, 10}, {TFault::WrongRate, 8},  {TFault::EraseFails, 9}, {TFault::WriteFails, 9},
    {TFault::HangUp, 9},  {TFault::WrongModel, 3}, {TFault::NoAnswer, 2},
};

TFault PickFault(TDraw& Draw) {
    uint32_t total = 0;
    for (const TWeighted& entry : FaultWeights) {
        total += entry.Weight;
    }
    uint32_t ticket = Draw.Between(1, total);
    for (const TWeighted& entry : FaultWeights) {
        if (ticket <= entry.Weight) {
            return entry.Fault;
        }
        ticket -= entry.Weight;
    }
    return TFault::Late;
}

// One reply of a run: a bootloader reply mostly, the identity or switch reply sometimes.
TReplyPick PickReply(TDraw& Draw) {
    if (Draw.Chance(20)) {
        return {TReplyPick::TKind::Modbus, Draw.Between(1, 2)};
    }
    return {TReplyPick::TKind::Boot, Draw.Between(1, BootRepliesInARun)};
}

std::string Describe(const TReplyPick& Pick) {
    const char* kind = Pick.Kind == TReplyPick::TKind::Modbus ? "modbus" : "boot";
    return std::string(kind) + (Pick.Index == 0 ? "#all" : "#" + std::to_string(Pick.Index));
}

uint32_t TimeOutOf(const TReplyPick& Pick) {
    return Pick.Kind == TReplyPick::TKind::Modbus ? ModbusTimeOutMs : BootTimeOutMs;
}

struct TCost {
    uint32_t TimeOutsMs = 0; // capped at AllTimeOutsMs in total
    uint32_t DelayMs = 0;    // added in full
};

class TPlanBuilder {
public:
    TPlanBuilder(TCampaignPlan& Target, TDraw& Source) : Plan(Target), Draw(Source) {}

    TCost Add(TFault Fault) {
        TUnitSimConfig& config = Plan.Config;
        switch (Fault) {
        case TFault::Late: {
            const TReplyPick pick = PickReply(Draw);
            const uint32_t timeOut = TimeOutOf(pick);
            uint32_t ms = Draw.Between(20, 800);
            const uint32_t shape = Draw.Between(1, 3);
            if (shape == 2) {
                ms = timeOut - 600; // just under the time-out
            } else if (shape == 3) {
                ms = timeOut + 500; // just over: it arrives during a later exchange
                Plan.Desync = true;
            }
            config.Late.push_back({pick, ms});
            Note("late(" + Describe(pick) + "," + std::to_string(ms) + "ms)");
            return {BootTimeOutMs, ms};
        }
        case TFault::BadCheck: {
            const TReplyPick pick = PickReply(Draw);
            config.BadCheck.push_back(pick);
            Note("badcheck(" + Describe(pick) + ")");
            return {BootTimeOutMs, 0};
        }
        case TFault::Drop: {
            TDropFault drop;
            drop.Pick = PickReply(Draw);
            drop.Count = Draw.Between(1, 3);
            drop.Offset = Draw.Chance(50) ? -1 : static_cast<int32_t>(Draw.Between(0, 8));
            config.Drops.push_back(drop);
            Note("drop(" + Describe(drop.Pick) + "," + std::to_string(drop.Count) + "@" +
                 std::to_string(drop.Offset) + ")");
            return {BootTimeOutMs, 0};
        }
        case TFault::Noise: {
            TNoiseFault noise;
            noise.Pick = PickReply(Draw);
            if (Draw.Chance(25)) {
                noise.Pick.Index = 0; // before every reply of its kind
            }
            noise.Count = Draw.Between(1, 32);
            config.Noise.push_back(noise);
            config.NoiseSeed = Draw.Between(1, 1000000);
            Note("noise(" + Describe(noise.Pick) + "," + std::to_string(noise.Count) + ")");
            return {BootTimeOutMs, 0};
        }
        case TFault::Chunks: {
            TChunkFault chunks;
            if (Draw.Chance(40)) {
                // Every bootloader reply byte by byte, back to back.
                chunks.Pick = {TReplyPick::TKind::Boot, 0};
                chunks.Size = 1;
                chunks.GapMs = 0;
            } else {
                chunks.Pick = PickReply(Draw);
                chunks.Size = Draw.Between(1, 4);
                chunks.GapMs = Draw.Between(1, 40);
            }
            config.Chunks.push_back(chunks);
            Note("chunks(" + Describe(chunks.Pick) + "," + std::to_string(chunks.Size) + "B/" +
                 std::to_string(chunks.GapMs) + "ms)");
            return {BootTimeOutMs, 0};
        }
        case TFault::WrongRate: {
            TWrongRateFault wrong;
            wrong.Pick = PickReply(Draw);
            config.WrongRate.push_back(wrong);
            Note("wrongrate(" + Describe(wrong.Pick) + ")");
            return {BootTimeOutMs, 0};
        }
        case TFault::EraseFails:
        case TFault::WriteFails: {
            const bool erase = Fault == TFault::EraseFails;
            TBlockFault block;
            block.Number = Draw.Between(1, erase ? ErasePagesInARun : WriteBlocksInARun);
            block.Kind = Draw.Chance(50) ? TFailKind::NoReply : TFailKind::BadChecksum;
            (erase ? config.EraseFaults : config.WriteFaults).push_back(block);
            Note(std::string(erase ? "erasefails(page" : "writefails(block") +
                 std::to_string(block.Number) +
                 (block.Kind == TFailKind::NoReply ? ",noreply)" : ",badchecksum)"));
            return {BootTimeOutMs, 0};
        }
        case TFault::HangUp: {
            THangUpFault hangUp;
            hangUp.AfterFrames = Draw.Between(1, ValidRequestsInARun);
            if (Draw.Chance(70)) {
                hangUp.BackAfterMs = Draw.Between(100, 3000);
            }
            config.HangUp = hangUp;
            Plan.HangUp = true;
            Note("hangup(frame" + std::to_string(hangUp.AfterFrames) +
                 (hangUp.BackAfterMs ? ",back" + std::to_string(*hangUp.BackAfterMs) + "ms)"
                                     : ",gone)"));
            return {AllTimeOutsMs, 0};
        }
        case TFault::WrongModel:
            config.BootModelNumber = 5448;
            Plan.WrongModel = true;
            Note("wrongmodel(5448)");
            return {0, 0};
        case TFault::NoAnswer:
            config.NoAnswer = true;
            Plan.NoAnswer = true;
            Note("noanswer");
            return {AllTimeOutsMs, 0};
        }
        return {AllTimeOutsMs, 0};
    }

private:
    void Note(const std::string& Text) {
        Plan.Faults += (Plan.Faults.empty() ? "" : " ") + Text;
        ++Plan.FaultCount;
    }

    TCampaignPlan& Plan;
    TDraw& Draw;
};

} // namespace

TCampaignPlan DrawCampaignPlan(uint32_t Seed, const std::string& LinkPath, uint32_t BaseMs) {
    TCampaignPlan plan;
    plan.Seed = Seed;
    plan.Config.LinkPath = LinkPath;
    plan.Config.FirmwareVersion = 140;
    TDraw draw(Seed);
    const uint32_t roll = draw.Between(1, 100);
    const uint32_t faults = roll <= 15 ? 0 : roll <= 70 ? 1 : 2;
    TPlanBuilder builder(plan, draw);
    uint64_t timeOuts = 0;
    uint64_t delays = 0;
    for (uint32_t i = 0; i < faults; ++i) {
        const TCost cost = builder.Add(PickFault(draw));
        timeOuts += cost.TimeOutsMs;
        delays += cost.DelayMs;
    }
    const uint64_t faultMs = std::min<uint64_t>(timeOuts, AllTimeOutsMs) + delays;
    plan.BoundMs = static_cast<uint32_t>(BaseMs + faultMs * 12 / 10);
    plan.BoundAfterStopMs = plan.BoundMs + 3 * ModbusTimeOutMs * 12 / 10;
    return plan;
}
