// The Telnet layer of a remote port: the bytes of a Telnet connection read as data and
// commands (TTelnetDecoder), and data, option negotiation and subnegotiation written as
// bytes (the Append functions). A data byte 0xFF travels doubled (IAC IAC); a command is
// IAC followed by its code; an option is negotiated with IAC WILL/WONT/DO/DONT <option>;
// a subnegotiation is IAC SB <option> <payload, 0xFF doubled> IAC SE. No I/O here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Telnet {
constexpr uint8_t Se = 240;
constexpr uint8_t Nop = 241;
constexpr uint8_t Sb = 250;
constexpr uint8_t Will = 251;
constexpr uint8_t Wont = 252;
constexpr uint8_t Do = 253;
constexpr uint8_t Dont = 254;
constexpr uint8_t Iac = 255;

constexpr uint8_t Binary = 0;
constexpr uint8_t Echo = 1;
constexpr uint8_t SuppressGoAhead = 3;
} // namespace Telnet

// A command of the stream: a negotiation (Verb WILL/WONT/DO/DONT with its Option), a
// subnegotiation (Verb SB, its Option and Payload undoubled) or any other command (Verb
// its code: NOP, GA, ...). DataOffset: how many data bytes of the same Decode came before it.
struct TTelnetEvent {
    uint8_t Verb = 0;
    uint8_t Option = 0;
    std::vector<uint8_t> Payload;
    size_t DataOffset = 0;
};

class TTelnetDecoder {
public:
    // The longest subnegotiation payload kept; the rest of a longer one is dropped.
    static constexpr size_t PayloadLimit = 256;

    // Reads Length bytes of Buffer, which may end anywhere in a command (the rest comes
    // with the next call): the data bytes are moved to the front of Buffer and their
    // number returned; the commands are appended to Events in order.
    size_t Decode(uint8_t* Buffer, size_t Length, std::vector<TTelnetEvent>& Events);

private:
    enum class TState : uint8_t { Data, Iac, Negotiation, SbOption, SbData, SbIac };
    TState State = TState::Data;
    TTelnetEvent Pending;
};

// Data with every 0xFF doubled.
void AppendTelnetData(std::vector<uint8_t>& Out, const uint8_t* Data, size_t Length);
// IAC Verb Option.
void AppendNegotiation(std::vector<uint8_t>& Out, uint8_t Verb, uint8_t Option);
// IAC SB Option Payload IAC SE, 0xFF in the payload doubled.
void AppendSubnegotiation(std::vector<uint8_t>& Out, uint8_t Option, const uint8_t* Payload,
                          size_t Length);
