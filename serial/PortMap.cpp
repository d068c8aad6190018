#include "serial/PortMap.h"

#include "settings/IniFile.h"

QString PortDevicePath(unsigned PortNumber, const QString& MapFile,
                       const TSessionPortMap& Session) {
    const QString FileName = MapFile.isEmpty() ? DefaultPortMapFile : MapFile;
    const TIniFile File = TIniFile::Read(FileName);
    if (File.State == TIniFileState::Usable) {
        QString Mapped = IniValue(File.Bytes, u"Ports", QStringLiteral("COM%1").arg(PortNumber))
                             .value_or(QString());
        if (!Mapped.isEmpty()) {
            return Mapped;
        }
    }
    if (const auto It = Session.constFind(PortNumber); It != Session.cend()) {
        return It.value();
    }
    return QStringLiteral("/dev/ttyS%1").arg(PortNumber == 0 ? 0 : PortNumber - 1);
}
