#include "serial/PosixRetry.h"
#include "serial/SerialLog.h"
#include "serial/remote/SocketLink.h"
#include "settings/ErrorText.h"

#include <QElapsedTimer>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// Keep-alive: the first probe after this many seconds of silence, then one every
// KeepAliveGapS; the connection ends after KeepAliveProbes unanswered.
constexpr int KeepAliveIdleS = 5;
constexpr int KeepAliveGapS = 2;
constexpr int KeepAliveProbes = 3;

int Fd(intptr_t Handle) {
    return static_cast<int>(Handle);
}

// What getaddrinfo gives, shared with the thread that asks it: a name server that does
// not answer would hold the caller far beyond any bound, so the caller waits for the
// answer at most its time and leaves the rest to that thread.
struct TLookup {
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
    int Result = 0;
    int SystemCode = 0; // errno of the looking thread, for EAI_SYSTEM
    addrinfo* Addresses = nullptr;
    ~TLookup() {
        if (Addresses != nullptr) {
            ::freeaddrinfo(Addresses);
        }
    }
};

// Sets the options of a connected socket; false (with errno) when one is refused.
bool SetConnectionOptions(int Handle) {
    const int on = 1;
    return ::setsockopt(Handle, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0 &&
           ::setsockopt(Handle, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
           ::setsockopt(Handle, IPPROTO_TCP, TCP_KEEPIDLE, &KeepAliveIdleS,
                        sizeof KeepAliveIdleS) == 0 &&
           ::setsockopt(Handle, IPPROTO_TCP, TCP_KEEPINTVL, &KeepAliveGapS, sizeof KeepAliveGapS) ==
               0 &&
           ::setsockopt(Handle, IPPROTO_TCP, TCP_KEEPCNT, &KeepAliveProbes,
                        sizeof KeepAliveProbes) == 0;
}

} // namespace

TSocketLink::~TSocketLink() {
    if (Handle >= 0) {
        ::close(Fd(Handle));
    }
}

bool TSocketLink::Fail(const QString& What, int SystemCode) {
    Code = SystemCode;
    Error = SystemCode != 0 ? QStringLiteral("%1: %2").arg(What, ErrorText(SystemCode)) : What;
    qCDebug(lcSerial).noquote() << Error;
    return false;
}

TSocketLink::TConnectResult TSocketLink::Connect(const QString& Host, uint16_t Port,
                                                 int TimeOutMs) {
    Error.clear();
    Code = 0;
    QElapsedTimer clock;
    clock.start();
    auto lookup = std::make_shared<TLookup>();
    const QByteArray host = Host.toUtf8();
    const QByteArray service = QByteArray::number(Port);
    try {
        std::thread([lookup, host, service] {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
            addrinfo* found = nullptr;
            const int result = ::getaddrinfo(host.constData(), service.constData(), &hints, &found);
            const int code = errno;
            const std::lock_guard<std::mutex> guard(lookup->Lock);
            lookup->Result = result;
            lookup->SystemCode = code;
            lookup->Addresses = found;
            lookup->Finished = true;
            lookup->Done.notify_all();
        }).detach();
    } catch (const std::system_error& error) {
        Fail(
            QStringLiteral("cannot look up %1: %2").arg(Host, QString::fromLocal8Bit(error.what())),
            0);
        return TConnectResult::Failed;
    }
    std::unique_lock<std::mutex> guard(lookup->Lock);
    if (!lookup->Done.wait_for(guard, std::chrono::milliseconds(TimeOutMs),
                               [&] { return lookup->Finished; })) {
        Fail(QStringLiteral("no name server answered for %1 within %2 ms").arg(Host).arg(TimeOutMs),
             0);
        return TConnectResult::NameNotFound;
    }
    if (lookup->Result != 0) {
        const int result = lookup->Result;
        const int code = lookup->SystemCode;
        // The resolver's own words: the caller names the host.
        Fail(result == EAI_SYSTEM ? ErrorText(code)
                                  : QString::fromLocal8Bit(::gai_strerror(result)),
             0);
        return result == EAI_SYSTEM ? TConnectResult::Failed : TConnectResult::NameNotFound;
    }
    int lastCode = 0;
    for (const addrinfo* address = lookup->Addresses; address != nullptr;
         address = address->ai_next) {
        const int handle =
            ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                     address->ai_protocol);
        if (handle < 0) {
            lastCode = errno;
            continue;
        }
        int result = ::connect(handle, address->ai_addr, address->ai_addrlen);
        if (result == -1 && errno == EINPROGRESS) {
            const qint64 left = std::max<qint64>(0, TimeOutMs - clock.elapsed());
            pollfd wait{handle, POLLOUT, 0};
            const int ready =
                RetryOnInterrupt([&] { return ::poll(&wait, 1, static_cast<int>(left)); });
            int pending = ETIMEDOUT;
            socklen_t length = sizeof pending;
            if (ready == 1 && ::getsockopt(handle, SOL_SOCKET, SO_ERROR, &pending, &length) == -1) {
                pending = errno;
            }
            result = pending == 0 ? 0 : -1;
            errno = pending;
        }
        if (result == 0 && SetConnectionOptions(handle)) {
            Handle = handle;
            Open = true;
            return TConnectResult::Connected;
        }
        lastCode = errno;
        ::close(handle);
        if (clock.elapsed() >= TimeOutMs) {
            break;
        }
    }
    Fail(QStringLiteral("cannot connect to %1 port %2").arg(Host).arg(Port), lastCode);
    return TConnectResult::Unreachable;
}

