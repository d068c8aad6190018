// The Telnet layer of remote ports, pinned by the bytes that go over the wire: 0xFF
// doubled and undoubled, the options asked for and answered, the COM-PORT-OPTION commands
// and answers, and a stream cut anywhere reading the same.
#include "TelnetBytes.h"
#include "serial/remote/ComPortOption.h"
#include "serial/remote/RemotePortName.h"
#include "serial/remote/TelnetCodec.h"
#include "serial/remote/TelnetOptions.h"

#include <gtest/gtest.h>

namespace {

struct TDecoded {
    TBytes Data;
    std::vector<TTelnetEvent> Events;
};

// Decodes Stream in pieces of Piece bytes (0: whole).
TDecoded Decode(const TBytes& Stream, size_t Piece = 0) {
    TTelnetDecoder decoder;
    TDecoded decoded;
    const size_t step = Piece == 0 ? Stream.size() : Piece;
    for (size_t at = 0; at < Stream.size(); at += step) {
        TBytes chunk(Stream.begin() + static_cast<std::ptrdiff_t>(at),
                     Stream.begin() +
                         static_cast<std::ptrdiff_t>(std::min(at + step, Stream.size())));
        std::vector<TTelnetEvent> events;
        const size_t count = decoder.Decode(chunk.data(), chunk.size(), events);
        for (TTelnetEvent& event : events) {
            event.DataOffset += decoded.Data.size();
            decoded.Events.push_back(event);
        }
        decoded.Data.insert(decoded.Data.end(), chunk.begin(),
                            chunk.begin() + static_cast<std::ptrdiff_t>(count));
    }
    return decoded;
}

TEST(TelnetLayer, DataGoesOutWithEveryFFDoubledAndComesBackAsItWas) {
    TBytes wire;
    AppendTelnetData(wire, LineData.data(), LineData.size());
    EXPECT_EQ(wire, LineDataOnTheWire);
    EXPECT_EQ(Decode(wire).Data, LineData);
    EXPECT_TRUE(Decode(wire).Events.empty());
}

TEST(TelnetLayer, CommandsAndAnswersOfTheComPortOption) {
    TBytes wire;
    AppendComPortCommand(wire, ComPort::SetBaudRate, 65535);
    EXPECT_EQ(wire,
              (TBytes{0xff, 0xfa, 0x2c, 0x01, 0x00, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xf0}));
    wire.clear();
    AppendComPortCommand(wire, ComPort::SetBaudRate, 92160);
    AppendComPortCommand(wire, ComPort::SetDataSize, 8);
    AppendComPortCommand(wire, ComPort::SetParity, ComPortParity(2));
    AppendComPortCommand(wire, ComPort::SetStopSize, ComPortStopSize(1));
    AppendComPortCommand(wire, ComPort::PurgeData, ComPort::PurgeBoth);
    EXPECT_EQ(wire, (TBytes{0xff, 0xfa, 0x2c, 0x01, 0x00, 0x01, 0x68, 0x00, 0xff, 0xf0, //
                            0xff, 0xfa, 0x2c, 0x02, 0x08, 0xff, 0xf0,                   //
                            0xff, 0xfa, 0x2c, 0x03, 0x03, 0xff, 0xf0,                   //
                            0xff, 0xfa, 0x2c, 0x04, 0x03, 0xff, 0xf0,                   //
                            0xff, 0xfa, 0x2c, 0x0c, 0x03, 0xff, 0xf0}));

    // Data, an answer whose value holds 0xFF, a command, data: cut anywhere, the same.
    for (size_t piece = 0; piece <= MixedStream.size(); ++piece) {
        const TDecoded decoded = Decode(MixedStream, piece);
        EXPECT_EQ(decoded.Data, (TBytes{0x41, 0xff, 0x42})) << "in pieces of " << piece;
        ASSERT_EQ(decoded.Events.size(), 2u) << "in pieces of " << piece;
        const std::optional<TComPortAnswer> answer = ComPortAnswer(decoded.Events[0]);
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(answer->Command, ComPort::SetBaudRate);
        EXPECT_EQ(answer->Value, 65535u);
        EXPECT_EQ(decoded.Events[0].DataOffset, 2u);
        EXPECT_EQ(decoded.Events[1].Verb, Telnet::Nop);
        EXPECT_EQ(decoded.Events[1].DataOffset, 2u);
    }
}

TEST(TelnetLayer, TheClientAsksForItsOptionsAndAnswersTheServersOnce) {
    TTelnetOptions options;
    TBytes wire;
    options.Begin(wire);
    EXPECT_EQ(wire, (TBytes{0xff, 0xfb, 0x2c, 0xff, 0xfb, 0x00, 0xff, 0xfd, 0x00}));

    // Agrees to suppress go-ahead both ways, refuses the server's echo, answers nothing it
    // asked for itself, and takes DO COM-PORT-OPTION as agreed.
    wire.clear();
    for (const TTelnetEvent& event : Decode(ServerOpening).Events) {
        options.Answer(event, wire);
    }
    EXPECT_EQ(wire, (TBytes{0xff, 0xfd, 0x03, 0xff, 0xfb, 0x03, 0xff, 0xfe, 0x01}));
    EXPECT_TRUE(options.ServerAgreed(ComPort::Option));
    // The same requests again change nothing, so nothing is answered.
    wire.clear();
    for (const TTelnetEvent& event : Decode(ServerOpening).Events) {
        options.Answer(event, wire);
    }
    EXPECT_TRUE(wire.empty());
}

TEST(RemotePortName, NamesAddressesAndPortsOfDeviceServers) {
    QString problem;
    const auto named = ParseRemotePortName(QStringLiteral("rfc2217://line3-a.plant:4001"), problem);
    ASSERT_TRUE(named.has_value()) << problem.toStdString();
    EXPECT_EQ(named->Host, QStringLiteral("line3-a.plant"));
    EXPECT_EQ(named->Port, 4001);
    const auto v6 = ParseRemotePortName(QStringLiteral("RFC2217://[fd00::7]:4001"), problem);
    ASSERT_TRUE(v6.has_value()) << problem.toStdString();
    EXPECT_EQ(v6->Host, QStringLiteral("fd00::7"));
    for (const char* bad :
         {"rfc2217://host", "rfc2217://host:0", "rfc2217://host:65536", "rfc2217://fd00::7:4001",
          "rfc2217://[fd00::7]4001", "rfc2217://:4001"}) {
        EXPECT_FALSE(ParseRemotePortName(QString::fromLatin1(bad), problem).has_value()) << bad;
    }
}

} // namespace
