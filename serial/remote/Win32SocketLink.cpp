// Winsock: the socket is non-blocking from the start; bounded waits are select() with a
// time-out; the receive thread waits with WSAEventSelect on an event of the socket and on
// its stop event (manual-reset: once set, every later wait ends at once).
// Winsock's headers go before anything that may bring in windows.h.
#include <winsock2.h>

#include <mstcpip.h>
#include <windows.h>
#include <ws2tcpip.h>

#include "serial/SerialLog.h"
#include "serial/remote/SocketLink.h"
#include "settings/Win32ErrorText.h"

#include <QElapsedTimer>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// Keep-alive: the first probe after this long without traffic, then one every
// KeepAliveGapMs (Windows gives up after ten unanswered).
constexpr ULONG KeepAliveIdleMs = 5000;
constexpr ULONG KeepAliveGapMs = 1000;

SOCKET AsSocket(intptr_t Handle) {
    return static_cast<SOCKET>(Handle);
}

HANDLE AsEvent(intptr_t Handle) {
    return reinterpret_cast<HANDLE>(Handle);
}

// Winsock is started once for the program and left running.
int StartWinsock() {
    static const int result = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    return result;
}

timeval TimeValue(qint64 Ms) {
    Ms = std::max<qint64>(Ms, 0);
    timeval value{};
    value.tv_sec = static_cast<long>(Ms / 1000);
    value.tv_usec = static_cast<long>((Ms % 1000) * 1000);
    return value;
}

// What getaddrinfo gives, shared with the thread that asks it (see the POSIX file).
struct TLookup {
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
    int Result = 0;
    addrinfo* Addresses = nullptr;
    ~TLookup() {
        if (Addresses != nullptr) {
            ::freeaddrinfo(Addresses);
        }
    }
};

bool SetConnectionOptions(SOCKET Handle) {
    const BOOL on = TRUE;
    if (::setsockopt(Handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                     sizeof on) != 0 ||
        ::setsockopt(Handle, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on),
                     sizeof on) != 0) {
        return false;
    }
    tcp_keepalive times{};
    times.onoff = 1;
    times.keepalivetime = KeepAliveIdleMs;
    times.keepaliveinterval = KeepAliveGapMs;
    DWORD returned = 0;
    return ::WSAIoctl(Handle, SIO_KEEPALIVE_VALS, &times, sizeof times, nullptr, 0, &returned,
                      nullptr, nullptr) == 0;
}

} // namespace

TSocketLink::~TSocketLink() {
    if (Handle != -1) {
        ::closesocket(AsSocket(Handle));
    }
}

bool TSocketLink::Fail(const QString& What, int SystemCode) {
    Code = SystemCode;
    Error =
        SystemCode != 0
            ? QStringLiteral("%1: %2").arg(What, Win32ErrorText(static_cast<uint32_t>(SystemCode)))
            : What;
    qCDebug(lcSerial).noquote() << Error;
    return false;
}

