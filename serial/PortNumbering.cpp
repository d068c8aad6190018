#include "serial/PortNumbering.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace {

// The listed keys, first of each number only, with the devices their values lead to.
struct TNamedPort {
    QString Value;
    QString Device;
};

} // namespace

std::optional<unsigned> PortsKeyPort(QStringView Key) {
    static const QRegularExpression comKey(QStringLiteral("^COM([1-9][0-9]?)$"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = comKey.match(Key.trimmed().toString());
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    const unsigned port = match.capturedView(1).toUInt();
    if (port > LastListedPort) {
        return std::nullopt;
    }
    return port;
}

QString RecordedName(const TPresentPort& Adapter, const QList<TPresentPort>& Present) {
    const bool ownSerial =
        !Adapter.SerialNumber.isEmpty() &&
        std::none_of(Present.begin(), Present.end(), [&](const TPresentPort& other) {
            return other.Device != Adapter.Device && other.SerialNumber == Adapter.SerialNumber &&
                   other.VendorId == Adapter.VendorId && other.ProductId == Adapter.ProductId;
        });
    if (ownSerial && !Adapter.ById.isEmpty()) {
        return Adapter.ById;
    }
    // A by-id name it would share with an adapter of its kind: the socket's name instead.
    return Adapter.ByPath.isEmpty() ? Adapter.Device : Adapter.ByPath;
}

TPortNumbering NumberNewAdapters(const QList<TPresentPort>& Present, const TPortsEntries& Entries,
                                 const TDeviceResolver& Resolve) {
    QSet<unsigned> taken;
    QList<TNamedPort> named;
    for (const auto& [key, value] : Entries) {
        const std::optional<unsigned> port = PortsKeyPort(key);
        if (!port || taken.contains(*port)) {
            continue;
        }
        taken.insert(*port);
        const QString trimmed = value.trimmed();
        if (!trimmed.isEmpty()) {
            named << TNamedPort{trimmed, Resolve(trimmed)};
        }
    }
    QSet<QString> presentDevices;
    for (const TPresentPort& port : Present) {
        presentDevices.insert(port.Device);
    }
    for (unsigned port = 1; port <= LastListedPort; ++port) {
        if (presentDevices.contains(QStringLiteral("/dev/ttyS%1").arg(port - 1))) {
            taken.insert(port);
        }
    }

    TPortNumbering numbering;
    QSet<QString> numberedDevices;
    unsigned next = FirstAdapterPort;
    for (const TPresentPort& adapter : Present) {
        if (IsOnBoardPort(adapter.Device)) {
            continue;
        }
        const QString device = Resolve(adapter.Device);
        const bool isNamed = std::any_of(named.begin(), named.end(), [&](const TNamedPort& key) {
            return key.Value == adapter.Device ||
                   (!adapter.ById.isEmpty() && key.Value == adapter.ById) || key.Device == device;
        });
        if (isNamed || numberedDevices.contains(device)) {
            continue;
        }
        while (next <= LastListedPort && taken.contains(next)) {
            ++next;
        }
        if (next > LastListedPort) {
            numbering.Unnumbered << adapter;
            continue;
        }
        numberedDevices.insert(device);
        taken.insert(next);
        numbering.Assigned << TPortAssignment{next, RecordedName(adapter, Present), adapter};
    }
    return numbering;
}
