// The Telnet COM-PORT-OPTION (option 44): the commands a client sends to set the server's
// serial line, and the server's answers, whose code is the command's plus 100 and whose
// value is the setting the server now has (4 bytes, most significant first, for the bit
// rate; one byte for the others).
#pragma once

#include "serial/remote/TelnetCodec.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace ComPort {
constexpr uint8_t Option = 44;
constexpr uint8_t SetBaudRate = 1;
constexpr uint8_t SetDataSize = 2;
constexpr uint8_t SetParity = 3;
constexpr uint8_t SetStopSize = 4;
constexpr uint8_t PurgeData = 12;
constexpr uint8_t CommandCount = 13;
constexpr uint8_t ServerOffset = 100;
// PurgeData's value: both buffers of the server's line.
constexpr uint8_t PurgeBoth = 3;
} // namespace ComPort

// The line settings of TLineSettings as the option's values.
uint8_t ComPortParity(uint8_t Parity);     // None, Odd, Even, Mark, Space: 1..5
uint8_t ComPortStopSize(uint8_t StopBits); // 1, 1.5, 2 stop bits: 1, 3, 2

// IAC SB 44 Command Value IAC SE; the bit rate as 4 bytes, any other value as one.
void AppendComPortCommand(std::vector<uint8_t>& Out, uint8_t Command, uint32_t Value);

struct TComPortAnswer {
    uint8_t Command = 0; // the command answered (the code less 100)
    uint32_t Value = 0;
};

// The answer a subnegotiation of the server carries; none for anything else (another
// option, a code below 100, a value of the wrong length).
std::optional<TComPortAnswer> ComPortAnswer(const TTelnetEvent& Event);
