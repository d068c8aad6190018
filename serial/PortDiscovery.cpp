#include "serial/PortDiscovery.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include <algorithm>

namespace {

// "/dev/ttyUSB10" after "/dev/ttyUSB9": the name's stem, then its trailing number.
bool DeviceOrder(const TPresentPort& A, const TPresentPort& B) {
    static const QRegularExpression trailingNumber(QStringLiteral("^(.*?)(\\d+)$"));
    const QRegularExpressionMatch a = trailingNumber.match(A.Device);
    const QRegularExpressionMatch b = trailingNumber.match(B.Device);
    if (a.hasMatch() && b.hasMatch() && a.captured(1) == b.captured(1)) {
        return a.captured(2).toULongLong() < b.captured(2).toULongLong();
    }
    return A.Device < B.Device;
}

} // namespace

QList<TPresentPort> EnumeratePresentPorts(const QString& ByIdDir, const QString& ByPathDir) {
    QList<TPresentPort> ports;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : infos) {
        TPresentPort port;
        port.Device = info.systemLocation();
        port.ById = LinkInFolder(port.Device, ByIdDir);
        port.ByPath = LinkInFolder(port.Device, ByPathDir);
        port.Manufacturer = info.manufacturer();
        port.Description = info.description();
        port.SerialNumber = info.serialNumber();
        if (info.hasVendorIdentifier()) {
            port.VendorId = info.vendorIdentifier();
        }
        if (info.hasProductIdentifier()) {
            port.ProductId = info.productIdentifier();
        }
        ports << port;
    }
    std::sort(ports.begin(), ports.end(), DeviceOrder);
    return ports;
}

QString CanonicalDevice(const QString& Path) {
    if (Path.isEmpty()) {
        return QString();
    }
    const QString resolved = QFileInfo(Path).canonicalFilePath();
    return resolved.isEmpty() ? QDir::cleanPath(Path) : resolved;
}

QString LinkInFolder(const QString& Device, const QString& Folder) {
    const QString target = QFileInfo(Device).canonicalFilePath();
    if (target.isEmpty()) {
        return QString();
    }
    // System: links that lead nowhere are listed too (and then skipped), never an error.
    const QFileInfoList links =
        QDir(Folder).entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& link : links) {
        if (link.isSymLink() && link.canonicalFilePath() == target) {
            return link.absoluteFilePath();
        }
    }
    return QString();
}

bool IsOnBoardPort(const QString& Device) {
    static const QRegularExpression onBoard(QStringLiteral("^/dev/ttyS\\d+$"));
    return onBoard.match(Device).hasMatch();
}
