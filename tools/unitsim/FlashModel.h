// The unit's 64 KiB program memory as its bootloader sees it: erased in 512-byte pages
// (to 0xFF), programmed in 128-byte blocks, the first 2 KiB (the bootloader) out of
// reach. A block may only be programmed once after its page was erased in the current
// boot session.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

class TFlashModel {
public:
    static constexpr uint32_t Size = 0x10000;
    static constexpr uint32_t FirstProgramAddress = 0x0800;
    static constexpr uint32_t PageSize = 512;
    static constexpr uint32_t BlockSize = 128;

    // Content: Initial when it holds exactly Size bytes, else the fixed pattern.
    explicit TFlashModel(const std::vector<uint8_t>& Initial);

    // Forgets which pages were erased and blocks written: boot mode began anew.
    void BeginSession();

    // Empty when the page or block may be erased or written, else why not.
    std::string CheckErase(uint32_t Address) const;
    std::string CheckWrite(uint32_t Address) const;
    void Erase(uint32_t Address);
    void Write(uint32_t Address, const uint8_t* Block);

    bool WrittenThisSession() const { return AnyWritten; }
    const std::array<uint8_t, Size>& Bytes() const { return Memory; }

    // The pattern a unit starts with when no content is given: old firmware that differs
    // from any plausible image.
    static uint8_t PatternByte(uint32_t Address);

private:
    std::array<uint8_t, Size> Memory{};
    std::bitset<Size / PageSize> PageErased;
    std::bitset<Size / BlockSize> BlockWritten;
    bool AnyWritten = false;
};
