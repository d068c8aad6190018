// Program memory as the bootloader commands see it: erased in 512-byte pages and written
// in 128-byte blocks, from 0x0800 up to and including the last program address.
#pragma once

#include <cstdint>

constexpr uint32_t FirstProgramAddress = 0x0800;
constexpr uint32_t ProgramPageSize = 512;
constexpr uint32_t ProgramBlockSize = 128;
constexpr uint32_t ProgramMemorySize = 0x10000;

// A usable last address ends a whole page at or above the first page and lies inside the
// 64 KiB of program memory; anything else (0 for an unknown processor among them) is no
// range at all, and nothing may be erased or written for it.
constexpr bool IsValidProgramRange(uint32_t LastAddress) {
    return LastAddress >= FirstProgramAddress + ProgramPageSize - 1 &&
           LastAddress < ProgramMemorySize && (LastAddress + 1) % ProgramPageSize == 0;
}

constexpr uint32_t ProgramPageCount(uint32_t LastAddress) {
    return IsValidProgramRange(LastAddress)
               ? (LastAddress + 1 - FirstProgramAddress) / ProgramPageSize
               : 0;
}
