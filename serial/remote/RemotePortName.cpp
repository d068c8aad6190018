#include "serial/remote/RemotePortName.h"

bool IsRemotePortName(const QString& Name) {
    return Name.startsWith(RemotePortScheme, Qt::CaseInsensitive);
}

std::optional<TRemoteAddress> ParseRemotePortName(const QString& Name, QString& Problem) {
    if (!IsRemotePortName(Name)) {
        Problem = QStringLiteral("%1 does not begin with %2").arg(Name, RemotePortScheme);
        return std::nullopt;
    }
    QString rest = Name.mid(RemotePortScheme.size());
    if (rest.endsWith(u'/')) {
        rest.chop(1);
    }
    TRemoteAddress address;
    QString port;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0 || rest.mid(close + 1, 1) != QStringLiteral(":")) {
            Problem =
                QStringLiteral("%1: an IPv6 address goes in brackets, followed by :PORT").arg(Name);
            return std::nullopt;
        }
        address.Host = rest.mid(1, close - 1);
        port = rest.mid(close + 2);
    } else {
        const qsizetype colon = rest.lastIndexOf(u':');
        if (colon < 0) {
            Problem = QStringLiteral("%1 has no :PORT after the host").arg(Name);
            return std::nullopt;
        }
        address.Host = rest.left(colon);
        port = rest.mid(colon + 1);
        if (address.Host.contains(u':')) {
            Problem = QStringLiteral("%1: an IPv6 address goes in brackets ([::1]:4001)").arg(Name);
            return std::nullopt;
        }
    }
    if (address.Host.isEmpty() || address.Host.contains(u'/') || address.Host.contains(u' ')) {
        Problem = QStringLiteral("%1 names no host").arg(Name);
        return std::nullopt;
    }
    bool ok = false;
    const uint number = port.toUInt(&ok, 10);
    if (!ok || number == 0 || number > 65535 || port.startsWith(u'+')) {
        Problem = QStringLiteral("%1: the TCP port must be a number from 1 to 65535").arg(Name);
        return std::nullopt;
    }
    address.Port = static_cast<uint16_t>(number);
    return address;
}
