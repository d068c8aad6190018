#include "tools/unitsim/ModbusFramer.h"

#include "modbus/ModbusCrc.h"

namespace {

// Beyond this a held run cannot be a request of this unit: decide it at once.
constexpr size_t LongestHeld = 512;
// Slave, function and the two CRC bytes.
constexpr size_t ShortestFrame = 4;
// A write of 255 data bytes: 9 + 255.
constexpr size_t LongestFrame = 264;

} // namespace

bool TModbusFramer::CrcGood(const uint8_t* Frame, size_t Length) {
    if (Length < ShortestFrame || Length > 0xFFFF) {
        return false;
    }
    const uint16_t crc = ModbusCrc(Frame, 0, static_cast<uint16_t>(Length - 3));
    return Frame[Length - 2] == (crc >> 8) && Frame[Length - 1] == (crc & 0xFF);
}

TModbusFramer::TShape TModbusFramer::Examine(size_t At, size_t& Length) const {
    const size_t available = Buffer.size() - At;
    if (available < 2) {
        return TShape::NeedMore;
    }
    switch (Buffer[At + 1]) {
    case 3:
    case 6:
    case 103:
        Length = 8;
        break;
    case 16:
    case 104:
        if (available < 7) {
            return TShape::NeedMore;
        }
        Length = 9 + static_cast<size_t>(Buffer[At + 6]);
        break;
    default:
        return TShape::UnknownFunction;
    }
    if (available < Length) {
        return TShape::NeedMore;
    }
    return CrcGood(Buffer.data() + At, Length) ? TShape::Complete : TShape::Bad;
}

bool TModbusFramer::FindLaterFrame(size_t From, size_t& At) const {
    for (size_t candidate = From;
         candidate + ShortestFrame <= Buffer.size() && candidate <= LongestFrame; ++candidate) {
        size_t length = 0;
        if (Examine(candidate, length) == TShape::Complete) {
            At = candidate;
            return true;
        }
    }
    return false;
}

void TModbusFramer::Reject(size_t Count) {
    Rejected.insert(Rejected.end(), Buffer.begin(), Buffer.begin() + Count);
    Buffer.erase(Buffer.begin(), Buffer.begin() + Count);
}

void TModbusFramer::FlushRejected(bool AtSilence, std::vector<TModbusPiece>& Out) {
    if (!Rejected.empty()) {
        Out.push_back({false, AtSilence, std::move(Rejected)});
        Rejected.clear();
    }
}

void TModbusFramer::Cut(bool AtSilence, std::vector<TModbusPiece>& Out) {
    const bool final = AtSilence || Buffer.size() > LongestHeld;
    while (!Buffer.empty()) {
        size_t length = 0;
        const TShape shape = Examine(0, length);
        if (shape == TShape::Complete) {
            FlushRejected(false, Out);
            Out.push_back({true, false, {Buffer.begin(), Buffer.begin() + length}});
            Buffer.erase(Buffer.begin(), Buffer.begin() + length);
            continue;
        }
        if (shape == TShape::UnknownFunction) {
            size_t later = 0;
            if (FindLaterFrame(1, later)) {
                Reject(later);
                continue;
            }
            if (!final) {
                break;
            }
            // Only silence ends a request of a function the unit does not know.
            if (Buffer.size() <= LongestFrame && CrcGood(Buffer.data(), Buffer.size())) {
                FlushRejected(false, Out);
                Out.push_back({true, false, std::move(Buffer)});
                Buffer.clear();
                break;
            }
            Reject(1);
            continue;
        }
        if (shape == TShape::NeedMore && !final) {
            break;
        }
        Reject(1);
    }
    FlushRejected(AtSilence, Out);
}

std::vector<TModbusPiece> TModbusFramer::Feed(const uint8_t* Bytes, size_t Length) {
    Buffer.insert(Buffer.end(), Bytes, Bytes + Length);
    std::vector<TModbusPiece> out;
    Cut(false, out);
    return out;
}

std::vector<TModbusPiece> TModbusFramer::Silence() {
    std::vector<TModbusPiece> out;
    Cut(true, out);
    return out;
}

std::vector<uint8_t> TModbusFramer::Clear() {
    std::vector<uint8_t> dropped = std::move(Rejected);
    dropped.insert(dropped.end(), Buffer.begin(), Buffer.end());
    Rejected.clear();
    Buffer.clear();
    return dropped;
}
