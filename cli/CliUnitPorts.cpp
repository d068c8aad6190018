#include "cli/CliUnitPorts.h"

#include "serial/PortDiscovery.h"
#include "serial/PortMap.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>

namespace {

// COM numbers the port component can hold (its number is stored as 8 bits).
constexpr int LastComNumber = 256;

// "rfc2217://Plant-7:4001" and "RFC2217://plant-7:4001" are one port: the scheme and the
// host are case-blind, the rest is compared as written.
QString UrlKey(const QString& Url) {
    const qsizetype schemeEnd = Url.indexOf(QLatin1String("://"));
    const qsizetype hostStart = schemeEnd + 3;
    qsizetype hostEnd = Url.indexOf(u'/', hostStart);
    if (hostEnd < 0) {
        hostEnd = Url.size();
    }
    return Url.left(hostEnd).toLower() + Url.mid(hostEnd);
}

bool IsUrl(const QString& Name) {
    return Name.contains(QLatin1String("://"));
}

} // namespace

bool CheckPortName(TCliPort& Port, QString& Error) {
    static const QRegularExpression comName(QStringLiteral("^COM([0-9]{1,3})$"),
                                            QRegularExpression::CaseInsensitiveOption);
    Port.ComNumber = 0;
    if (const QRegularExpressionMatch match = comName.match(Port.Name); match.hasMatch()) {
        Port.ComNumber = match.captured(1).toInt();
        if (Port.ComNumber < 1 || Port.ComNumber > LastComNumber) {
            Error = QStringLiteral("%1: COM numbers run from 1 to %2")
                        .arg(Port.Origin)
                        .arg(LastComNumber);
            return false;
        }
    } else if (Port.Name.isEmpty()) {
        Error = QStringLiteral("%1: empty device name").arg(Port.Origin);
        return false;
    }
    return true;
}

bool ReadPortsFile(const QString& Path, bool SlaveAddressAllowed, QList<TCliPort>& Ports,
                   QString& Error) {
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        Error = QStringLiteral("--ports-file: cannot read %1: %2").arg(Path, file.errorString());
        return false;
    }
    static const QRegularExpression comment(QStringLiteral("(^|\\s)#.*$"));
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    for (qsizetype index = 0; index < lines.size(); ++index) {
        const QString origin = QStringLiteral("--ports-file %1, line %2").arg(Path).arg(index + 1);
        QString text = lines[index];
        const QStringList words = text.remove(comment).split(blanks, Qt::SkipEmptyParts);
        if (words.isEmpty()) {
            continue;
        }
        TCliPort port{words[0], 0, std::nullopt, origin};
        if (!CheckPortName(port, Error)) {
            return false;
        }
        if (words.size() > 2 || (words.size() == 2 && !SlaveAddressAllowed)) {
            Error = SlaveAddressAllowed
                        ? QStringLiteral("%1: a port and a slave address at most").arg(origin)
                        : QStringLiteral("%1: one port a line; this product's unit has no "
                                         "slave address to set")
                              .arg(origin);
            return false;
        }
        if (words.size() == 2) {
            bool ok = false;
            const int address = words[1].toInt(&ok);
            if (!ok || address < FirstSlaveAddress || address > LastSlaveAddress) {
                Error = QStringLiteral("%1: '%2' is not a slave address (%3 to %4)")
                            .arg(origin, words[1])
                            .arg(FirstSlaveAddress)
                            .arg(LastSlaveAddress);
                return false;
            }
            port.Slave = address;
        }
        Ports << port;
    }
    return true;
}

QString PortDeviceKey(const TCliPort& Port, const QString& MapFile) {
    const QString name = Port.ComNumber > 0
                             ? PortDevicePath(static_cast<unsigned>(Port.ComNumber), MapFile)
                             : Port.Name;
    return IsUrl(name) ? UrlKey(name) : CanonicalDevice(name);
}

QString SameDeviceTwice(const QList<TCliPort>& Ports, const QString& MapFile) {
    QHash<QString, qsizetype> seen;
    for (qsizetype index = 0; index < Ports.size(); ++index) {
        const TCliPort& port = Ports[index];
        const QString key = PortDeviceKey(port, MapFile);
        if (const auto found = seen.constFind(key); found != seen.constEnd()) {
            const TCliPort& first = Ports[*found];
            return QStringLiteral("%1 (%2) and %3 (%4) are the same port, %5: a unit is "
                                  "updated by one run at a time")
                .arg(first.Name, first.Origin, port.Name, port.Origin, key);
        }
        seen.insert(key, index);
    }
    return QString();
}
