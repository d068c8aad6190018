// The ports found on the system, as the main window uses them: numbers for new adapters,
// what the port dialog shows beside each COM name, and the status panel's tool tip.
#include "serial/KestComms.h"
#include "serial/PortNumbering.h"
#include "serial/remote/RemotePortName.h"
#include "shell/Main1.h"
#include "shell/Settings.h"
#include "shell/commsel.h"

#include <QHelpEvent>
#include <QLabel>

namespace {

// The present port a path leads to, if any.
const TPresentPort* PortAt(const QString& Path, const QList<TPresentPort>& Ports) {
    const QString device = CanonicalDevice(Path);
    for (const TPresentPort& port : Ports) {
        if (port.Device == Path || port.ById == Path || CanonicalDevice(port.Device) == device) {
            return &port;
        }
    }
    return nullptr;
}

// What the port dialog and --list-ports show beside a remote port's address.
const QString RemotePortDescription = QStringLiteral("RFC 2217 device server");

} // namespace

void TMainForm::NumberNewPorts() {
    FoundPorts = PresentPorts();
    RecordNewAdapters(SettingsDir + SettingsFileName, FoundPorts, SessionPorts);
    if (Comms != nullptr) {
        Comms->SessionPorts = SessionPorts;
    }
}

QList<TPortListing> TMainForm::PortListings() const {
    const QString mapFile = SettingsDir + SettingsFileName;
    QList<TPortListing> listings;
    for (unsigned port = 1; port <= LastListedPort; ++port) {
        const QString path = PortDevicePath(port, mapFile, SessionPorts);
        TPortListing listing;
        if (IsRemotePortName(path)) {
            // A device server's line: listed by its address, never looked for on this system.
            listing.Device = path;
            listing.Description = RemotePortDescription;
            listing.Present = true;
        } else if (const TPresentPort* present = PortAt(path, FoundPorts)) {
            listing.Device = present->Device;
            listing.Description = PortDescription(*present);
            listing.Present = true;
        } else if (path != DefaultPortDevice(port)) {
            listing.Device = path; // a [Ports] line for a device that is not there now
        }
        listings << listing;
    }
    return listings;
}

QString TMainForm::OpenPortToolTip() const {
    if (Comms == nullptr || !Comms->IsOpen()) {
        return QString();
    }
    const QString path = Comms->DevicePath();
    if (IsRemotePortName(path)) {
        return path + u'\n' + RemotePortDescription;
    }
    const QString device = CanonicalDevice(path);
    QString text = device == path ? path : QStringLiteral("%1 (%2)").arg(path, device);
    if (const TPresentPort* present = PortAt(path, FoundPorts)) {
        const QString description = PortDescription(*present);
        if (!description.isEmpty()) {
            text += u'\n' + description;
        }
    }
    return text;
}

bool TMainForm::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched == StatusPanel0 && Event->type() == QEvent::ToolTip) {
        // Made now, so that it always names the port that is open now (none: no tip).
        StatusPanel0->setToolTip(StatusPanel0->text().isEmpty() ? QString() : OpenPortToolTip());
    }
    return QMainWindow::eventFilter(Watched, Event);
}
