// The Telnet layer read against Debian's libtelnet, an independent implementation of the
// same protocol: the same bytes give the same data and the same commands, and what the
// layer writes is what libtelnet writes for the same data and subnegotiations.
#include "TelnetBytes.h"
#include "serial/remote/ComPortOption.h"
#include "serial/remote/TelnetCodec.h"

#include <libtelnet.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// Everything libtelnet reports, in one comparable form: data as bytes, a command as
// "<verb> <option>", a subnegotiation as "SB <option> <payload>".
struct TOracle {
    TBytes Data;
    std::vector<std::string> Commands;
    TBytes Sent;

    static void Handle(telnet_t*, telnet_event_t* Event, void* User) {
        auto* self = static_cast<TOracle*>(User);
        switch (Event->type) {
        case TELNET_EV_DATA:
            self->Data.insert(self->Data.end(), Event->data.buffer,
                              Event->data.buffer + Event->data.size);
            break;
        case TELNET_EV_SEND:
            self->Sent.insert(self->Sent.end(), Event->data.buffer,
                              Event->data.buffer + Event->data.size);
            break;
        case TELNET_EV_WILL:
        case TELNET_EV_WONT:
        case TELNET_EV_DO:
        case TELNET_EV_DONT: {
            static const int verbs[] = {Telnet::Will, Telnet::Wont, Telnet::Do, Telnet::Dont};
            self->Commands.push_back(std::to_string(verbs[Event->type - TELNET_EV_WILL]) + " " +
                                     std::to_string(Event->neg.telopt));
            break;
        }
        case TELNET_EV_SUBNEGOTIATION:
            self->Commands.push_back("SB " + std::to_string(Event->sub.telopt) + " " +
                                     std::string(Event->sub.buffer, Event->sub.size));
            break;
        case TELNET_EV_IAC:
            self->Commands.push_back(std::to_string(Event->iac.cmd));
            break;
        default:
            break;
        }
    }
};

struct TTelnetFree {
    void operator()(telnet_t* Telnet) const { telnet_free(Telnet); }
};
using TTelnet = std::unique_ptr<telnet_t, TTelnetFree>;

// Proxy mode: libtelnet reports every command as it comes, and answers none itself.
TTelnet MakeOracle(TOracle& Oracle) {
    return TTelnet(telnet_init(nullptr, &TOracle::Handle, TELNET_FLAG_PROXY, &Oracle));
}

TOracle OracleReading(const TBytes& Stream) {
    TOracle oracle;
    const TTelnet telnet = MakeOracle(oracle);
    telnet_recv(telnet.get(), reinterpret_cast<const char*>(Stream.data()), Stream.size());
    return oracle;
}

TOracle OurReading(TBytes Stream) {
    TTelnetDecoder decoder;
    std::vector<TTelnetEvent> events;
    const size_t count = decoder.Decode(Stream.data(), Stream.size(), events);
    TOracle ours;
    ours.Data.assign(Stream.begin(), Stream.begin() + static_cast<std::ptrdiff_t>(count));
    for (const TTelnetEvent& event : events) {
        if (event.Verb == Telnet::Sb) {
            ours.Commands.push_back("SB " + std::to_string(event.Option) + " " +
                                    std::string(event.Payload.begin(), event.Payload.end()));
        } else if (event.Verb >= Telnet::Will && event.Verb <= Telnet::Dont) {
            ours.Commands.push_back(std::to_string(event.Verb) + " " +
                                    std::to_string(event.Option));
        } else {
            ours.Commands.push_back(std::to_string(event.Verb));
        }
    }
    return ours;
}

TEST(TelnetOracle, TheSameBytesReadTheSame) {
    for (const TBytes& stream : {ServerOpening, LineDataOnTheWire, MixedStream}) {
        const TOracle oracle = OracleReading(stream);
        const TOracle ours = OurReading(stream);
        EXPECT_EQ(ours.Data, oracle.Data);
        EXPECT_EQ(ours.Commands, oracle.Commands);
    }
    EXPECT_EQ(OracleReading(LineDataOnTheWire).Data, LineData);
}

TEST(TelnetOracle, TheSameDataAndSubnegotiationsWriteTheSame) {
    TOracle oracle;
    const TTelnet telnet = MakeOracle(oracle);
    telnet_send(telnet.get(), reinterpret_cast<const char*>(LineData.data()), LineData.size());
    const char rate[] = {ComPort::SetBaudRate, 0x00, 0x00, '\xff', '\xff'};
    telnet_subnegotiation(telnet.get(), ComPort::Option, rate, sizeof rate);
    telnet_negotiate(telnet.get(), TELNET_WILL, ComPort::Option);

    TBytes ours;
    AppendTelnetData(ours, LineData.data(), LineData.size());
    AppendComPortCommand(ours, ComPort::SetBaudRate, 65535);
    AppendNegotiation(ours, Telnet::Will, ComPort::Option);
    EXPECT_EQ(ours, oracle.Sent);
}

} // namespace