TSocketLink::TConnectResult TSocketLink::Connect(const QString& Host, uint16_t Port,
                                                 int TimeOutMs) {
    Error.clear();
    Code = 0;
    if (const int started = StartWinsock(); started != 0) {
        Fail(QStringLiteral("cannot start Winsock"), started);
        return TConnectResult::Failed;
    }
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
            hints.ai_protocol = IPPROTO_TCP;
            hints.ai_flags = AI_NUMERICSERV;
            addrinfo* found = nullptr;
            const int result = ::getaddrinfo(host.constData(), service.constData(), &hints, &found);
            const std::lock_guard<std::mutex> guard(lookup->Lock);
            lookup->Result = result;
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
        Fail(Win32ErrorText(static_cast<uint32_t>(result)), 0);
        Code = result;
        return result == WSAHOST_NOT_FOUND || result == WSANO_DATA || result == WSATRY_AGAIN ||
                       result == WSANO_RECOVERY
                   ? TConnectResult::NameNotFound
                   : TConnectResult::Failed;
    }
    int lastCode = 0;
    for (const addrinfo* address = lookup->Addresses; address != nullptr;
         address = address->ai_next) {
        const SOCKET handle =
            ::WSASocketW(address->ai_family, address->ai_socktype, address->ai_protocol, nullptr, 0,
                         WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
        if (handle == INVALID_SOCKET) {
            lastCode = ::WSAGetLastError();
            continue;
        }
        u_long nonBlocking = 1;
        bool connected = false;
        if (::ioctlsocket(handle, FIONBIO, &nonBlocking) != 0) {
            lastCode = ::WSAGetLastError();
        } else if (::connect(handle, address->ai_addr, static_cast<int>(address->ai_addrlen)) ==
                   0) {
            connected = true;
        } else if (const int code = ::WSAGetLastError(); code != WSAEWOULDBLOCK) {
            lastCode = code;
        } else {
            fd_set writable;
            fd_set failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(handle, &writable);
            FD_SET(handle, &failed);
            timeval left = TimeValue(TimeOutMs - clock.elapsed());
            const int ready = ::select(0, nullptr, &writable, &failed, &left);
            if (ready > 0 && FD_ISSET(handle, &writable)) {
                connected = true;
            } else if (ready > 0) {
                int pending = 0;
                int length = sizeof pending;
                ::getsockopt(handle, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&pending),
                             &length);
                lastCode = pending != 0 ? pending : WSAECONNREFUSED;
            } else {
                lastCode = ready == 0 ? WSAETIMEDOUT : ::WSAGetLastError();
            }
        }
        if (connected && SetConnectionOptions(handle)) {
            Handle = static_cast<intptr_t>(handle);
            Open = true;
            return TConnectResult::Connected;
        }
        if (connected) {
            lastCode = ::WSAGetLastError();
        }
        ::closesocket(handle);
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
        const int chunk = static_cast<int>(std::min<size_t>(Length - sent, 1 << 30));
        const int count =
            ::send(AsSocket(Handle), reinterpret_cast<const char*>(Data + sent), chunk, 0);
        if (count > 0) {
            sent += static_cast<size_t>(count);
            continue;
        }
        const int code = ::WSAGetLastError();
        if (count == SOCKET_ERROR && code != WSAEWOULDBLOCK) {
            return Fail(QStringLiteral("cannot send"), code);
        }
        const qint64 left = TimeOutMs - clock.elapsed();
        if (left <= 0) {
            return Fail(QStringLiteral("send timed out after %1 of %2 bytes").arg(sent).arg(Length),
                        0);
        }
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(AsSocket(Handle), &writable);
        timeval wait = TimeValue(left);
        if (::select(0, nullptr, &writable, nullptr, &wait) == SOCKET_ERROR) {
            return Fail(QStringLiteral("cannot wait to send"), ::WSAGetLastError());
        }
    }
    return true;
}

