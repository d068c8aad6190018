// The unit's report as JSON: state, memory digests, registers, faults of the updater and
// every frame seen.
#pragma once

#include "tools/unitsim/UnitSim.h"

#include <string>
#include <vector>

// "01 AB 10" for the bytes 0x01 0xAB 0x10.
std::string HexBytes(const std::vector<uint8_t>& Bytes);

// SHA-256 of Flash[First..Last], lower-case hex; empty for a range outside the memory.
std::string FlashDigest(const std::vector<uint8_t>& Flash, const TFlashRange& Range);

std::string ReportToJson(const TUnitSimReport& Report, const std::vector<TFlashRange>& Ranges);
