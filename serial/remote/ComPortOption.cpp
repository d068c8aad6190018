#include "serial/remote/ComPortOption.h"

uint8_t ComPortParity(uint8_t Parity) {
    return static_cast<uint8_t>(Parity + 1);
}

uint8_t ComPortStopSize(uint8_t StopBits) {
    switch (StopBits) {
    case 0:
        return 1;
    case 1:
        return 3;
    default:
        return 2;
    }
}

void AppendComPortCommand(std::vector<uint8_t>& Out, uint8_t Command, uint32_t Value) {
    if (Command == ComPort::SetBaudRate) {
        const uint8_t payload[5] = {Command, static_cast<uint8_t>(Value >> 24),
                                    static_cast<uint8_t>(Value >> 16),
                                    static_cast<uint8_t>(Value >> 8), static_cast<uint8_t>(Value)};
        AppendSubnegotiation(Out, ComPort::Option, payload, sizeof payload);
        return;
    }
    const uint8_t payload[2] = {Command, static_cast<uint8_t>(Value)};
    AppendSubnegotiation(Out, ComPort::Option, payload, sizeof payload);
}

std::optional<TComPortAnswer> ComPortAnswer(const TTelnetEvent& Event) {
    if (Event.Verb != Telnet::Sb || Event.Option != ComPort::Option || Event.Payload.empty() ||
        Event.Payload[0] < ComPort::ServerOffset) {
        return std::nullopt;
    }
    TComPortAnswer answer;
    answer.Command = static_cast<uint8_t>(Event.Payload[0] - ComPort::ServerOffset);
    const size_t length = Event.Payload.size() - 1;
    if (answer.Command == ComPort::SetBaudRate) {
        if (length != 4) {
            return std::nullopt;
        }
        for (size_t i = 1; i <= 4; ++i) {
            answer.Value = (answer.Value << 8) | Event.Payload[i];
        }
        return answer;
    }
    if (length < 1) {
        return std::nullopt;
    }
    answer.Value = Event.Payload[1];
    return answer;
}
