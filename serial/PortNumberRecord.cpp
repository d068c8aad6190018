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

enum class TRecordOutcome { Recorded, TakenMeanwhile, NotWritten };

// Adds COMn=<name> unless another program has given COMn away since the file was read:
// the check and the write are one step (AddIniValue), so a number recorded here is in the
// file. A line that names the same adapter under the same number counts as recorded.
TRecordOutcome Record(const QString& SettingsPath, const TPortAssignment& Assignment,
                      QString& Error) {
    const QString key = PortsKey(Assignment.Port);
    QString held;
    if (!AddIniValue(SettingsPath, PortsSection, key, Assignment.Name, &held, &Error)) {
        return TRecordOutcome::NotWritten;
    }
    if (held != Assignment.Name) {
        Error = QStringLiteral("another program gave %1 to %2 meanwhile").arg(key, held);
        return TRecordOutcome::TakenMeanwhile;
    }
    return TRecordOutcome::Recorded;
}

} // namespace

TPortNumbering RecordNewAdapters(const QString& SettingsPath, const QList<TPresentPort>& Present,
                                 TSessionPortMap& SessionPorts) {
    TPortNumbering result;
    // A number another program records meanwhile is theirs: the adapters not recorded yet
    // are numbered again against the file as it is then. Each such round finds one more
    // line in [Ports], so the rounds are at most as many as the numbers.
    for (unsigned round = FirstAdapterPort;; ++round) {
        const TIniFile file = TIniFile::Read(SettingsPath);
        TPortsEntries entries;
        if (file.State == TIniFileState::Usable) {
            entries = IniSectionEntries(file.Bytes, PortsSection);
        }
        // Numbers given earlier in this run count as keys, after the file's own.
        for (auto it = SessionPorts.cbegin(); it != SessionPorts.cend(); ++it) {
            entries << qMakePair(PortsKey(it.key()), it.value());
        }
        const TPortNumbering numbering = NumberNewAdapters(Present, entries);
        result.Unnumbered = numbering.Unnumbered;
        bool numberAgain = false;
        for (const TPortAssignment& assignment : numbering.Assigned) {
            const QString key = PortsKey(assignment.Port);
            QString error;
            const TRecordOutcome outcome = Record(SettingsPath, assignment, error);
            if (outcome == TRecordOutcome::TakenMeanwhile && round < LastListedPort) {
                qCDebug(lcSerial).noquote()
                    << QStringLiteral("%1 not given to %2: %3; numbering again")
                           .arg(key, assignment.Adapter.Device, error);
                numberAgain = true;
                break;
            }
            result.Assigned << assignment;
            if (outcome == TRecordOutcome::Recorded) {
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
        if (!numberAgain) {
            break;
        }
    }
    for (const TPresentPort& adapter : result.Unnumbered) {
        qCDebug(lcSerial).noquote() << QStringLiteral("no free COM number for %1 (COM%2..COM%3 "
                                                      "are all taken): add a [Ports] key by hand")
                                           .arg(adapter.Device)
                                           .arg(FirstAdapterPort)
                                           .arg(LastListedPort);
    }
    return result;
}
