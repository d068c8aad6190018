#include "tools/unitsim/UartMismatch.h"

#include <cmath>

namespace {

// The line level at Time, measured in the sender's bit times from the first start bit.
int Level(const std::vector<uint8_t>& Sent, double Time) {
    if (Time < 0) {
        return 1;
    }
    const auto bit = static_cast<uint64_t>(std::floor(Time));
    const uint64_t byte = bit / 10;
    if (byte >= Sent.size()) {
        return 1;
    }
    const uint64_t position = bit % 10;
    if (position == 0) {
        return 0;
    }
    if (position == 9) {
        return 1;
    }
    return (Sent[byte] >> (position - 1)) & 1;
}

} // namespace

std::vector<uint8_t> ReceiveAtRate(const std::vector<uint8_t>& Sent, uint32_t SentRate,
                                   uint32_t ReceiverRate) {
    std::vector<uint8_t> received;
    if (SentRate == 0 || ReceiverRate == 0) {
        return received;
    }
    const double receiverBit = static_cast<double>(SentRate) / ReceiverRate;
    const auto end = static_cast<uint64_t>(Sent.size()) * 10;
    double from = 0;
    while (true) {
        // Levels change only at the sender's bit boundaries: find the next fall.
        auto edge = static_cast<uint64_t>(std::ceil(from));
        while (edge <= end && !(Level(Sent, edge - 0.5) == 1 && Level(Sent, edge + 0.5) == 0)) {
            ++edge;
        }
        if (edge > end) {
            break;
        }
        auto sample = [&](int Index) { return Level(Sent, edge + (Index + 0.5) * receiverBit); };
        if (sample(0) != 0) {
            from = edge + 0.5 * receiverBit; // a glitch, not a start bit
            continue;
        }
        uint8_t byte = 0;
        for (int index = 1; index <= 8; ++index) {
            byte = static_cast<uint8_t>(byte | sample(index) << (index - 1));
        }
        received.push_back(sample(9) == 1 ? byte : uint8_t{0x00});
        from = edge + 9.5 * receiverBit;
    }
    return received;
}
