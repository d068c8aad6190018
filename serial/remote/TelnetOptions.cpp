#include "serial/remote/TelnetOptions.h"

#include "serial/remote/ComPortOption.h"

bool TTelnetOptions::Wanted(uint8_t Option) {
    return Option == Telnet::Binary || Option == Telnet::SuppressGoAhead ||
           Option == ComPort::Option;
}

void TTelnetOptions::Begin(std::vector<uint8_t>& Out) {
    Us[ComPort::Option] = TState::Asked;
    AppendNegotiation(Out, Telnet::Will, ComPort::Option);
    Us[Telnet::Binary] = TState::Asked;
    AppendNegotiation(Out, Telnet::Will, Telnet::Binary);
    Him[Telnet::Binary] = TState::Asked;
    AppendNegotiation(Out, Telnet::Do, Telnet::Binary);
}

void TTelnetOptions::Answer(const TTelnetEvent& Event, std::vector<uint8_t>& Out) {
    const uint8_t option = Event.Option;
    // COM-PORT-OPTION is the client's to send, never the server's.
    const bool serverMay = Wanted(option) && option != ComPort::Option;
    switch (Event.Verb) {
    case Telnet::Will:
        if (Him[option] == TState::On) {
            break;
        }
        if (serverMay) {
            if (Him[option] != TState::Asked) {
                AppendNegotiation(Out, Telnet::Do, option);
            }
            Him[option] = TState::On;
        } else if (Him[option] != TState::Refused) {
            AppendNegotiation(Out, Telnet::Dont, option);
            Him[option] = TState::Refused;
        }
        break;
    case Telnet::Wont:
        if (Him[option] == TState::On) {
            AppendNegotiation(Out, Telnet::Dont, option);
        }
        Him[option] = TState::Refused;
        break;
    case Telnet::Do:
        if (Us[option] == TState::On) {
            break;
        }
        if (Wanted(option)) {
            if (Us[option] != TState::Asked) {
                AppendNegotiation(Out, Telnet::Will, option);
            }
            Us[option] = TState::On;
        } else if (Us[option] != TState::Refused) {
            AppendNegotiation(Out, Telnet::Wont, option);
            Us[option] = TState::Refused;
        }
        break;
    case Telnet::Dont:
        if (Us[option] == TState::On) {
            AppendNegotiation(Out, Telnet::Wont, option);
        }
        Us[option] = TState::Refused;
        break;
    default:
        break;
    }
}
