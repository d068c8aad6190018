#include "tools/unitsim/BootDeframer.h"

#include "upgrade/BootFrame.h"

#include <cstdio>

void TBootDeframer::FlushGarbage(std::vector<TBootPiece>& Out) {
    if (!Garbage.empty()) {
        Out.push_back({false, std::move(Garbage), {}, "garbage outside a frame"});
        Garbage.clear();
    }
}

void TBootDeframer::Abandon(const std::string& Why, std::vector<TBootPiece>& Out) {
    FlushGarbage(Out);
    Out.push_back({false, std::move(Wire), {}, Why});
    Wire.clear();
    Body.clear();
    State = TState::Hunt;
}

void TBootDeframer::Take(uint8_t Byte, std::vector<TBootPiece>& Out) {
    switch (State) {
    case TState::Hunt:
        if (Byte == DLE) {
            State = TState::HuntDle;
        } else {
            Garbage.push_back(Byte);
        }
        return;
    case TState::HuntDle:
        if (Byte == STX) {
            FlushGarbage(Out);
            Wire = {DLE, STX};
            Body.clear();
            State = TState::Body;
        } else {
            Garbage.push_back(DLE);
            if (Byte == DLE) {
                return; // this one may still start a frame
            }
            Garbage.push_back(Byte);
            State = TState::Hunt;
        }
        return;
    case TState::Body:
        Wire.push_back(Byte);
        if (Byte == DLE) {
            State = TState::BodyDle;
            return;
        }
        Body.push_back(Byte);
        break;
    case TState::BodyDle:
        Wire.push_back(Byte);
        if (Byte == DLE) {
            Body.push_back(DLE);
            State = TState::Body;
            break;
        }
        if (Byte == ETX) {
            Out.push_back({true, std::move(Wire), std::move(Body), {}});
            Wire.clear();
            Body.clear();
            State = TState::Hunt;
            return;
        }
        if (Byte == STX) {
            Wire.resize(Wire.size() - 2);
            Abandon("frame cut short by a new DLE STX", Out);
            Wire = {DLE, STX};
            State = TState::Body;
            return;
        }
        char why[64];
        std::snprintf(why, sizeof why, "DLE followed by 0x%02X inside a frame", Byte);
        Abandon(why, Out);
        return;
    }
    if (Body.size() > LongestBody) {
        Abandon("frame longer than any request", Out);
    }
}

std::vector<TBootPiece> TBootDeframer::Feed(const uint8_t* Bytes, size_t Length) {
    std::vector<TBootPiece> out;
    for (size_t index = 0; index < Length; ++index) {
        Take(Bytes[index], out);
    }
    return out;
}

std::vector<TBootPiece> TBootDeframer::Silence() {
    std::vector<TBootPiece> out;
    if (State == TState::HuntDle) {
        Garbage.push_back(DLE);
    }
    if (State == TState::Body || State == TState::BodyDle) {
        Abandon("unfinished frame dropped after a silence", out);
    }
    FlushGarbage(out);
    State = TState::Hunt;
    return out;
}

std::vector<uint8_t> TBootDeframer::Clear() {
    std::vector<uint8_t> dropped = std::move(Garbage);
    if (State == TState::HuntDle) {
        dropped.push_back(DLE);
    }
    dropped.insert(dropped.end(), Wire.begin(), Wire.end());
    Garbage.clear();
    Wire.clear();
    Body.clear();
    State = TState::Hunt;
    return dropped;
}
