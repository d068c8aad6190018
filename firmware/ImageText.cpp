#include "firmware/ImageText.h"

#include <algorithm>

namespace {

// How many leading code units a UTF-16 file without a byte order mark is judged by.
constexpr size_t Utf16ProbeUnits = 128;
// Text that is not UTF-8 (a comment in a legacy code page) still counts as text when at
// least this share of its bytes are printable ASCII or blanks; a memory image is far below.
constexpr size_t PrintableSharePercent = 95;

bool IsBlank(uint8_t Byte) {
    return Byte == ' ' || Byte == '\t' || Byte == '\r' || Byte == '\n' || Byte == '\v' ||
           Byte == '\f';
}

bool IsPrintableAscii(uint8_t Byte) {
    return (Byte >= 0x20 && Byte < 0x7F) || IsBlank(Byte);
}

// Control bytes that no text file holds; Ctrl-Z is the end-of-file mark some tools append.
bool IsControl(uint8_t Byte) {
    return (Byte < 0x20 && !IsBlank(Byte) && Byte != 0x1A) || Byte == 0x7F;
}

// The length of the UTF-8 sequence at Bytes[At], or 0 where none begins there.
size_t Utf8SequenceLength(std::span<const uint8_t> Bytes, size_t At) {
    const uint8_t lead = Bytes[At];
    size_t length = 0;
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    } else {
        return 0;
    }
    if (At + length > Bytes.size()) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((Bytes[At + i] & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

bool IsUtf8(std::span<const uint8_t> Bytes) {
    for (size_t at = 0; at < Bytes.size();) {
        const size_t length = Utf8SequenceLength(Bytes, at);
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

// Every code unit of the probe is a printable ASCII character or a blank: the byte at
// TextAt of each pair is that character and the other byte is zero.
bool LooksLikeUtf16(std::span<const uint8_t> Content, size_t TextAt) {
    const size_t units = std::min(Content.size() / 2, Utf16ProbeUnits);
    if (units < 2) {
        return false;
    }
    for (size_t unit = 0; unit < units; ++unit) {
        const uint8_t text = Content[2 * unit + TextAt];
        const uint8_t zero = Content[2 * unit + 1 - TextAt];
        if (zero != 0 || !IsPrintableAscii(text)) {
            return false;
        }
    }
    return true;
}

void AppendUtf8(std::string& Text, uint32_t Character) {
    if (Character < 0x80) {
        Text += static_cast<char>(Character);
    } else if (Character < 0x800) {
        Text += static_cast<char>(0xC0 | (Character >> 6));
        Text += static_cast<char>(0x80 | (Character & 0x3F));
    } else if (Character < 0x10000) {
        Text += static_cast<char>(0xE0 | (Character >> 12));
        Text += static_cast<char>(0x80 | ((Character >> 6) & 0x3F));
        Text += static_cast<char>(0x80 | (Character & 0x3F));
    } else {
        Text += static_cast<char>(0xF0 | (Character >> 18));
        Text += static_cast<char>(0x80 | ((Character >> 12) & 0x3F));
        Text += static_cast<char>(0x80 | ((Character >> 6) & 0x3F));
        Text += static_cast<char>(0x80 | (Character & 0x3F));
    }
}

} // namespace

TTextEncoding DetectTextEncoding(std::span<const uint8_t> Content) {
    if (Content.size() >= 2 && Content[0] == 0xFF && Content[1] == 0xFE) {
        return TTextEncoding::Utf16Le;
    }
    if (Content.size() >= 2 && Content[0] == 0xFE && Content[1] == 0xFF) {
        return TTextEncoding::Utf16Be;
    }
    if (LooksLikeUtf16(Content, 0)) {
        return TTextEncoding::Utf16Le;
    }
    if (LooksLikeUtf16(Content, 1)) {
        return TTextEncoding::Utf16Be;
    }
    if (Content.empty() || std::find(Content.begin(), Content.end(), 0) != Content.end()) {
        return TTextEncoding::None;
    }
    if (std::none_of(Content.begin(), Content.end(), IsControl) && IsUtf8(Content)) {
        return TTextEncoding::Utf8;
    }
    const auto printable =
        static_cast<size_t>(std::count_if(Content.begin(), Content.end(), IsPrintableAscii));
    return printable * 100 >= Content.size() * PrintableSharePercent ? TTextEncoding::Utf8
                                                                     : TTextEncoding::None;
}

TDecodedText DecodeUtf16(std::span<const uint8_t> Content, bool BigEndian) {
    const auto unitAt = [&](size_t Index) {
        const uint8_t first = Content[2 * Index];
        const uint8_t second = Content[2 * Index + 1];
        return static_cast<uint32_t>(BigEndian ? (first << 8) | second : (second << 8) | first);
    };
    const char* name = BigEndian ? "UTF-16 (big-endian)" : "UTF-16";
    if (Content.size() % 2 != 0) {
        return {std::nullopt,
                std::string("the file is ") + name + " text but ends in half a character"};
    }
    const size_t units = Content.size() / 2;
    std::string text;
    text.reserve(units);
    size_t index = 0;
    if (units > 0 && unitAt(0) == 0xFEFF) {
        index = 1;
    }
    for (; index < units; ++index) {
        uint32_t character = unitAt(index);
        if (character >= 0xD800 && character <= 0xDBFF && index + 1 < units &&
            unitAt(index + 1) >= 0xDC00 && unitAt(index + 1) <= 0xDFFF) {
            character = 0x10000 + ((character - 0xD800) << 10) + (unitAt(index + 1) - 0xDC00);
            ++index;
        } else if (character >= 0xD800 && character <= 0xDFFF) {
            return {std::nullopt, std::string("the file is ") + name +
                                      " text with a broken character at byte " +
                                      std::to_string(2 * index)};
        }
        AppendUtf8(text, character);
    }
    return {std::move(text), {}};
}
