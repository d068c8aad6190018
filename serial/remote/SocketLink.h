// TSocketLink: one TCP connection in the system's own sockets (POSIX sockets; Winsock on
// Windows), with every wait bounded: the name looked up and the connection made within a
// time, sends that wait for room within a time, receives that wait within a time. The
// connection gets TCP_NODELAY (a frame leaves at once, not when the last one is
// acknowledged) and keep-alive (a link that is gone without a word ends the connection).
// TSocketWait: what a receive thread waits on: bytes of the connection, or a stop.
// One file per system holds both (PosixSocketLink.cpp, Win32SocketLink.cpp).
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>

class TSocketLink {
public:
    enum class TConnectResult { Connected, NameNotFound, Unreachable, Failed };

    TSocketLink() = default;
    ~TSocketLink();
    TSocketLink(const TSocketLink&) = delete;
    TSocketLink& operator=(const TSocketLink&) = delete;

    // Looks Host up (a name, an IPv4 or IPv6 address) and connects to the first of its
    // addresses that accepts, all within TimeOutMs. NameNotFound: the name has no address
    // (or no name server answered in time); Unreachable: no address accepted (refused,
    // no route, no answer in time).
    TConnectResult Connect(const QString& Host, uint16_t Port, int TimeOutMs);
    // All of Data, waiting for room at most TimeOutMs; false on an error or when the time
    // runs out (LastError says which).
    bool Send(const uint8_t* Data, size_t Length, int TimeOutMs);
    // What arrives within TimeOutMs, at most Size bytes: their number, 0 when nothing came
    // in time, Ended when the server closed the connection or it failed (LastError).
    static constexpr int Ended = -1;
    int Receive(uint8_t* Buffer, size_t Size, int TimeOutMs);
    // Ends the connection both ways (the server sees it closed, a wait on it ends); the
    // socket itself is released when the link goes.
    void Shutdown();

    bool IsOpen() const { return Open; }
    const QString& LastError() const { return Error; }
    // The system's code of the last failure (errno, or a Winsock code); 0 when none.
    int LastCode() const { return Code; }

private:
    friend class TSocketWait;
    bool Fail(const QString& What, int SystemCode);

    intptr_t Handle = -1;
    bool Open = false;
    QString Error;
    int Code = 0;
};

class TSocketWait {
public:
    static constexpr int Again = 0;
    static constexpr int Over = -1;

    // Link stays alive as long as the wait.
    explicit TSocketWait(std::shared_ptr<TSocketLink> Link) : Socket(std::move(Link)) {}
    ~TSocketWait();
    TSocketWait(const TSocketWait&) = delete;
    TSocketWait& operator=(const TSocketWait&) = delete;

    // Makes the wake-up; false (traced) when it cannot.
    bool Prepare();
    // Waits until bytes arrive, Wake is called or the connection ends, and reads at most
    // Size bytes: their number, Again (nothing yet) or Over (woken, ended or failed).
    int Read(uint8_t* Buffer, size_t Size);
    // From any thread: ends the wait in progress and every later one.
    void Wake();
    // Wake, and ends the connection both ways (shutdown): the server sees it closed and
    // gives its line to the next client, while the socket itself stays until the wait
    // goes, so a Read still in progress meets its end, never another file.
    void Abandon();

private:
    const std::shared_ptr<TSocketLink> Socket;
    intptr_t WakeHandle = -1;  // an eventfd; on Windows the stop event
    intptr_t ReadyHandle = -1; // on Windows the socket's event; unused elsewhere
};
