// Cuts the byte stream a Modbus RTU slave hears into requests. A request's length follows
// from its function code (3, 6, 103: 8 bytes; 16, 104: 9 + the byte count at offset 6);
// any other function ends at a silence. A frame whose CRC is wrong is skipped one byte at
// a time until a good one lines up; what is left over when the line falls silent is
// dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct TModbusPiece {
    bool IsFrame = false;       // false: bytes that made no request
    bool AtSilence = false;     // true: bytes dropped when the line fell silent
    std::vector<uint8_t> Bytes; // a frame includes its CRC, which is good
};

class TModbusFramer {
public:
    // Takes the bytes and returns every frame and every run of rejected bytes they
    // complete, in order.
    std::vector<TModbusPiece> Feed(const uint8_t* Bytes, size_t Length);
    // The line has been silent for the gap: whatever is held is decided now.
    std::vector<TModbusPiece> Silence();
    // Drops what is held, returned as one run of rejected bytes (empty if none).
    std::vector<uint8_t> Clear();
    bool Holding() const { return !Buffer.empty(); }

    static bool CrcGood(const uint8_t* Frame, size_t Length);

private:
    enum class TShape { Complete, Bad, NeedMore, UnknownFunction };
    TShape Examine(size_t At, size_t& Length) const;
    bool FindLaterFrame(size_t From, size_t& At) const;
    void Cut(bool AtSilence, std::vector<TModbusPiece>& Out);
    void Reject(size_t Count);
    void FlushRejected(bool AtSilence, std::vector<TModbusPiece>& Out);

    std::vector<uint8_t> Buffer;
    std::vector<uint8_t> Rejected;
};
