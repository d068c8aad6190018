#include "serial/PortMap.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QVariant>

QString PortDevicePath(unsigned PortNumber, const QString& MapFile) {
    const QString FileName = MapFile.isEmpty() ? DefaultPortMapFile : MapFile;
    QString Mapped;
    if (QFileInfo(FileName).isFile()) {
        const QSettings Map(FileName, QSettings::IniFormat);
        const QVariant Value = Map.value(QStringLiteral("Ports/COM%1").arg(PortNumber));
        // The INI reader splits an unquoted value at commas; a path may hold one.
        Mapped = Value.typeId() == QMetaType::QStringList ? Value.toStringList().join(u',')
                                                          : Value.toString();
        Mapped = Mapped.trimmed();
    }
    if (!Mapped.isEmpty()) {
        return Mapped;
    }
    return QStringLiteral("/dev/ttyS%1").arg(PortNumber == 0 ? 0 : PortNumber - 1);
}
