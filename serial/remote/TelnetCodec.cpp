#include "serial/remote/TelnetCodec.h"

#include <algorithm>

size_t TTelnetDecoder::Decode(uint8_t* Buffer, size_t Length, std::vector<TTelnetEvent>& Events) {
    size_t out = 0;
    const auto emit = [&] {
        Pending.DataOffset = out;
        Events.push_back(Pending);
        Pending = TTelnetEvent{};
    };
    // The byte after an IAC.
    const auto command = [&](uint8_t Code) {
        switch (Code) {
        case Telnet::Iac:
            Buffer[out++] = Code;
            State = TState::Data;
            break;
        case Telnet::Will:
        case Telnet::Wont:
        case Telnet::Do:
        case Telnet::Dont:
            Pending.Verb = Code;
            State = TState::Negotiation;
            break;
        case Telnet::Sb:
            Pending.Verb = Code;
            State = TState::SbOption;
            break;
        case Telnet::Se: // an end without a beginning: nothing to end
            State = TState::Data;
            break;
        default:
            Pending.Verb = Code;
            emit();
            State = TState::Data;
            break;
        }
    };
    for (size_t in = 0; in < Length; ++in) {
        const uint8_t byte = Buffer[in];
        switch (State) {
        case TState::Data:
            if (byte == Telnet::Iac) {
                State = TState::Iac;
            } else {
                Buffer[out++] = byte;
            }
            break;
        case TState::Iac:
            command(byte);
            break;
        case TState::Negotiation:
            Pending.Option = byte;
            emit();
            State = TState::Data;
            break;
        case TState::SbOption:
            Pending.Option = byte;
            State = TState::SbData;
            break;
        case TState::SbData:
            if (byte == Telnet::Iac) {
                State = TState::SbIac;
            } else if (Pending.Payload.size() < PayloadLimit) {
                Pending.Payload.push_back(byte);
            }
            break;
        case TState::SbIac:
            if (byte == Telnet::Iac) {
                if (Pending.Payload.size() < PayloadLimit) {
                    Pending.Payload.push_back(byte);
                }
                State = TState::SbData;
            } else if (byte == Telnet::Se) {
                emit();
                State = TState::Data;
            } else {
                // A command inside a subnegotiation: the subnegotiation ends there and the
                // command is read as one.
                emit();
                command(byte);
            }
            break;
        }
    }
    return out;
}

void AppendTelnetData(std::vector<uint8_t>& Out, const uint8_t* Data, size_t Length) {
    const size_t doubled = static_cast<size_t>(std::count(Data, Data + Length, Telnet::Iac));
    Out.reserve(Out.size() + Length + doubled);
    if (doubled == 0) {
        Out.insert(Out.end(), Data, Data + Length);
        return;
    }
    for (size_t i = 0; i < Length; ++i) {
        Out.push_back(Data[i]);
        if (Data[i] == Telnet::Iac) {
            Out.push_back(Telnet::Iac);
        }
    }
}

void AppendNegotiation(std::vector<uint8_t>& Out, uint8_t Verb, uint8_t Option) {
    Out.insert(Out.end(), {Telnet::Iac, Verb, Option});
}

void AppendSubnegotiation(std::vector<uint8_t>& Out, uint8_t Option, const uint8_t* Payload,
                          size_t Length) {
    Out.insert(Out.end(), {Telnet::Iac, Telnet::Sb, Option});
    AppendTelnetData(Out, Payload, Length);
    Out.insert(Out.end(), {Telnet::Iac, Telnet::Se});
}
