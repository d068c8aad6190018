// Reading a firmware image file as the firmware tools write it: a raw memory image of
// program memory, or an Intel HEX file, told apart by what the file holds (never by its
// name). One reader for the build's embedded image, the window's Load File and
// bootload-cli's --image; no Qt and no platform calls, so the build-time converter uses it
// too.
//
// Intel HEX: records 00 (data), 01 (end of file), 02 (extended segment address) and 04
// (extended linear address); 03 and 05 (start addresses) are accepted and ignored. Upper-
// or lower-case digits, LF or CRLF line ends, blanks around a record and blank lines are
// fine; whatever follows the end-of-file record is ignored.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

constexpr size_t ImageBufferSize = 0x10000;
constexpr size_t ImageBlockSize = 128;
constexpr size_t ImageBlockCount = ImageBufferSize / ImageBlockSize;
// A HEX file larger than this is refused (a full 64 KiB image takes about 180 KiB).
constexpr size_t HexFileLimit = 16 * 1024 * 1024;

enum class TImageFormat { Raw, IntelHex };

// "raw" or "Intel HEX".
const char* ImageFormatName(TImageFormat Format);

// Addresses First to Last, both included.
struct TAddressRange {
    uint32_t First = 0;
    uint32_t Last = 0;
    uint64_t Size() const { return uint64_t{Last} - First + 1; }
    friend bool operator==(const TAddressRange&, const TAddressRange&) = default;
};

using TBlockFlags = std::array<uint8_t, ImageBlockCount>;

struct TFirmwareImage {
    TImageFormat Format = TImageFormat::Raw;
    // Raw: the file's first RawLength bytes from offset 0, zero after them. HEX: the bytes
    // the file gives below 0x10000 at their addresses, 0xFF (erased flash) elsewhere.
    std::array<uint8_t, ImageBufferSize> Bytes{};
    size_t RawLength = 0;
    // Flag k: block k (offsets k x 128 .. k x 128 + 127) holds data to send. Raw: every
    // flag; HEX: the blocks the file gives at least one byte of.
    TBlockFlags BlockPresent{};
    // Every address the file gives a byte for, in order, adjacent ranges joined; HEX data
    // above 0xFFFF is here only. Raw: 0 .. RawLength - 1.
    std::vector<TAddressRange> Given;
};

struct TImageReadResult {
    std::optional<TFirmwareImage> Image;
    std::string Error; // why there is no image: one sentence, with the line for a HEX file
};

// Text is a HEX file, whatever it begins with: ASCII or UTF-8 (a byte order mark allowed),
// text in another 8-bit code page, or UTF-16 (decoded first). So is content that begins,
// after an optional UTF-8 byte order mark and blank lines, with ':' and ten hex digits (the
// shortest record). Anything else is a raw image: bytes no text holds (NULs, control
// bytes, erased flash's 0xFF).
TImageFormat DetectImageFormat(std::span<const uint8_t> Content);

// Content: the file's bytes; Truncated: the file holds more than these.
TImageReadResult ReadFirmwareImage(std::span<const uint8_t> Content, bool Truncated);

// The flags of the blocks below 0x10000 that Ranges give at least one byte of.
TBlockFlags BlockFlagsOf(const std::vector<TAddressRange>& Ranges);