int TSocketLink::Receive(uint8_t* Buffer, size_t Size, int TimeOutMs) {
    if (!Open) {
        Fail(QStringLiteral("cannot receive: the connection is closed"), 0);
        return Ended;
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(AsSocket(Handle), &readable);
    timeval wait = TimeValue(TimeOutMs);
    const int ready = ::select(0, &readable, nullptr, nullptr, &wait);
    if (ready == SOCKET_ERROR) {
        Fail(QStringLiteral("cannot wait to receive"), ::WSAGetLastError());
        return Ended;
    }
    if (ready == 0) {
        return 0;
    }
    const int count = ::recv(AsSocket(Handle), reinterpret_cast<char*>(Buffer),
                             static_cast<int>(std::min<size_t>(Size, 1 << 30)), 0);
    if (count > 0) {
        return count;
    }
    if (count == 0) {
        Fail(QStringLiteral("the server closed the connection"), 0);
        return Ended;
    }
    const int code = ::WSAGetLastError();
    if (code == WSAEWOULDBLOCK) {
        return 0;
    }
    Fail(QStringLiteral("the connection failed"), code);
    return Ended;
}

void TSocketLink::Shutdown() {
    if (Open && ::shutdown(AsSocket(Handle), SD_BOTH) != 0) {
        const int code = ::WSAGetLastError();
        if (code != WSAENOTCONN) {
            Fail(QStringLiteral("cannot close the connection"), code);
        }
    }
    Open = false;
}

TSocketWait::~TSocketWait() {
    if (ReadyHandle != -1) {
        ::WSAEventSelect(AsSocket(Socket->Handle), nullptr, 0);
        ::WSACloseEvent(AsEvent(ReadyHandle));
    }
    if (WakeHandle != -1) {
        ::CloseHandle(AsEvent(WakeHandle));
    }
}

bool TSocketWait::Prepare() {
    const HANDLE stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (stop == nullptr) {
        qCDebug(lcSerial).noquote()
            << "cannot make the receive thread's stop event:" << Win32ErrorText(::GetLastError());
        return false;
    }
    WakeHandle = reinterpret_cast<intptr_t>(stop);
    const WSAEVENT ready = ::WSACreateEvent();
    if (ready == WSA_INVALID_EVENT) {
        qCDebug(lcSerial).noquote() << "cannot make the receive thread's socket event:"
                                    << Win32ErrorText(static_cast<uint32_t>(::WSAGetLastError()));
        return false;
    }
    ReadyHandle = reinterpret_cast<intptr_t>(ready);
    if (::WSAEventSelect(AsSocket(Socket->Handle), ready, FD_READ | FD_CLOSE) != 0) {
        qCDebug(lcSerial).noquote() << "cannot watch the connection:"
                                    << Win32ErrorText(static_cast<uint32_t>(::WSAGetLastError()));
        return false;
    }
    return true;
}

void TSocketWait::Wake() {
    if (WakeHandle != -1 && !::SetEvent(AsEvent(WakeHandle))) {
        qCDebug(lcSerial).noquote()
            << "cannot wake the receive thread:" << Win32ErrorText(::GetLastError());
    }
}

void TSocketWait::Abandon() {
    Wake();
    if (Socket->Handle != -1 && ::shutdown(AsSocket(Socket->Handle), SD_BOTH) != 0) {
        const int code = ::WSAGetLastError();
        if (code != WSAENOTCONN) {
            qCDebug(lcSerial).noquote() << "cannot end the receive thread's connection:"
                                        << Win32ErrorText(static_cast<uint32_t>(code));
        }
    }
}

int TSocketWait::Read(uint8_t* Buffer, size_t Size) {
    // recv first: FD_READ is signalled again only after a recv, and bytes may be waiting.
    const int count = ::recv(AsSocket(Socket->Handle), reinterpret_cast<char*>(Buffer),
                             static_cast<int>(std::min<size_t>(Size, 1 << 30)), 0);
    if (::WaitForSingleObject(AsEvent(WakeHandle), 0) == WAIT_OBJECT_0) {
        return Over;
    }
    if (count > 0) {
        return count;
    }
    if (count == 0) {
        qCDebug(lcSerial).noquote() << "receive thread ends: the server closed the connection";
        return Over;
    }
    const int code = ::WSAGetLastError();
    if (code != WSAEWOULDBLOCK) {
        qCDebug(lcSerial).noquote()
            << "receive thread ends:" << Win32ErrorText(static_cast<uint32_t>(code));
        return Over;
    }
    const HANDLE waits[2] = {AsEvent(WakeHandle), AsEvent(ReadyHandle)};
    const DWORD which = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (which == WAIT_OBJECT_0 + 1) {
        WSANETWORKEVENTS events{};
        // Resets the socket's event; the next Read's recv takes the bytes or the end.
        ::WSAEnumNetworkEvents(AsSocket(Socket->Handle), AsEvent(ReadyHandle), &events);
        return Again;
    }
    if (which != WAIT_OBJECT_0) {
        qCDebug(lcSerial).noquote()
            << "receive thread: the wait failed:" << Win32ErrorText(::GetLastError());
    }
    return Over;
}
