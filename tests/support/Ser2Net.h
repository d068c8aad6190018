// A real RFC 2217 device server for tests: Debian's ser2net, started as a child process
// (in the foreground, with its own configuration and pid file) with one line on a free TCP
// port of 127.0.0.1, in front of a serial device (a simulated unit's pty) or of any other
// connector ser2net knows. Configured as a plant would be for speed: no waiting for more
// characters before sending (chardelay: false) and no Nagle delay.
#pragma once

#include "ChildProcess.h"

#include <QTemporaryDir>

#include <cstdint>
#include <memory>
#include <string>

class TSer2Net {
public:
    // The connector of a serial device at 9,600 baud, 8N1, modem lines ignored.
    static std::string SerialConnector(const std::string& Device);

    // Nothing runs until Start.
    explicit TSer2Net(std::string Connector);
    ~TSer2Net(); // kills it
    TSer2Net(const TSer2Net&) = delete;
    TSer2Net& operator=(const TSer2Net&) = delete;

    // Starts it and waits (bounded) until it listens; the first Start takes a free port,
    // a later one the same port again. False: see LastError.
    bool Start();
    // Ends it at once with SIGKILL, as a crash or a power cut would (its clients' next
    // read sees the end of the connection, their next write fails).
    void Kill();
    // Stops it (SIGSTOP) and lets it go on (SIGCONT): while stopped it forwards nothing,
    // then everything at once, as a server that stalled or a link that was gone a while.
    void Pause();
    void Resume();
    std::string LastError() const { return Error; }

    uint16_t Port() const { return TcpPort; }
    // "rfc2217://127.0.0.1:PORT"
    std::string Url() const;

private:
    const std::string Connector;
    QTemporaryDir Dir;
    uint16_t TcpPort = 0;
    std::unique_ptr<TChildProcess> Server;
    std::string Error;
};
