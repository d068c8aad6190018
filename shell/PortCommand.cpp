// The "&Comms Port" and "&About...." commands of the main window.
#include "serial/KestComms.h"
#include "serial/PortMap.h"
#include "shell/Main1.h"
#include "shell/ModalSeam.h"
#include "shell/about.h"
#include "shell/commsel.h"

#include <QComboBox>
#include <QLabel>
#include <QStringList>

namespace {

// The device each of COM1..COM32 stands for, as the component will open it.
QStringList PortDevices(const QString& PortMapFile, const TSessionPortMap& SessionPorts) {
    QStringList devices;
    for (unsigned port = 1; port <= TCommSelFrm::PortCount; ++port) {
        devices << PortDevicePath(port, PortMapFile, SessionPorts);
    }
    return devices;
}

void CentreOn(QWidget* Window, const QWidget* Owner) {
    const QRect frame = Window->frameGeometry();
    QRect centred(QPoint(0, 0), frame.size());
    centred.moveCenter(Owner->frameGeometry().center());
    Window->move(centred.topLeft());
}

// Closes the port and opens Port instead, reporting instead of raising: false, with the
// component's message, when the device cannot be opened.
bool ReopenOn(TKestComms& Comms, TComport Port, QString* Error) {
    Comms.Close();
    Comms.CommPort = Port;
    try {
        return Comms.Open();
    } catch (const ECommsError& error) {
        *Error = QString::fromUtf8(error.what());
        return false;
    }
}

} // namespace

void TMainForm::CommsPort1Click() {
    // The component is not to be closed underneath a run, nor used before it exists.
    if (RunInProgress() || Comms == nullptr) {
        return;
    }
    if (CommSelFrm == nullptr) {
        CommSelFrm = new TCommSelFrm(this);
    }
    const bool savedPortListed = CommsPortNumber >= 1 && CommsPortNumber <= TCommSelFrm::PortCount;
    CommSelFrm->ComboBox1->setCurrentIndex(savedPortListed ? CommsPortNumber - 1 : -1);
    NumberNewPorts(); // an adapter plugged in a moment ago is in the list
    CommSelFrm->SetPortDevices(PortDevices(Comms->PortMapFile, SessionPorts));
    CommSelFrm->SetPortListing(PortListings());
    CentreOn(CommSelFrm, this);
    if (TModalSeam::ExecDialog(CommSelFrm) != QDialog::Accepted) {
        return;
    }
    const int selected = CommSelFrm->ComboBox1->currentIndex();
    if (selected < 0 || RunInProgress()) {
        return; // nothing chosen: the port in use stays as it is
    }

    QString error;
    if (ReopenOn(*Comms, static_cast<TComport>(selected), &error)) {
        CommsPortNumber = selected + 1;
        SaveSettings();
        ShowPortInPanel();
        return;
    }
    // Taken before the old port is reopened, which has a failure of its own.
    const QString reason =
        Comms->LastOpenFailure().Reason(QStringLiteral("COM%1").arg(selected + 1));

    // Back to the port in use before; the panel names it only if it is open again.
    QString ignored;
    if (ReopenOn(*Comms, static_cast<TComport>(static_cast<uint8_t>(CommsPortNumber - 1)),
                 &ignored)) {
        ShowPortInPanel();
    } else {
        StatusPanel0->clear();
    }
    if (error.isEmpty()) {
        SoundMessageDlg(QStringLiteral("Unable To Open Comm Port."), TMsgDlgType::mtError,
                        QMessageBox::Ok, 0, reason);
    } else {
        TModalSeam::ShowError(this, error, reason);
    }
}

void TMainForm::About1Click() {
    if (AboutBox == nullptr) {
        AboutBox = new TAboutBox(this);
    }
    CentreOn(AboutBox, this);
    TModalSeam::ExecDialog(AboutBox);
}
