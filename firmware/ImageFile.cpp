#include "firmware/ImageFile.h"

#include "firmware/ImageText.h"

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

// Bytes at consecutive addresses, where they are in the store, and how many.
struct TRun {
    size_t At = 0;
    size_t Length = 0;
};

// The data records read so far: every address held once, in runs that never overlap and
// never wrap past 0xFFFFFFFF, by first address. A record repeating earlier bytes adds only
// what is new, and one that continues the last run grows it, so a file is read in time
// in proportion to its size.
class TRunStore {
public:
    // Empty when the bytes agree with every earlier record's at the same addresses, else
    // why not.
    std::string Add(uint64_t First, std::span<const uint8_t> Bytes, size_t Line) {
        const uint64_t end = First + Bytes.size();
        auto it = Runs.upper_bound(First);
        if (it != Runs.begin() && EndOf(*std::prev(it)) > First) {
            --it;
        }
        // The runs met are disjoint and each overlaps these bytes, so there are at most as
        // many as there are bytes.
        Gaps.clear();
        uint64_t next = First;
        for (; it != Runs.end() && it->first < end; ++it) {
            const uint64_t otherFirst = it->first;
            const TRun& other = it->second;
            const uint64_t from = std::max(First, otherFirst);
            const uint64_t to = std::min(end, EndOf(*it));
            for (uint64_t address = from; address < to; ++address) {
                const size_t at = other.At + (address - otherFirst);
                if (Bytes[address - First] != Store[at]) {
                    return LineError(Line, "the byte at " + Hex(address, 4) + " is " +
                                               Hex(Bytes[address - First], 2) + " here but " +
                                               Hex(Store[at], 2) + " on line " +
                                               std::to_string(LineOf(at)) +
                                               "; records may overlap only with the same bytes");
                }
            }
            if (otherFirst > next) {
                Gaps.emplace_back(next, otherFirst);
            }
            next = std::max(next, to);
        }
        if (next < end) {
            Gaps.emplace_back(next, end);
        }
        for (const auto& [gapFirst, gapEnd] : Gaps) {
            const size_t at = Store.size();
            if (Lines.empty() || Lines.back().second != Line) {
                Lines.emplace_back(at, Line);
            }
            Store.insert(Store.end(), Bytes.begin() + static_cast<ptrdiff_t>(gapFirst - First),
                         Bytes.begin() + static_cast<ptrdiff_t>(gapEnd - First));
            const auto length = static_cast<size_t>(gapEnd - gapFirst);
            // Bytes that follow the run before them both in memory and in the store extend it.
            auto before = Runs.lower_bound(gapFirst);
            if (before != Runs.begin() && EndOf(*std::prev(before)) == gapFirst &&
                std::prev(before)->second.At + std::prev(before)->second.Length == at) {
                std::prev(before)->second.Length += length;
            } else {
                Runs.emplace_hint(before, gapFirst, TRun{at, length});
            }
        }
        return {};
    }

    const std::map<uint64_t, TRun>& All() const { return Runs; }
    uint8_t ByteOf(const TRun& Run, size_t Index) const { return Store[Run.At + Index]; }

private:
    static uint64_t EndOf(const std::pair<const uint64_t, TRun>& Entry) {
        return Entry.first + Entry.second.Length;
    }

    // The line that gave the store's byte At.
    size_t LineOf(size_t At) const {
        const auto after =
            std::upper_bound(Lines.begin(), Lines.end(), At,
                             [](size_t Value, const std::pair<size_t, size_t>& Entry) {
                                 return Value < Entry.first;
                             });
        return std::prev(after)->second;
    }

    std::map<uint64_t, TRun> Runs;
    std::vector<uint8_t> Store;
    // Where in the store each line's bytes begin, in the order they were stored.
    std::vector<std::pair<size_t, size_t>> Lines;
    std::vector<std::pair<uint64_t, uint64_t>> Gaps;
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
        // One buffer for every record: no allocation per line.
        std::vector<uint8_t>& bytes = RecordBytes;
        bytes.resize(digits.size() / 2);
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
            const size_t from = index;
            ++index;
            while (index < Data.size() && Base.AddressOf(Offset, index) == first + (index - from)) {
                ++index;
            }
            if (std::string error = Runs.Add(first, Data.subspan(from, index - from), Line);
                !error.empty()) {
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
            const uint64_t last = first + run.Length - 1;
            for (uint64_t address = first; address <= last && address < ImageBufferSize;
                 ++address) {
                image.Bytes[address] = Runs.ByteOf(run, address - first);
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
    std::vector<uint8_t> RecordBytes;
};

} // namespace

const char* ImageFormatName(TImageFormat Format) {
    return Format == TImageFormat::IntelHex ? "Intel HEX" : "raw";
}

TImageFormat DetectImageFormat(std::span<const uint8_t> Content) {
    if (DetectTextEncoding(Content) != TTextEncoding::None) {
        return TImageFormat::IntelHex;
    }
    // A HEX file with bytes that no text holds (a tool's padding after the end record, or
    // damage the reader will name by its line).
    std::string_view text(reinterpret_cast<const char*>(Content.data()), Content.size());
    if (text.starts_with(ByteOrderMark)) {
        text.remove_prefix(ByteOrderMark.size());
    }
    while (!text.empty() && IsBlank(static_cast<uint8_t>(text.front()))) {
        text.remove_prefix(1);
    }
    const std::string_view record =
        text.substr(std::min<size_t>(1, text.size()), ShortestRecordDigits);
    const bool recordBegins = text.starts_with(':') && record.size() == ShortestRecordDigits &&
                              std::all_of(record.begin(), record.end(), [](char Digit) {
                                  return HexValue(static_cast<uint8_t>(Digit)) >= 0;
                              });
    return recordBegins ? TImageFormat::IntelHex : TImageFormat::Raw;
}

TImageReadResult ReadFirmwareImage(std::span<const uint8_t> Content, bool Truncated) {
    if (DetectImageFormat(Content) == TImageFormat::IntelHex) {
        if (Truncated || Content.size() > HexFileLimit) {
            return {std::nullopt, "an Intel HEX file of more than " +
                                      std::to_string(HexFileLimit / (1024 * 1024)) +
                                      " MiB is not an image of 64 KiB of program memory"};
        }
        const TTextEncoding encoding = DetectTextEncoding(Content);
        if (encoding == TTextEncoding::Utf16Le || encoding == TTextEncoding::Utf16Be) {
            const TDecodedText decoded = DecodeUtf16(Content, encoding == TTextEncoding::Utf16Be);
            if (!decoded.Text) {
                return {std::nullopt, decoded.Error};
            }
            return THexReader().Read(std::span(
                reinterpret_cast<const uint8_t*>(decoded.Text->data()), decoded.Text->size()));
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
