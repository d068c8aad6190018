// The port side of TKestComms: construction, Open, Close and the delivery of the chunks
// that the receive thread posts. The transactions are in KestTransactions.cpp.
#include "serial/KestComms.h"

#include "serial/ExchangeTrace.h"
#include "serial/PortMap.h"
#include "serial/ResultCodes.h"
#include "serial/RxCondition.h"
#include "serial/RxThread.h"
#include "serial/RxWait.h"
#include "serial/SerialDevice.h"
#include "serial/SerialLog.h"
#include "serial/remote/RemotePortName.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace {

// How long Close waits for the receive thread to end.
constexpr int RxThreadStopMs = 10000;

} // namespace

TKestComms::TKestComms(QObject* Owner) : QObject(Owner), Device(MakeSerialDevice()) {
    ReplyTimer = new QTimer(this);
    ReplyTimer->setInterval(100);
    ReplyTimer->setTimerType(Qt::PreciseTimer);
    connect(ReplyTimer, &QTimer::timeout, this, [this] { TimerTick(); });
}

TKestComms::~TKestComms() {
    if (IsOpen()) {
        Close();
    }
    ReplyTimer->stop();
    RxCondition = nullptr;
    QuitWaits();
}

bool TKestComms::IsOpen() const {
    return Device->IsOpen();
}

bool TKestComms::Open() {
    if (IsOpen()) {
        throw ECommsError("Already have a Comm File Open");
    }
    OpenFailure = TOpenFailure{};
    const unsigned portNumber = static_cast<unsigned>(CommPort) + 1;
    const QString name = NamedPath();
    LastDevicePath = name;
    // The kind of device follows the port's name at every open (a [Ports] line may have
    // been changed to or from a remote port's).
    if (Device->IsRemote() != IsRemotePortName(name)) {
        Device = MakeSerialDevice(name);
    }
    if (Pinned) {
        // Opened by the path its links lead to now, so that the device noted is the one
        // opened; once it has answered, only while the name still leads to it.
        const QString resolved = Device->ResolvePath(name);
        if (PinnedDeviceHeard && resolved != PinnedPath) {
            LastDevicePath = PinnedPath;
            NoteDeviceChanged(portNumber, name);
            return false;
        }
        PinnedPath = resolved;
        LastDevicePath = resolved;
    }
    switch (Device->Open(LastDevicePath)) {
    case TSerialDevice::TOpenResult::NotATty:
        NoteOpenFailure(portNumber, Device->LastFailure());
        throw ECommsError("File Handle is not a Comm Handle.");
    case TSerialDevice::TOpenResult::Failed:
        NoteOpenFailure(portNumber, Device->LastFailure());
        return false;
    case TSerialDevice::TOpenResult::Opened:
        break;
    }
    if (Pinned) {
        const std::optional<TDeviceIdentity> identity = Device->Identity();
        if (PinnedDeviceHeard && identity != PinnedIdentity) {
            Device->Close();
            NoteDeviceChanged(portNumber, name);
            return false;
        }
        PinnedIdentity = identity;
    }
    Device->Purge();
    TLineSettings settings;
    settings.BaudRate = BaudRate;
    settings.DataBits = DataBits;
    settings.StopBits = static_cast<uint8_t>(StopBits);
    settings.Parity = static_cast<uint8_t>(Parity);
    if (!Device->Configure(settings)) {
        NoteOpenFailure(portNumber, Device->LastFailure());
        Device->Close();
        return false;
    }
    Device->RequestLowLatency();
    OpenRate = BaudRate;
    PurgeBeforeSend = false;

    RxReadPos = 0;
    RxWritePos = 0;
    RxStoredCount = 0;
    RxBuffer.assign(std::max<uint16_t>(RxBufferSize, 1), 0);
    ReplyState = -1;
    ReplyEvent = false;
    TimeOutEvent = false;

    ++Session;
    auto thread = std::make_unique<TRxThread>(Device->MakeRxWait(), this, Session);
    if (!thread->Begin()) {
        thread.reset();
        Device->Close();
        std::vector<uint8_t>().swap(RxBuffer);
        TOpenFailure failure;
        failure.Kind = TOpenFailureKind::Other;
        failure.Device = LastDevicePath;
        failure.Detail = QStringLiteral("the receive thread cannot be started");
        NoteOpenFailure(portNumber, failure);
        throw ECommsError("Unable To Create Rx Thread");
    }
    RxThread = std::move(thread);
    qCDebug(lcSerial).noquote() << "opened COM" + QString::number(portNumber) << LastDevicePath
                                << "at" << BaudRate << "baud";
    return true;
}

