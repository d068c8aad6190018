// The Telnet options of a remote port and how the client answers the server's requests:
// it asks to send and receive BINARY (every byte passed as it is) and to send
// COM-PORT-OPTION (the server then takes its line settings from the client); it agrees to
// SUPPRESS-GO-AHEAD, and refuses every other option. An answer is sent only when an
// option's state changes, so two ends never loop on one option.
#pragma once

#include "serial/remote/TelnetCodec.h"

#include <array>
#include <cstdint>
#include <vector>

class TTelnetOptions {
public:
    // What the client asks for as the connection begins.
    void Begin(std::vector<uint8_t>& Out);
    // Takes a WILL/WONT/DO/DONT of the server and appends the answer, if one is due.
    void Answer(const TTelnetEvent& Event, std::vector<uint8_t>& Out);

    // The server agreed (DO) that the client sends Option / refused it (DONT).
    bool ServerAgreed(uint8_t Option) const { return Us[Option] == TState::On; }
    bool ServerRefused(uint8_t Option) const { return Us[Option] == TState::Refused; }

private:
    enum class TState : uint8_t { Off, Asked, On, Refused };
    static bool Wanted(uint8_t Option);
    // Ours: options this end performs; Him: options the server performs.
    std::array<TState, 256> Us{};
    std::array<TState, 256> Him{};
};
