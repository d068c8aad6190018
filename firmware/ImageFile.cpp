#include "firmware/ImageFile.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <string_view>

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
constexpr size_t ShortestRecordDigits = 10; // length, address, type, checksum
constexpr uint64_t AddressSpace = uint64_t{1} << 32;

constexpr uint8_t DataRecord = 0x00;
constexpr uint8_t EndRecord = 0x01;
constexpr uint8_t SegmentAddressRecord = 0x02;
constexpr uint8_t StartSegmentRecord = 0x03;
constexpr uint8_t LinearAddressRecord = 0x04;
constexpr uint8_t StartLinearRecord = 0x05;

bool IsBlank(uint8_t Byte) {
    return Byte == ' ' || Byte == '\t' || Byte == '\r' || Byte == '\n';
}

int HexValue(uint8_t Digit) {
    if (Digit >= '0' && Digit <= '9') {
        return Digit - '0';
    }
    if (Digit >= 'A' && Digit <= 'F') {
        return Digit - 'A' + 10;
    }
    if (Digit >= 'a' && Digit <= 'f') {
        return Digit - 'a' + 10;
    }
    return -1;
}

// Printable characters, blanks and the end-of-file mark some tools append (Ctrl-Z).
bool IsText(uint8_t Byte) {
    return (Byte >= 0x20 && Byte < 0x7F) || IsBlank(Byte) || Byte == 0x1A;
}

// Value in upper-case hex with at least Digits digits, after "0x" when Prefixed.
std::string Hex(uint64_t Value, int Digits, bool Prefixed = true) {
    std::string digits;
    do {
        digits.insert(digits.begin(), "0123456789ABCDEF"[Value % 16]);
        Value /= 16;
    } while (Value != 0 || static_cast<int>(digits.size()) < Digits);
    return Prefixed ? "0x" + digits : digits;
}

std::string LineError(size_t Line, const std::string& Text) {
    return "line " + std::to_string(Line) + ": " + Text;
}

// How a character a record cannot hold is named in a message.
std::string CharacterName(uint8_t Byte) {
    if (Byte >= 0x20 && Byte < 0x7F) {
        return std::string{'\'', static_cast<char>(Byte), '\''};
    }
    return "byte " + Hex(Byte, 2);
}

// One record's bytes at consecutive addresses, and the line that gave them.
struct TRun {
    std::vector<uint8_t> Bytes;
    size_t Line = 0;
};

// The data records read so far, by first address; runs never wrap past 0xFFFFFFFF.
class TRunStore {
public:
    // Empty when the run agrees with every earlier run it overlaps, else why not.
    std::string Add(uint64_t First, std::vector<uint8_t> Bytes, size_t Line) {
        const uint64_t end = First + Bytes.size();
        // A run holds at most 255 bytes: an earlier one that overlaps starts at most 254
        // before this one.
        auto it = Runs.lower_bound(First >= 254 ? First - 254 : 0);
        for (; it != Runs.end() && it->first < end; ++it) {
            const uint64_t otherFirst = it->first;
            const TRun& other = it->second;
            const uint64_t from = std::max(First, otherFirst);
            const uint64_t to = std::min(end, otherFirst + other.Bytes.size());
            for (uint64_t address = from; address < to; ++address) {
                if (Bytes[address - First] != other.Bytes[address - otherFirst]) {
                    return LineError(Line, "the byte at " + Hex(address, 4) + " is " +
                                               Hex(Bytes[address - First], 2) + " here but " +
                                               Hex(other.Bytes[address - otherFirst], 2) +
                                               " on line " + std::to_string(other.Line) +
                                               "; records may overlap only with the same bytes");
                }
            }
        }
        Runs.emplace(First, TRun{std::move(Bytes), Line});
        return {};
    }

    const std::multimap<uint64_t, TRun>& All() const { return Runs; }

private:
    std::multimap<uint64_t, TRun> Runs;
};

// Where the bytes of data records go: the last extended address record's base, a segment
// base (offsets wrap within the 64 KiB segment) or a linear one (addresses wrap at 4 GiB).
struct TAddressBase {
    bool Segment = false;
    uint64_t Base = 0;

    uint64_t AddressOf(uint16_t Offset, size_t Index) const {
        if (Segment) {
            return Base + ((Offset + Index) & 0xFFFF);
        }
        return (Base + Offset + Index) % AddressSpace;
    }
};

