#include "tools/unitsim/FlashModel.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string Hex(uint32_t Address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(Address));
    return text;
}

} // namespace

TFlashModel::TFlashModel(const std::vector<uint8_t>& Initial) {
    if (Initial.size() == Size) {
        std::copy(Initial.begin(), Initial.end(), Memory.begin());
    } else {
        for (uint32_t address = 0; address < Size; ++address) {
            Memory[address] = PatternByte(address);
        }
    }
}

uint8_t TFlashModel::PatternByte(uint32_t Address) {
    return static_cast<uint8_t>((Address * 7) ^ (Address >> 8) ^ 0x5A);
}

void TFlashModel::BeginSession() {
    PageErased.reset();
    BlockWritten.reset();
    AnyWritten = false;
}

std::string TFlashModel::CheckErase(uint32_t Address) const {
    if (Address < FirstProgramAddress || Address >= Size) {
        return "erase of page " + Hex(Address) + " outside 0x0800..0xFFFF";
    }
    if (Address % PageSize != 0) {
        return "erase of " + Hex(Address) + ", not at the start of a 512-byte page";
    }
    return {};
}

std::string TFlashModel::CheckWrite(uint32_t Address) const {
    if (Address < FirstProgramAddress || Address >= Size) {
        return "write of block " + Hex(Address) + " outside 0x0800..0xFFFF";
    }
    if (Address % BlockSize != 0) {
        return "write of " + Hex(Address) + ", not at the start of a 128-byte block";
    }
    if (!PageErased[Address / PageSize]) {
        return "write of block " + Hex(Address) + " to a page not erased in this boot session";
    }
    if (BlockWritten[Address / BlockSize]) {
        return "write of block " + Hex(Address) + " a second time since its page was erased";
    }
    return {};
}

void TFlashModel::Erase(uint32_t Address) {
    std::fill_n(Memory.begin() + Address, PageSize, uint8_t{0xFF});
    PageErased.set(Address / PageSize);
    for (uint32_t block = Address / BlockSize; block < (Address + PageSize) / BlockSize; ++block) {
        BlockWritten.reset(block);
    }
}

void TFlashModel::Write(uint32_t Address, const uint8_t* Block) {
    std::copy_n(Block, BlockSize, Memory.begin() + Address);
    BlockWritten.set(Address / BlockSize);
    AnyWritten = true;
}
