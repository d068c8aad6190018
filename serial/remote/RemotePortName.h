// Ports reached over the network: "rfc2217://HOST:PORT" names the serial line of a device
// server that speaks RFC 2217 (the Telnet COM-PORT-OPTION) at TCP port PORT of HOST, which
// is a name, an IPv4 address or an IPv6 address in brackets ("rfc2217://[fd00::7]:4001").
// Such a name stands wherever a device path may: --port, a [Ports] line.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

inline const QString RemotePortScheme = QStringLiteral("rfc2217://");

struct TRemoteAddress {
    QString Host; // without the brackets of an IPv6 address
    uint16_t Port = 0;
};

// Whether Name is a remote port's (it begins with the scheme, in any case).
bool IsRemotePortName(const QString& Name);

// The address of a remote port's name; none, with the reason in Problem, when the name is
// not one ("rfc2217://host" without a port, a port outside 1..65535, an unclosed bracket).
std::optional<TRemoteAddress> ParseRemotePortName(const QString& Name, QString& Problem);
