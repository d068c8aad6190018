// Bootloader requests as the updater frames them, for the unit's tests.
#pragma once

#include "tests/unitsim/PtyClient.h"
#include "upgrade/BootFrame.h"

inline TBytes Frame(uint8_t Command, uint8_t Count, const TBytes& Payload = {}) {
    return BuildBootFrame(Command, Count, Payload.data(), Payload.size());
}

inline TBytes Erase(uint32_t Address) {
    return Frame(0x03, 8, {static_cast<uint8_t>(Address), static_cast<uint8_t>(Address >> 8), 0});
}
