#include "firmware/ImageSelection.h"

#include "upgrade/ProgramRange.h"

#include <algorithm>

namespace {

constexpr size_t NamedRanges = 8;

} // namespace

TImageSelection SelectForProgram(TImageFormat Format, const std::vector<TAddressRange>& Given,
                                 const TBlockFlags& BlockPresent, uint32_t LastProgramAddress) {
    TImageSelection selection;
    if (!IsValidProgramRange(LastProgramAddress)) {
        return selection;
    }
    for (uint32_t block = FirstProgramAddress / ImageBlockSize;
         block <= LastProgramAddress / ImageBlockSize; ++block) {
        ++selection.BlocksInRange;
        selection.BlocksSent += BlockPresent[block] != 0 ? 1 : 0;
    }
    if (Format != TImageFormat::IntelHex) {
        return selection;
    }
    const auto leaveOut = [&selection](uint32_t First, uint32_t Last) {
        selection.LeftOut.push_back({First, Last});
        selection.LeftOutBytes += uint64_t{Last} - First + 1;
    };
    for (const TAddressRange& range : Given) {
        if (range.First < FirstProgramAddress) {
            leaveOut(range.First, std::min(range.Last, FirstProgramAddress - 1));
        }
        if (range.Last > LastProgramAddress) {
            leaveOut(std::max(range.First, LastProgramAddress + 1), range.Last);
        }
    }
    return selection;
}

std::vector<uint8_t> BytesToSend(const std::array<uint8_t, ImageBufferSize>& Bytes,
                                 const TBlockFlags& BlockPresent, uint32_t LastProgramAddress) {
    std::vector<uint8_t> sent;
    if (!IsValidProgramRange(LastProgramAddress)) {
        return sent;
    }
    for (uint32_t block = FirstProgramAddress / ImageBlockSize;
         block <= LastProgramAddress / ImageBlockSize; ++block) {
        if (BlockPresent[block] != 0) {
            const auto first = Bytes.begin() + block * ImageBlockSize;
            sent.insert(sent.end(), first, first + ImageBlockSize);
        }
    }
    return sent;
}

std::string AddressText(uint32_t Address) {
    std::string digits;
    do {
        digits.insert(digits.begin(), "0123456789ABCDEF"[Address % 16]);
        Address /= 16;
    } while (Address != 0 || digits.size() < 4);
    return "0x" + digits;
}

std::string RangeText(const TAddressRange& Range) {
    return AddressText(Range.First) + ".." + AddressText(Range.Last);
}

std::string LeftOutText(const TImageSelection& Selection, uint32_t LastProgramAddress) {
    if (Selection.LeftOut.empty()) {
        return {};
    }
    std::string text = "Left out " + std::to_string(Selection.LeftOutBytes) +
                       (Selection.LeftOutBytes == 1 ? " byte" : " bytes") +
                       " outside program memory " +
                       RangeText({FirstProgramAddress, LastProgramAddress}) + ": ";
    for (size_t i = 0; i < Selection.LeftOut.size() && i < NamedRanges; ++i) {
        text += (i > 0 ? ", " : "") + RangeText(Selection.LeftOut[i]);
    }
    if (Selection.LeftOut.size() > NamedRanges) {
        text += " and " + std::to_string(Selection.LeftOut.size() - NamedRanges) + " more ranges";
    }
    return text;
}

std::string NoProgramDataText(uint32_t LastProgramAddress) {
    return "The image holds no data in program memory " +
           RangeText({FirstProgramAddress, LastProgramAddress});
}
