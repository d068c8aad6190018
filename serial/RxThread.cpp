#include "serial/RxThread.h"

#include "serial/ExchangeTrace.h"
#include "serial/RxWait.h"
#include "serial/SerialLog.h"
#include "serial/ThreadPriority.h"

#include <QCoreApplication>

#include <new>
#include <system_error>

bool TRxTarget::Post(std::unique_ptr<QEvent> Event) {
    const std::lock_guard<std::mutex> guard(Lock);
    if (Component == nullptr) {
        return false;
    }
    QCoreApplication::postEvent(Component, Event.release());
    return true;
}

void TRxTarget::CutOff() {
    const std::lock_guard<std::mutex> guard(Lock);
    Component = nullptr;
}

TRxThread::TRxThread(std::unique_ptr<TRxWait> PortWait, QObject* PostTarget, uint64_t SessionNumber)
    : Wait(std::move(PortWait)), Target(std::make_shared<TRxTarget>(PostTarget)),
      Session(SessionNumber) {}

TRxThread::~TRxThread() {
    // The wait goes after the thread that uses it.
    if (Thread.joinable()) {
        Thread.join();
    }
}

bool TRxThread::Begin() {
    if (!Wait || !Wait->Prepare()) {
        return false;
    }
    try {
        Thread = std::thread([this] {
            RaiseThisThreadPriority();
            Run();
            Ended.set_value();
        });
    } catch (const std::system_error& error) {
        qCDebug(lcSerial).noquote() << "cannot start the receive thread:" << error.what();
        return false;
    }
    return true;
}

bool TRxThread::Stop(int TimeOutMs) {
    Stopping.store(true);
    if (Wait) {
        Wait->Wake();
    }
    if (!Thread.joinable()) {
        return true;
    }
    if (EndedSignal.wait_for(std::chrono::milliseconds(TimeOutMs)) != std::future_status::ready) {
        Target->CutOff();
        Wait->Abandon();
        qCDebug(lcSerial).noquote()
            << "the receive thread did not end within" << TimeOutMs
            << "ms: left running (leaked), cut off from the component and the port";
        return false;
    }
    Thread.join();
    return true;
}

void TRxThread::Run() {
    try {
        Receive();
    } catch (const std::bad_alloc&) {
        // Out of memory ends the thread as a hang-up does: later transactions time out.
        try {
            qCDebug(lcSerial).noquote() << "receive thread ends: out of memory";
        } catch (const std::bad_alloc&) {
        }
    }
}

void TRxThread::Receive() {
    QByteArray buffer(ReadSize, Qt::Uninitialized);
    while (!Stopping.load()) {
        const int count = Wait->Read(buffer.data(), ReadSize);
        if (count == TRxWait::Over || Stopping.load()) {
            return;
        }
        if (count > 0 && !PostChunk(buffer.constData(), count)) {
            return;
        }
    }
}

bool TRxThread::PostChunk(const char* Bytes, int Length) {
    if (Stopping.load()) {
        return false;
    }
    qCDebug(lcSerial).noquote() << "rx"
                                << HexBytes(reinterpret_cast<const uint8_t*>(Bytes),
                                            static_cast<size_t>(Length));
    if (const TChunkHook hook = ChunkHook.load()) {
        hook();
    }
    auto chunk = std::make_unique<TRxChunkEvent>(QByteArray(Bytes, Length), Session);
    TExchangeTrace::Mark(TExchangeStep::ChunkMade);
    TRxChunkEvent::Publish();
    const bool posted = Target->Post(std::move(chunk));
    TExchangeTrace::Mark(TExchangeStep::ChunkPosted);
    return posted;
}
