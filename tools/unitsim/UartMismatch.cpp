#include "tools/unitsim/UartMismatch.h"

#include <cmath>

namespace {

// The line level at Time, measured in the sender's bit times from the first start bit.
int Level(const std::vector<uint8_t>& Sent, double Time) {
    if (Time < 0) {
        return 1;
    }
    const auto Bit = static_cast<uint64_t>(std::floor(Time));
    const uint64_t Byte = Bit / 10;
    if (Byte >= Sent.size()) {
        return 1;
    }
    const uint64_t Position = Bit % 10;
    if (Position == 0) {
        return 0;
    }
    if (Position == 9) {
        return 1;
    }
    return (Sent[Byte] >> (Position - 1)) & 1;
}

} // namespace

std::vector<uint8_t> ReceiveAtRate(const std::vector<uint8_t>& Sent, uint32_t SentRate,
                                   uint32_t ReceiverRate) {
    std::vector<uint8_t> Received;
    if (SentRate == 0 || ReceiverRate == 0) {
        return Received;
    }
    const double ReceiverBit = static_cast<double>(SentRate) / ReceiverRate;
    const auto End = static_cast<uint64_t>(Sent.size()) * 10;
    double From = 0;
    while (true) {
        // Levels change only at the sender's bit boundaries: find the next fall.
        auto Edge = static_cast<uint64_t>(std::ceil(From));
        while (Edge <= End && !(Level(Sent, Edge - 0.5) == 1 && Level(Sent, Edge + 0.5) == 0)) {
            ++Edge;
        }
        if (Edge > End) {
            break;
        }
        auto Sample = [&](int Index) { return Level(Sent, Edge + (Index + 0.5) * ReceiverBit); };
        if (Sample(0) != 0) {
            From = Edge + 0.5 * ReceiverBit; // a glitch, not a start bit
            continue;
        }
        uint8_t Byte = 0;
        for (int Index = 1; Index <= 8; ++Index) {
            Byte = static_cast<uint8_t>(Byte | Sample(Index) << (Index - 1));
        }
        Received.push_back(Sample(9) == 1 ? Byte : uint8_t{0x00});
        From = Edge + 9.5 * ReceiverBit;
    }
    return Received;
}
