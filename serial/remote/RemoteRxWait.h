// TRemoteRxWait: the receive thread's wait on a remote port: the connection's bytes read
// through the system's TSocketWait and taken out of their Telnet stream, so that the
// thread sees the line's data alone. Answers of the server are left out; so is data that
// arrives before the answer to a purge (it left the line before the purge). The options
// were agreed while the port opened; a request the server makes after that is traced and
// left unanswered, as this thread never writes to the connection.
#pragma once

#include "serial/RxWait.h"
#include "serial/remote/TelnetCodec.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class TRemoteSession;
class TSocketWait;

class TRemoteRxWait final : public TRxWait {
public:
    // Early: the data the device read after the port was set up, handed on first.
    TRemoteRxWait(std::shared_ptr<TRemoteSession> Session, std::vector<uint8_t> Early);
    ~TRemoteRxWait() override;
    TRemoteRxWait(const TRemoteRxWait&) = delete;
    TRemoteRxWait& operator=(const TRemoteRxWait&) = delete;

    bool Prepare() override;
    int Read(char* Buffer, int Size) override;
    void Wake() override;
    // Ends the connection (the server frees its line); later Reads are Over.
    void Abandon() override;

private:
    const std::shared_ptr<TRemoteSession> Session;
    std::vector<uint8_t> Early;
    std::unique_ptr<TSocketWait> Wait;
    std::atomic<bool> Abandoned{false};
    std::vector<TTelnetEvent> Events;
    std::vector<TTelnetEvent> Answers;
    std::vector<TTelnetEvent> Negotiations;
};
