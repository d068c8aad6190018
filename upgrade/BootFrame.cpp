#include "upgrade/BootFrame.h"

#include "serial/ResultCodes.h"

#include <algorithm>

uint8_t BootChecksum(const uint8_t* Bytes, size_t Length) {
    uint8_t sum = 0;
    for (size_t i = 0; i < Length; ++i) {
        sum = static_cast<uint8_t>(sum + Bytes[i]);
    }
    return static_cast<uint8_t>(0x100 - sum);
}

std::vector<uint8_t> BuildBootFrame(uint8_t Command, uint8_t Count, const uint8_t* Payload,
                                    size_t PayloadLength) {
    std::vector<uint8_t> body;
    body.reserve(PayloadLength + 3);
    body.push_back(Command);
    body.push_back(Count);
    body.insert(body.end(), Payload, Payload + PayloadLength);
    body.push_back(BootChecksum(body.data(), body.size()));

    std::vector<uint8_t> frame;
    frame.reserve(4 + 2 * body.size());
    frame.push_back(DLE);
    frame.push_back(STX);
    for (uint8_t b : body) {
        frame.push_back(b);
        if (b == DLE) {
            frame.push_back(DLE);
        }
    }
    frame.push_back(DLE);
    frame.push_back(ETX);
    return frame;
}

std::vector<uint8_t> UnstuffBootFrame(const uint8_t* Bytes, size_t Length) {
    std::vector<uint8_t> out;
    out.reserve(Length);
    for (size_t i = 0; i < Length; ++i) {
        if (Bytes[i] == DLE) {
            // The byte after a DLE is kept whatever it is; a DLE at the very end has none.
            if (++i >= Length) {
                break;
            }
        }
        out.push_back(Bytes[i]);
    }
    return out;
}

int32_t DecodeBootReply(const uint8_t* Unstuffed, size_t Length, uint8_t Count, uint8_t* Reply) {
    // STX, command, count, checksum, ETX at the least.
    if (Length < 5) {
        return TxResult::Failed;
    }
    uint8_t sum = 0;
    for (size_t i = 1; i + 1 < Length; ++i) {
        sum = static_cast<uint8_t>(sum + Unstuffed[i]);
    }
    if (sum != 0) {
        return TxResult::Failed;
    }
    const size_t carried = Length - 5;
    std::copy_n(Unstuffed + 3, std::min<size_t>(Count, carried), Reply);
    return TxResult::Ok;
}
