// Cuts the byte stream the bootloader hears into frames: DLE STX, the body with every
// DLE doubled, DLE ETX. Bytes outside a frame, a frame cut short by a new DLE STX, a DLE
// followed by anything but DLE, STX or ETX, an oversized body and a frame left unfinished
// when the line falls silent are all rejected.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TBootPiece {
    bool IsFrame = false;
    std::vector<uint8_t> Wire; // as received
    std::vector<uint8_t> Body; // unstuffed, frames only (checksum not yet checked)
    std::string Why;           // for rejected bytes
};

class TBootDeframer {
public:
    // Command, count, 131 payload bytes and the checksum.
    static constexpr size_t LongestBody = 134;

    std::vector<TBootPiece> Feed(const uint8_t* Bytes, size_t Length);
    std::vector<TBootPiece> Silence();
    std::vector<uint8_t> Clear();
    bool Holding() const { return State != TState::Hunt || !Garbage.empty(); }

private:
    enum class TState { Hunt, HuntDle, Body, BodyDle };
    void Take(uint8_t Byte, std::vector<TBootPiece>& Out);
    void FlushGarbage(std::vector<TBootPiece>& Out);
    void Abandon(const std::string& Why, std::vector<TBootPiece>& Out);

    TState State = TState::Hunt;
    std::vector<uint8_t> Wire;
    std::vector<uint8_t> Body;
    std::vector<uint8_t> Garbage;
};
