#include "serial/RxThread.h"

#include "serial/SerialDevice.h"
#include "serial/SerialLog.h"
#include "settings/ErrorText.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <new>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

bool TRxTarget::Post(std::unique_ptr<QEvent> Event) {
    const std::lock_guard<std::mutex> Guard(Lock);
    if (Component == nullptr) {
        return false;
    }
    QCoreApplication::postEvent(Component, Event.release());
    return true;
}

void TRxTarget::CutOff() {
    const std::lock_guard<std::mutex> Guard(Lock);
    Component = nullptr;
}

TRxThread::TRxThread(int Port, QObject* PostTarget, uint64_t SessionNumber)
    : PortHandle(Port), Target(std::make_shared<TRxTarget>(PostTarget)), Session(SessionNumber) {}

TRxThread::~TRxThread() {
    if (Thread.joinable()) {
        Thread.join();
    }
    if (ReadHandle >= 0) {
        ::close(ReadHandle);
    }
    if (WakeHandle >= 0) {
        ::close(WakeHandle);
    }
}

bool TRxThread::Begin() {
    ReadHandle = ::fcntl(PortHandle, F_DUPFD_CLOEXEC, 0);
    if (ReadHandle < 0) {
        const int Code = errno;
        qCDebug(lcSerial).noquote()
            << "cannot give the receive thread the port:" << ErrorText(Code);
        return false;
    }
    WakeHandle = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (WakeHandle < 0) {
        const int Code = errno;
        qCDebug(lcSerial).noquote()
            << "cannot make the receive thread's wake-up:" << ErrorText(Code);
        return false;
    }
    try {
        Thread = std::thread([this] {
            Run();
            Ended.set_value();
        });
    } catch (const std::system_error& Error) {
        qCDebug(lcSerial).noquote() << "cannot start the receive thread:" << Error.what();
        return false;
    }
    return true;
}

bool TRxThread::Stop(int TimeOutMs) {
    Stopping.store(true);
    if (WakeHandle >= 0) {
        const uint64_t One = 1;
        if (RetryOnInterrupt([&] { return ::write(WakeHandle, &One, sizeof One); }) == -1) {
            const int Code = errno;
            qCDebug(lcSerial).noquote() << "cannot wake the receive thread:" << ErrorText(Code);
        }
    }
    if (!Thread.joinable()) {
        return true;
    }
    if (EndedSignal.wait_for(std::chrono::milliseconds(TimeOutMs)) != std::future_status::ready) {
        Target->CutOff();
        qCDebug(lcSerial).noquote() << "the receive thread did not end within" << TimeOutMs
                                    << "ms: left running (leaked), cut off from the component";
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
    QByteArray Buffer(ReadSize, Qt::Uninitialized);
    pollfd Waits[2] = {{ReadHandle, POLLIN, 0}, {WakeHandle, POLLIN, 0}};
    while (!Stopping.load()) {
        Waits[0].revents = 0;
        Waits[1].revents = 0;
        if (::poll(Waits, 2, -1) == -1) {
            if (errno == EINTR) {
                continue;
            }
            const int Code = errno;
            qCDebug(lcSerial).noquote() << "receive thread: poll failed:" << ErrorText(Code);
            return;
        }
        if (Waits[1].revents != 0 || Stopping.load()) {
            return;
        }
        const short Port = Waits[0].revents;
        if ((Port & POLLIN) != 0) {
            const ssize_t Count = ::read(ReadHandle, Buffer.data(), ReadSize);
            if (Count > 0) {
                if (!PostChunk(Buffer.constData(), static_cast<int>(Count))) {
                    return;
                }
                continue;
            }
            if (Count == -1 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
                continue;
            }
            // End of file (0) or a read error such as EIO: the line is gone.
            const int Code = errno;
            qCDebug(lcSerial).noquote()
                << "receive thread ends:"
                << (Count == 0 ? QStringLiteral("hang-up") : ErrorText(Code));
            return;
        }
        if ((Port & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            qCDebug(lcSerial).noquote() << "receive thread ends: the line reports"
                                        << ((Port & POLLNVAL) != 0  ? "an invalid handle"
                                            : (Port & POLLHUP) != 0 ? "a hang-up"
                                                                    : "an error");
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
    if (const TChunkHook Hook = ChunkHook.load()) {
        Hook();
    }
    auto Chunk = std::make_unique<TRxChunkEvent>(QByteArray(Bytes, Length), Session);
    TRxChunkEvent::Publish();
    return Target->Post(std::move(Chunk));
}
