// The port side of TKestComms: construction, Open, Close and the delivery of the chunks
// that the receive thread posts. The transactions are in KestTransactions.cpp.
#include "serial/KestComms.h"

#include "serial/PortMap.h"
#include "serial/ResultCodes.h"
#include "serial/RxCondition.h"
#include "serial/RxThread.h"
#include "serial/RxWait.h"
#include "serial/SerialDevice.h"
#include "serial/SerialLog.h"

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
    const unsigned PortNumber = static_cast<unsigned>(CommPort) + 1;
    LastDevicePath =
        NamedDevice.isEmpty() ? PortDevicePath(PortNumber, PortMapFile, SessionPorts) : NamedDevice;
    switch (Device->Open(LastDevicePath)) {
    case TSerialDevice::TOpenResult::NotATty:
        NoteOpenFailure(PortNumber, Device->LastFailure());
        throw ECommsError("File Handle is not a Comm Handle.");
    case TSerialDevice::TOpenResult::Failed:
        NoteOpenFailure(PortNumber, Device->LastFailure());
        return false;
    case TSerialDevice::TOpenResult::Opened:
        break;
    }
    Device->Purge();
    TLineSettings Settings;
    Settings.BaudRate = BaudRate;
    Settings.DataBits = DataBits;
    Settings.StopBits = static_cast<uint8_t>(StopBits);
    Settings.Parity = static_cast<uint8_t>(Parity);
    if (!Device->Configure(Settings)) {
        NoteOpenFailure(PortNumber, Device->LastFailure());
        Device->Close();
        return false;
    }
    Device->RequestLowLatency();
    OpenRate = BaudRate;

    RxReadPos = 0;
    RxWritePos = 0;
    RxStoredCount = 0;
    RxBuffer.assign(std::max<uint16_t>(RxBufferSize, 1), 0);
    ReplyState = -1;
    ReplyEvent = false;
    TimeOutEvent = false;

    ++Session;
    auto Thread = std::make_unique<TRxThread>(Device->MakeRxWait(), this, Session);
    if (!Thread->Begin()) {
        Thread.reset();
        Device->Close();
        std::vector<uint8_t>().swap(RxBuffer);
        TOpenFailure Failure;
        Failure.Kind = TOpenFailureKind::Other;
        Failure.Device = LastDevicePath;
        Failure.Detail = QStringLiteral("the receive thread cannot be started");
        NoteOpenFailure(PortNumber, Failure);
        throw ECommsError("Unable To Create Rx Thread");
    }
    RxThread = std::move(Thread);
    qCDebug(lcSerial).noquote() << "opened COM" + QString::number(PortNumber) << LastDevicePath
                                << "at" << BaudRate << "baud";
    return true;
}

void TKestComms::NoteOpenFailure(unsigned PortNumber, const TOpenFailure& Failure) {
    OpenFailure = Failure;
    // A device given by its path has no COM name.
    qCDebug(lcSerial).noquote() << OpenFailure.Reason(
        NamedDevice.isEmpty() ? QStringLiteral("COM%1").arg(PortNumber) : QString());
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
        // Stop has cut it off from this component, and it reads its own duplicate of the
        // port: leave it to end by itself (its object is leaked, as it still uses it)
        // rather than wait without limit.
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
    const auto* Chunk = static_cast<const TRxChunkEvent*>(Event);
    // A chunk read before a Close belongs to a buffer that is gone.
    if (!IsOpen() || Chunk->Session != Session) {
        return true;
    }
    const auto* Bytes = reinterpret_cast<const uint8_t*>(Chunk->Bytes.constData());
    const auto Length = static_cast<int>(Chunk->Bytes.size());
    QPointer<TKestComms> Self(this);
    ProcessRxBytes(Bytes, Length);
    if (Self && OnReceiveData) {
        const TReceiveDataEvent Handler = OnReceiveData;
        Handler(Bytes, static_cast<uint16_t>(Length));
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
    for (QEventLoop* Loop : ActiveWaits) {
        Loop->quit();
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
