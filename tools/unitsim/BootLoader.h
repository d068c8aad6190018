// The unit's bootloader: its commands, their replies, and the program memory they act on.
#pragma once

#include "tools/unitsim/FlashModel.h"
#include "tools/unitsim/UnitSim.h"

#include <cstdint>
#include <string>
#include <vector>

enum class TBootWork { Quick, Erase, Write };

struct TBootOutcome {
    std::vector<uint8_t> Reply; // command, count, data; no checksum yet. Empty: no reply
    bool SpoilChecksum = false; // an injected failure answers with a bad checksum
    std::string Verdict;
    std::vector<std::string> Faults; // of the updater
    bool Restart = false;            // after the reply
    TBootWork Work = TBootWork::Quick;
};

class TBootLoader {
public:
    TBootLoader(const TUnitSimConfig& UnitConfig, TFlashModel& UnitFlash);

    // A new boot session: nothing erased yet, boot mode not yet left.
    void BeginSession();
    // Acts on one frame body (command, count, payload, checksum) whose checksum is good.
    TBootOutcome Handle(const std::vector<uint8_t>& Body);

    bool BootModeLeft() const { return Left; }
    uint32_t Erases() const { return ErasedPages; }
    uint32_t Writes() const { return WrittenBlocks; }

private:
    TBootOutcome Erase(uint32_t Address);
    TBootOutcome Write(uint32_t Address, const uint8_t* Block);
    const TBlockFault* FaultFor(const std::vector<TBlockFault>& Faults, uint32_t Address,
                                uint32_t Size) const;

    const TUnitSimConfig& Config;
    TFlashModel& Flash;
    bool Left = false;
    uint32_t ErasedPages = 0;
    uint32_t WrittenBlocks = 0;
};

// The stuffed frame of a reply body, its checksum appended (made wrong when Spoil).
std::vector<uint8_t> FrameReply(const std::vector<uint8_t>& Reply, bool Spoil);
