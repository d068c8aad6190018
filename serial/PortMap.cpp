#include "serial/PortMap.h"

#include "settings/IniFile.h"

QString PortDevicePath(unsigned PortNumber, const QString& MapFile,
                       const TSessionPortMap& Session) {
    const QString fileName = MapFile.isEmpty() ? DefaultPortMapFile : MapFile;
    const TIniFile file = TIniFile::Read(fileName);
    if (file.State == TIniFileState::Usable) {
        QString mapped = IniValue(file.Bytes, u"Ports", QStringLiteral("COM%1").arg(PortNumber))
                             .value_or(QString());
        if (!mapped.isEmpty()) {
            return mapped;
        }
    }
    if (const auto it = Session.constFind(PortNumber); it != Session.cend()) {
        return it.value();
    }
    return DefaultPortDevice(PortNumber);
}
