// CRC-16/MODBUS as the master stores it: returned byte-swapped, so that writing the value
// high half first puts the CRC on the wire low byte first.
#include "modbus/ModbusCrc.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

uint16_t CrcOf(const std::vector<uint8_t>& Bytes) {
    return ModbusCrc(Bytes.data(), 0, static_cast<uint16_t>(Bytes.size() - 1));
}

TEST(ModbusCrc, KnownFramesGiveTheirWireBytesHighHalfFirst) {
    EXPECT_EQ(CrcOf({0x13, 0x03, 0x00, 0x14, 0x00, 0x02}), 0x877D); // identity read
    EXPECT_EQ(CrcOf({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}), 0xC5CD);
    EXPECT_EQ(CrcOf({0x11, 0x03, 0x00, 0x6B, 0x00, 0x03}), 0x7687);
    EXPECT_EQ(CrcOf({'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0x374B); // check 0x4B37
}

TEST(ModbusCrc, FirstAndLastAreInclusiveIndices) {
    const std::vector<uint8_t> padded = {0xEE, 0x13, 0x03, 0x00, 0x14, 0x00, 0x02, 0xEE};
    EXPECT_EQ(ModbusCrc(padded.data(), 1, 6), 0x877D);
    const uint8_t single = 0x13;
    EXPECT_EQ(ModbusCrc(&single, 0, 0), 0xFE8D); // CRC 0x8DFE of the one byte 0x13
}

TEST(ModbusCrc, LastBelowFirstGivesFFFFWithoutReadingTheBuffer) {
    EXPECT_EQ(ModbusCrc(nullptr, 1, 0), 0xFFFF);
    EXPECT_EQ(ModbusCrc(nullptr, 0xFFFF, 0), 0xFFFF);
}

TEST(ModbusCrc, FrameWithItsCrcAppendedChecksToZeroUpToTheLargestIndex) {
    // Also runs the loop up to index 0xFFFF, where a 16-bit loop counter would never end.
    std::mt19937 random(7);
    std::vector<uint8_t> frame(65536);
    for (size_t i = 0; i + 2 < frame.size(); ++i) {
        frame[i] = static_cast<uint8_t>(random());
    }
    const uint16_t crc = ModbusCrc(frame.data(), 0, 0xFFFD);
    frame[0xFFFE] = static_cast<uint8_t>(crc >> 8);
    frame[0xFFFF] = static_cast<uint8_t>(crc);
    EXPECT_EQ(ModbusCrc(frame.data(), 0, 0xFFFF), 0x0000);
}

} // namespace