class THexReader {
public:
    TImageReadResult Read(std::span<const uint8_t> Content) {
        std::string_view text(reinterpret_cast<const char*>(Content.data()), Content.size());
        if (text.starts_with(ByteOrderMark)) {
            text.remove_prefix(ByteOrderMark.size());
        }
        size_t lineNumber = 0;
        bool ended = false;
        while (!text.empty() && !ended) {
            ++lineNumber;
            const size_t newline = text.find('\n');
            std::string_view line = text.substr(0, newline);
            text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
            while (!line.empty() && IsBlank(static_cast<uint8_t>(line.back()))) {
                line.remove_suffix(1);
            }
            while (!line.empty() && IsBlank(static_cast<uint8_t>(line.front()))) {
                line.remove_prefix(1);
            }
            if (line.empty()) {
                continue;
            }
            if (std::string error = ReadRecord(line, lineNumber, ended); !error.empty()) {
                return {std::nullopt, error};
            }
        }
        if (!ended) {
            return {std::nullopt, "no end-of-file record (:00000001FF): the file may be cut short"};
        }
        return {MakeImage(), {}};
    }

private:
    std::string ReadRecord(std::string_view Line, size_t Number, bool& Ended) {
        if (Line.front() != ':') {
            return LineError(Number, "a record begins with ':', this line with " +
                                         CharacterName(static_cast<uint8_t>(Line.front())));
        }
        const std::string_view digits = Line.substr(1);
        for (const char digit : digits) {
            if (HexValue(static_cast<uint8_t>(digit)) < 0) {
                return LineError(Number, CharacterName(static_cast<uint8_t>(digit)) +
                                             " is not a hex digit");
            }
        }
        if (digits.size() < ShortestRecordDigits || digits.size() % 2 != 0) {
            return LineError(Number, "a record is an even number of hex digits, at least " +
                                         std::to_string(ShortestRecordDigits) + "; this one has " +
                                         std::to_string(digits.size()));
        }
        std::vector<uint8_t> bytes(digits.size() / 2);
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<uint8_t>(HexValue(static_cast<uint8_t>(digits[2 * i])) * 16 +
                                            HexValue(static_cast<uint8_t>(digits[2 * i + 1])));
        }
        const size_t length = bytes[0];
        if (bytes.size() != length + 5) {
            return LineError(Number, "the record's length byte says " + std::to_string(length) +
                                         " data bytes, the line holds " +
                                         std::to_string(bytes.size() - 5));
        }
        uint8_t sum = 0;
        for (size_t i = 0; i + 1 < bytes.size(); ++i) {
            sum = static_cast<uint8_t>(sum + bytes[i]);
        }
        const auto expected = static_cast<uint8_t>(0x100 - sum);
        if (bytes.back() != expected) {
            return LineError(Number, "bad record checksum " + Hex(bytes.back(), 2) +
                                         " (the record's bytes need " + Hex(expected, 2) + ")");
        }
        const auto offset = static_cast<uint16_t>((bytes[1] << 8) | bytes[2]);
        const uint8_t type = bytes[3];
        const std::span<const uint8_t> data(bytes.data() + 4, length);
        const auto needLength = [&](size_t Wanted) {
            return length == Wanted
                       ? std::string()
                       : LineError(Number, "a record of type " + Hex(type, 2, false) + " holds " +
                                               std::to_string(Wanted) + " data bytes, this one " +
                                               std::to_string(length));
        };
        switch (type) {
        case DataRecord:
            return AddData(offset, data, Number);
        case EndRecord:
            Ended = true;
            return needLength(0);
        case SegmentAddressRecord:
        case LinearAddressRecord:
            if (std::string error = needLength(2); !error.empty()) {
                return error;
            }
            Base.Segment = type == SegmentAddressRecord;
            Base.Base = uint64_t{static_cast<uint16_t>((data[0] << 8) | data[1])}
                        << (Base.Segment ? 4 : 16);
            return {};
        case StartSegmentRecord:
        case StartLinearRecord:
            return needLength(4);
        default:
            return LineError(Number, "unknown record type " + Hex(type, 2, false));
        }
    }

    // The data split where its addresses wrap, each piece checked against earlier records.
    std::string AddData(uint16_t Offset, std::span<const uint8_t> Data, size_t Line) {
        size_t index = 0;
        while (index < Data.size()) {
            const uint64_t first = Base.AddressOf(Offset, index);
            std::vector<uint8_t> run{Data[index]};
            ++index;
            while (index < Data.size() && Base.AddressOf(Offset, index) == first + run.size()) {
                run.push_back(Data[index]);
                ++index;
            }
            if (std::string error = Runs.Add(first, std::move(run), Line); !error.empty()) {
                return error;
            }
        }
        return {};
    }

    TFirmwareImage MakeImage() const {
        TFirmwareImage image;
        image.Format = TImageFormat::IntelHex;
        image.Bytes.fill(0xFF);
        image.RawLength = 0;
        std::vector<TAddressRange> ranges;
        for (const auto& [first, run] : Runs.All()) {
            const uint64_t last = first + run.Bytes.size() - 1;
            for (uint64_t address = first; address <= last && address < ImageBufferSize;
                 ++address) {
                image.Bytes[address] = run.Bytes[address - first];
            }
            ranges.push_back({static_cast<uint32_t>(first), static_cast<uint32_t>(last)});
        }
        // In order of their first address already; overlapping and adjacent ones joined.
        for (const TAddressRange& range : ranges) {
            if (!image.Given.empty() && uint64_t{image.Given.back().Last} + 1 >= range.First) {
                image.Given.back().Last = std::max(image.Given.back().Last, range.Last);
            } else {
                image.Given.push_back(range);
            }
        }
        image.BlockPresent = BlockFlagsOf(image.Given);
        return image;
    }

    TAddressBase Base;
    TRunStore Runs;
};

} // namespace

