#include "serial/remote/RemoteFailureText.h"

#include "serial/remote/RemotePortName.h"

QString RemoteReason(const TOpenFailure& Failure, const QString& Port) {
    QString problem;
    const std::optional<TRemoteAddress> address = ParseRemotePortName(Failure.Device, problem);
    const QString host = address ? address->Host : Failure.Device;
    switch (Failure.Kind) {
    case TOpenFailureKind::None:
        break;
    case TOpenFailureKind::NameNotFound:
        return QStringLiteral("%1: the name %2 does not resolve (%3). Check the device server's "
                              "name, or give its address.")
            .arg(Port, host, Failure.Detail);
    case TOpenFailureKind::Unreachable:
        return QStringLiteral("%1: the device server cannot be reached (%2). Check that it is "
                              "on and on the network, and the TCP port of the line.")
            .arg(Port, Failure.Detail);
    case TOpenFailureKind::NoAnswer:
        return QStringLiteral("%1: the device server does not answer as an RFC 2217 port (%2). "
                              "Check that the line is set up for RFC 2217 (Telnet COM port "
                              "control) on that TCP port.")
            .arg(Port, Failure.Detail);
    case TOpenFailureKind::InUse:
        return QStringLiteral("%1 is in use by another client of the device server (%2). Close "
                              "that program, or select another port.")
            .arg(Port, Failure.Detail);
    case TOpenFailureKind::RateRefused:
        if (Failure.AskedRate == 0) {
            return Port + QStringLiteral(": a bit rate of 0 baud is not possible.");
        }
        if (Failure.ActualRate == 0) {
            return QStringLiteral("%1: the device server did not set its line to %2 baud (it gave "
                                  "no answer). Use a device server and line that can run at that "
                                  "rate.")
                .arg(Port, GroupedNumber(Failure.AskedRate));
        }
        return QStringLiteral("%1: the device server runs its line at %2 baud for the %3 asked "
                              "for. Use a device server and line that can run at that rate.")
            .arg(Port, GroupedNumber(Failure.ActualRate), GroupedNumber(Failure.AskedRate));
    case TOpenFailureKind::DeviceChanged:
        return CommonReason(Failure, Port);
    case TOpenFailureKind::NotConnected:
    case TOpenFailureKind::NoPermission:
    case TOpenFailureKind::NotATty:
    case TOpenFailureKind::Other:
        return QStringLiteral("%1 cannot be opened: %2.").arg(Port, Failure.Detail);
    }
    return {};
}
