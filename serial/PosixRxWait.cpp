#include "serial/PosixRxWait.h"

#include "serial/ExchangeTrace.h"
#include "serial/PosixRetry.h"
#include "serial/SerialLog.h"
#include "settings/ErrorText.h"

#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

TPosixRxWait::~TPosixRxWait() {
    if (ReadHandle >= 0) {
        ::close(ReadHandle);
    }
    if (WakeHandle >= 0) {
        ::close(WakeHandle);
    }
}

bool TPosixRxWait::Prepare() {
    ReadHandle = ::fcntl(PortHandle, F_DUPFD_CLOEXEC, 0);
    if (ReadHandle < 0) {
        const int code = errno;
        qCDebug(lcSerial).noquote()
            << "cannot give the receive thread the port:" << ErrorText(code);
        return false;
    }
    WakeHandle = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (WakeHandle < 0) {
        const int code = errno;
        qCDebug(lcSerial).noquote()
            << "cannot make the receive thread's wake-up:" << ErrorText(code);
        return false;
    }
    return true;
}

void TPosixRxWait::Wake() {
    if (WakeHandle < 0) {
        return;
    }
    // Never read: the eventfd stays readable, so every later poll returns at once.
    const uint64_t one = 1;
    if (RetryOnInterrupt([&] { return ::write(WakeHandle, &one, sizeof one); }) == -1) {
        const int code = errno;
        qCDebug(lcSerial).noquote() << "cannot wake the receive thread:" << ErrorText(code);
    }
}

void TPosixRxWait::Abandon() {
    Abandoned.store(true);
    Wake();
    if (ReadHandle < 0) {
        return;
    }
    // The descriptor is not closed: the thread may be about to use its number, which a
    // close would free for any file this program opens next. dup3 puts /dev/null in its
    // place in one step, and the port's own file is released with its last descriptor.
    const int nothing = RetryOnInterrupt([] { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); });
    if (nothing < 0) {
        const int code = errno;
        qCDebug(lcSerial).noquote()
            << "cannot take the port from the receive thread: /dev/null:" << ErrorText(code);
        return;
    }
    if (RetryOnInterrupt([&] { return ::dup3(nothing, ReadHandle, O_CLOEXEC); }) == -1) {
        const int code = errno;
        qCDebug(lcSerial).noquote()
            << "cannot take the port from the receive thread:" << ErrorText(code);
    }
    ::close(nothing);
}

int TPosixRxWait::Read(char* Buffer, int Size) {
    if (Abandoned.load()) {
        return Over;
    }
    pollfd waits[2] = {{ReadHandle, POLLIN, 0}, {WakeHandle, POLLIN, 0}};
    if (::poll(waits, 2, -1) == -1) {
        if (errno == EINTR) {
            return Again;
        }
        const int code = errno;
        qCDebug(lcSerial).noquote() << "receive thread: poll failed:" << ErrorText(code);
        return Over;
    }
    TExchangeTrace::Mark(TExchangeStep::PortWoke);
    if (waits[1].revents != 0) {
        return Over;
    }
    const short port = waits[0].revents;
    if ((port & POLLIN) != 0) {
        const ssize_t count = ::read(ReadHandle, Buffer, static_cast<size_t>(Size));
        if (count > 0) {
            TExchangeTrace::Mark(TExchangeStep::ChunkRead);
            return static_cast<int>(count);
        }
        if (count == -1 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
            return Again;
        }
        // End of file (0) or a read error such as EIO: the line is gone.
        const int code = errno;
        qCDebug(lcSerial).noquote()
            << "receive thread ends:" << (count == 0 ? QStringLiteral("hang-up") : ErrorText(code));
        return Over;
    }
    if ((port & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        qCDebug(lcSerial).noquote() << "receive thread ends: the line reports"
                                    << ((port & POLLNVAL) != 0  ? "an invalid handle"
                                        : (port & POLLHUP) != 0 ? "a hang-up"
                                                                : "an error");
        return Over;
    }
    return Again;
}
