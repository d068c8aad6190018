#include "serial/PosixRxWait.h"

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
    return true;
}

void TPosixRxWait::Wake() {
    if (WakeHandle < 0) {
        return;
    }
    // Never read: the eventfd stays readable, so every later poll returns at once.
    const uint64_t One = 1;
    if (RetryOnInterrupt([&] { return ::write(WakeHandle, &One, sizeof One); }) == -1) {
        const int Code = errno;
        qCDebug(lcSerial).noquote() << "cannot wake the receive thread:" << ErrorText(Code);
    }
}

int TPosixRxWait::Read(char* Buffer, int Size) {
    pollfd Waits[2] = {{ReadHandle, POLLIN, 0}, {WakeHandle, POLLIN, 0}};
    if (::poll(Waits, 2, -1) == -1) {
        if (errno == EINTR) {
            return Again;
        }
        const int Code = errno;
        qCDebug(lcSerial).noquote() << "receive thread: poll failed:" << ErrorText(Code);
        return Over;
    }
    if (Waits[1].revents != 0) {
        return Over;
    }
    const short Port = Waits[0].revents;
    if ((Port & POLLIN) != 0) {
        const ssize_t Count = ::read(ReadHandle, Buffer, static_cast<size_t>(Size));
        if (Count > 0) {
            return static_cast<int>(Count);
        }
        if (Count == -1 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
            return Again;
        }
        // End of file (0) or a read error such as EIO: the line is gone.
        const int Code = errno;
        qCDebug(lcSerial).noquote()
            << "receive thread ends:" << (Count == 0 ? QStringLiteral("hang-up") : ErrorText(Code));
        return Over;
    }
    if ((Port & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        qCDebug(lcSerial).noquote() << "receive thread ends: the line reports"
                                    << ((Port & POLLNVAL) != 0  ? "an invalid handle"
                                        : (Port & POLLHUP) != 0 ? "a hang-up"
                                                                : "an error");
        return Over;
    }
    return Again;
}
