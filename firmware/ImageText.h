// Whether an image file is text, and the text it holds. A HEX file is text: saved by an
// editor it may carry a byte order mark, a comment line or a UTF-16 encoding (what a
// Windows shell's redirection writes), and none of that may ever let it pass for a memory
// image. A memory image holds code and erased flash: control bytes, NULs, 0xFF.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

enum class TTextEncoding {
    None,    // not text: a memory image
    Utf8,    // ASCII or UTF-8 (or mostly printable ASCII), with or without a byte order mark
    Utf16Le, // UTF-16, little-endian: with its byte order mark, or ':' 00 and so on
    Utf16Be,
};

TTextEncoding DetectTextEncoding(std::span<const uint8_t> Content);

struct TDecodedText {
    std::optional<std::string> Text; // UTF-8, without a byte order mark
    std::string Error;               // why there is no text
};

// The text of content DetectTextEncoding found to be UTF-16; characters that are not ASCII
// come out as UTF-8, for the HEX reader to name.
TDecodedText DecodeUtf16(std::span<const uint8_t> Content, bool BigEndian);