QString TKestComms::NamedPath() const {
    return NamedDevice.isEmpty()
               ? PortDevicePath(static_cast<unsigned>(CommPort) + 1, PortMapFile, SessionPorts)
               : NamedDevice;
}

void TKestComms::PinDevice() {
    Pinned = true;
    PinnedDeviceHeard = false;
    PinnedPath.clear();
    PinnedIdentity.reset();
}

void TKestComms::UnpinDevice() {
    Pinned = false;
    PinnedDeviceHeard = false;
    PinnedPath.clear();
    PinnedIdentity.reset();
}

void TKestComms::NoteReply() {
    if (Pinned && !PinnedDeviceHeard && IsOpen()) {
        PinnedDeviceHeard = true;
        qCDebug(lcSerial).noquote() << "the run keeps to" << PinnedPath << "which has answered";
    }
}

void TKestComms::NoteDeviceChanged(unsigned PortNumber, const QString& Name) {
    OpenFailure = TOpenFailure{};
    OpenFailure.Kind = TOpenFailureKind::DeviceChanged;
    OpenFailure.Device = Name;
    OpenFailure.PinnedDevice = PinnedPath;
    // Not a trace only: the run's failure that follows would not say why.
    qCWarning(lcSerial).noquote() << OpenFailure.Reason(PortLabel(PortNumber));
}

void TKestComms::NoteOpenFailure(unsigned PortNumber, const TOpenFailure& Failure) {
    OpenFailure = Failure;
    qCDebug(lcSerial).noquote() << OpenFailure.Reason(PortLabel(PortNumber));
}

QString TKestComms::PortLabel(unsigned PortNumber) const {
    // A device given by its path has no COM name.
    return NamedDevice.isEmpty() ? QStringLiteral("COM%1").arg(PortNumber) : QString();
}

void TKestComms::Close() {
    ReplyTimer->stop();
    ReplyState = TxResult::PortClosed;
    ++CloseCount;
    SetReplyEvent();
    TimeOutTicks = 0;
    if (!IsOpen()) {
        return;
    }
    Device->Purge();
    StopRxThread();
    Device->Close();
    std::vector<uint8_t>().swap(RxBuffer);
    RxReadPos = 0;
    RxWritePos = 0;
    RxStoredCount = 0;
    ReplyState = -1;
    qCDebug(lcSerial).noquote() << "closed" << LastDevicePath;
}

void TKestComms::StopRxThread() {
    if (!RxThread) {
        return;
    }
    if (!RxThread->Stop(RxThreadStopMs)) {
        // Stop has cut it off from this component and taken the port from its wait, so
        // the port closes below and can be opened again: leave it to end by itself (its
        // object is leaked, as it still uses it) rather than wait without limit.
        qCDebug(lcSerial).noquote() << "the receive thread of" << LastDevicePath
                                    << "is leaked: it did not end within" << RxThreadStopMs << "ms";
        (void)RxThread.release();
        return;
    }
    RxThread.reset();
}

bool TKestComms::event(QEvent* Event) {
    TRxChunkEvent::Acquire();
    if (Event->type() != RxChunkEventType) {
        return QObject::event(Event);
    }
    TExchangeTrace::Mark(TExchangeStep::ChunkDelivered);
    const auto* chunk = static_cast<const TRxChunkEvent*>(Event);
    // A chunk read before a Close belongs to a buffer that is gone.
    if (!IsOpen() || chunk->Session != Session) {
        return true;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(chunk->Bytes.constData());
    const auto length = static_cast<int>(chunk->Bytes.size());
    QPointer<TKestComms> self(this);
    ProcessRxBytes(bytes, length);
    if (self && OnReceiveData) {
        const TReceiveDataEvent handler = OnReceiveData;
        handler(bytes, static_cast<uint16_t>(length));
    }
    return true;
}

void TKestComms::SetReplyEvent() {
    ReplyEvent = true;
    QuitWaits();
}

void TKestComms::SetTimeOutEvent() {
    TimeOutEvent = true;
    QuitWaits();
}

void TKestComms::QuitWaits() {
    for (QEventLoop* loop : ActiveWaits) {
        loop->quit();
    }
}

void ReopenPortAt(TKestComms* Comms, uint32_t BaudRate) {
    if (Comms == nullptr) {
        return;
    }
    Comms->Close();
    Comms->BaudRate = BaudRate;
    Comms->Open();
}
