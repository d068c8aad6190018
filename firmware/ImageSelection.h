// What of an image an update sends: the flagged 128-byte blocks of program memory
// (0x0800 up to the processor's last program address), and, for a HEX image, the data
// the file gives anywhere else, which is left out and reported.
#pragma once

#include "firmware/ImageFile.h"

#include <cstdint>
#include <string>
#include <vector>

struct TImageSelection {
    uint32_t BlocksSent = 0;    // flagged blocks within program memory
    uint32_t BlocksInRange = 0; // every block of program memory
    // HEX only: the address ranges the file gives data for outside program memory, and
    // how many bytes they hold. A raw image is a memory image: bytes outside program
    // memory are never sent and never counted.
    std::vector<TAddressRange> LeftOut;
    uint64_t LeftOutBytes = 0;
};

// Nothing is selected for a last address that gives no program range.
TImageSelection SelectForProgram(TImageFormat Format, const std::vector<TAddressRange>& Given,
                                 const TBlockFlags& BlockPresent, uint32_t LastProgramAddress);

// The bytes an update sends, in the order it sends them: 128 for each flagged block of
// program memory.
std::vector<uint8_t> BytesToSend(const std::array<uint8_t, ImageBufferSize>& Bytes,
                                 const TBlockFlags& BlockPresent, uint32_t LastProgramAddress);

// "0x0800", "0x30000D": upper-case hex, at least four digits.
std::string AddressText(uint32_t Address);
// "0x0800..0xBFFF"
std::string RangeText(const TAddressRange& Range);

// "Left out 14 bytes outside program memory 0x0800..0xBFFF: 0x300000..0x30000D"; the
// first eight ranges are named, the rest counted. Empty when nothing is left out.
std::string LeftOutText(const TImageSelection& Selection, uint32_t LastProgramAddress);

// "The image holds no data in program memory 0x0800..0xBFFF"
std::string NoProgramDataText(uint32_t LastProgramAddress);