bool TSocketLink::Send(const uint8_t* Data, size_t Length, int TimeOutMs) {
    if (!Open) {
        return Fail(QStringLiteral("cannot send: the connection is closed"), 0);
    }
    QElapsedTimer clock;
    clock.start();
    size_t sent = 0;
    while (sent < Length) {
        // MSG_NOSIGNAL: a connection the server closed fails the send, it does not end the
        // program with SIGPIPE.
        const ssize_t count = ::send(Fd(Handle), Data + sent, Length - sent, MSG_NOSIGNAL);
        if (count > 0) {
            sent += static_cast<size_t>(count);
            continue;
        }
        if (count == -1 && errno == EINTR) {
            continue;
        }
        if (count == -1 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return Fail(QStringLiteral("cannot send"), errno);
        }
        const qint64 left = TimeOutMs - clock.elapsed();
        if (left <= 0) {
            return Fail(QStringLiteral("send timed out after %1 of %2 bytes").arg(sent).arg(Length),
                        0);
        }
        pollfd wait{Fd(Handle), POLLOUT, 0};
        if (::poll(&wait, 1, static_cast<int>(left)) == -1 && errno != EINTR) {
            return Fail(QStringLiteral("cannot wait to send"), errno);
        }
    }
    return true;
}

int TSocketLink::Receive(uint8_t* Buffer, size_t Size, int TimeOutMs) {
    if (!Open) {
        Fail(QStringLiteral("cannot receive: the connection is closed"), 0);
        return Ended;
    }
    pollfd wait{Fd(Handle), POLLIN, 0};
    const int ready = ::poll(&wait, 1, std::max(TimeOutMs, 0));
    if (ready == -1) {
        if (errno == EINTR) {
            return 0;
        }
        Fail(QStringLiteral("cannot wait to receive"), errno);
        return Ended;
    }
    if (ready == 0) {
        return 0;
    }
    const ssize_t count = ::recv(Fd(Handle), Buffer, Size, 0);
    if (count > 0) {
        return static_cast<int>(count);
    }
    if (count == -1 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
        return 0;
    }
    if (count == 0) {
        Fail(QStringLiteral("the server closed the connection"), 0);
    } else {
        Fail(QStringLiteral("the connection failed"), errno);
    }
    return Ended;
}

void TSocketLink::Shutdown() {
    if (Open && ::shutdown(Fd(Handle), SHUT_RDWR) == -1 && errno != ENOTCONN) {
        Fail(QStringLiteral("cannot close the connection"), errno);
    }
    Open = false;
}

TSocketWait::~TSocketWait() {
    if (WakeHandle >= 0) {
        ::close(Fd(WakeHandle));
    }
}

bool TSocketWait::Prepare() {
    const int handle = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (handle < 0) {
        const int code = errno;
        qCDebug(lcSerial).noquote()
            << "cannot make the receive thread's wake-up:" << ErrorText(code);
        return false;
    }
    WakeHandle = handle;
    return true;
}

void TSocketWait::Wake() {
    if (WakeHandle < 0) {
        return;
    }
    // Never read: the eventfd stays readable, so every later poll returns at once.
    const uint64_t one = 1;
    if (RetryOnInterrupt([&] { return ::write(Fd(WakeHandle), &one, sizeof one); }) == -1) {
        const int code = errno;
        qCDebug(lcSerial).noquote() << "cannot wake the receive thread:" << ErrorText(code);
    }
}

void TSocketWait::Abandon() {
    Wake();
    if (Socket->Handle >= 0 && ::shutdown(Fd(Socket->Handle), SHUT_RDWR) == -1 &&
        errno != ENOTCONN) {
        const int code = errno;
        qCDebug(lcSerial).noquote()
            << "cannot end the receive thread's connection:" << ErrorText(code);
    }
}

int TSocketWait::Read(uint8_t* Buffer, size_t Size) {
    pollfd waits[2] = {{Fd(Socket->Handle), POLLIN, 0}, {Fd(WakeHandle), POLLIN, 0}};
    if (::poll(waits, 2, -1) == -1) {
        if (errno == EINTR) {
            return Again;
        }
        const int code = errno;
        qCDebug(lcSerial).noquote() << "receive thread: poll failed:" << ErrorText(code);
        return Over;
    }
    if (waits[1].revents != 0) {
        return Over;
    }
    if ((waits[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
        return Again;
    }
    const ssize_t count = ::recv(Fd(Socket->Handle), Buffer, Size, 0);
    if (count > 0) {
        return static_cast<int>(count);
    }
    if (count == -1 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
        return Again;
    }
    const int code = errno;
    qCDebug(lcSerial).noquote() << "receive thread ends:"
                                << (count == 0 ? QStringLiteral("the server closed the connection")
                                               : ErrorText(code));
    return Over;
}
