// Records the numbers given to new adapters: in [Ports] of the settings file, or for this
// run only when the file cannot take them.
#include "serial/PortNumbering.h"

#include "serial/SerialLog.h"
#include "settings/IniFile.h"

namespace {

const QString PortsSection = QStringLiteral("Ports");

QString PortsKey(unsigned Port) {
    return QStringLiteral("COM%1").arg(Port);
}

} // namespace

TPortNumbering RecordNewAdapters(const QString& SettingsPath, const QList<TPresentPort>& Present,
                                 TSessionPortMap& SessionPorts) {
    const TIniFile file = TIniFile::Read(SettingsPath);
    TPortsEntries entries;
    if (file.State == TIniFileState::Usable) {
        entries = IniSectionEntries(file.Bytes, PortsSection);
    }
    // Numbers given earlier in this run count as keys, after the file's own.
    for (auto it = SessionPorts.cbegin(); it != SessionPorts.cend(); ++it) {
        entries << qMakePair(PortsKey(it.key()), it.value());
    }

    TPortNumbering numbering = NumberNewAdapters(Present, entries);
    for (const TPortAssignment& assignment : numbering.Assigned) {
        const QString key = PortsKey(assignment.Port);
        QString error;
        bool recorded = false;
        if (file.CanBeWritten()) {
            // Someone may have written the key since the file was read: theirs stays.
            const TIniFile now = TIniFile::Read(SettingsPath);
            if (now.State == TIniFileState::Usable &&
                IniValue(now.Bytes, PortsSection, key).has_value()) {
                error = QStringLiteral("%1 was added meanwhile").arg(key);
            } else {
                recorded = WriteIniValue(SettingsPath, PortsSection, key, assignment.Name, &error);
            }
        } else {
            error = QStringLiteral("not a settings file that can be written");
        }
        if (recorded) {
            qCDebug(lcSerial).noquote()
                << QStringLiteral("%1=%2 added to [Ports] of %3 for %4")
                       .arg(key, assignment.Name, SettingsPath, assignment.Adapter.Device);
        } else {
            SessionPorts.insert(assignment.Port, assignment.Name);
            qCDebug(lcSerial).noquote()
                << QStringLiteral("%1 is %2 for this run only: %3 cannot be written (%4)")
                       .arg(key, assignment.Name, SettingsPath, error);
        }
    }
    for (const TPresentPort& adapter : numbering.Unnumbered) {
        qCDebug(lcSerial).noquote() << QStringLiteral("no free COM number for %1 (COM%2..COM%3 "
                                                      "are all taken): add a [Ports] key by hand")
                                           .arg(adapter.Device)
                                           .arg(FirstAdapterPort)
                                           .arg(LastListedPort);
    }
    return numbering;
}
