#include "firmware/ImageLayout.h"

#include <charconv>

namespace {

std::string HexDigits(uint32_t Value) {
    std::string digits(8, '0');
    for (size_t i = digits.size(); i-- > 0; Value /= 16) {
        digits[i] = "0123456789ABCDEF"[Value % 16];
    }
    return digits;
}

std::optional<uint32_t> ParseHex(std::string_view Text) {
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(Text.data(), Text.data() + Text.size(), value, 16);
    if (Text.empty() || error != std::errc() || end != Text.data() + Text.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::string WriteImageLayout(const TImageLayout& Layout) {
    if (Layout.Format == TImageFormat::Raw) {
        return "raw\n";
    }
    std::string text = "hex\n";
    for (const TAddressRange& range : Layout.Given) {
        text += HexDigits(range.First) + "-" + HexDigits(range.Last) + "\n";
    }
    return text;
}

std::optional<TImageLayout> ReadImageLayout(std::string_view Text) {
    TImageLayout layout;
    bool first = true;
    while (!Text.empty()) {
        const size_t newline = Text.find('\n');
        std::string_view line = Text.substr(0, newline);
        Text.remove_prefix(newline == std::string_view::npos ? Text.size() : newline + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (first) {
            first = false;
            if (line == "raw") {
                layout.Format = TImageFormat::Raw;
            } else if (line == "hex") {
                layout.Format = TImageFormat::IntelHex;
            } else {
                return std::nullopt;
            }
            continue;
        }
        const size_t dash = line.find('-');
        if (layout.Format != TImageFormat::IntelHex || dash == std::string_view::npos) {
            return std::nullopt;
        }
        const std::optional<uint32_t> from = ParseHex(line.substr(0, dash));
        const std::optional<uint32_t> to = ParseHex(line.substr(dash + 1));
        if (!from || !to || *to < *from) {
            return std::nullopt;
        }
        layout.Given.push_back({*from, *to});
    }
    if (first) {
        return std::nullopt;
    }
    return layout;
}