const char* ImageFormatName(TImageFormat Format) {
    return Format == TImageFormat::IntelHex ? "Intel HEX" : "raw";
}

TImageFormat DetectImageFormat(std::span<const uint8_t> Content) {
    std::string_view text(reinterpret_cast<const char*>(Content.data()), Content.size());
    if (text.starts_with(ByteOrderMark)) {
        text.remove_prefix(ByteOrderMark.size());
    }
    while (!text.empty() && IsBlank(static_cast<uint8_t>(text.front()))) {
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() != ':') {
        return TImageFormat::Raw;
    }
    const std::string_view record = text.substr(1, ShortestRecordDigits);
    const bool recordBegins = record.size() == ShortestRecordDigits &&
                              std::all_of(record.begin(), record.end(), [](char Digit) {
                                  return HexValue(static_cast<uint8_t>(Digit)) >= 0;
                              });
    const bool allText = std::all_of(text.begin(), text.end(),
                                     [](char Byte) { return IsText(static_cast<uint8_t>(Byte)); });
    return recordBegins || allText ? TImageFormat::IntelHex : TImageFormat::Raw;
}

TImageReadResult ReadFirmwareImage(std::span<const uint8_t> Content, bool Truncated) {
    if (DetectImageFormat(Content) == TImageFormat::IntelHex) {
        if (Truncated || Content.size() > HexFileLimit) {
            return {std::nullopt, "an Intel HEX file of more than " +
                                      std::to_string(HexFileLimit / (1024 * 1024)) +
                                      " MiB is not an image of 64 KiB of program memory"};
        }
        return THexReader().Read(Content);
    }
    TFirmwareImage image;
    image.Format = TImageFormat::Raw;
    image.RawLength = std::min(Content.size(), ImageBufferSize);
    std::copy_n(Content.begin(), image.RawLength, image.Bytes.begin());
    image.BlockPresent.fill(1);
    if (image.RawLength > 0) {
        image.Given.push_back({0, static_cast<uint32_t>(image.RawLength - 1)});
    }
    return {image, {}};
}

TBlockFlags BlockFlagsOf(const std::vector<TAddressRange>& Ranges) {
    TBlockFlags flags{};
    for (const TAddressRange& range : Ranges) {
        if (range.First >= ImageBufferSize) {
            continue;
        }
        const size_t last = std::min<size_t>(range.Last, ImageBufferSize - 1);
        for (size_t block = range.First / ImageBlockSize; block <= last / ImageBlockSize; ++block) {
            flags[block] = 1;
        }
    }
    return flags;
}
