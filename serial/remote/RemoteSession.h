// TRemoteSession: what a remote port's device and its receive thread share: the
// connection, the state of its Telnet stream, the data that came before the thread began,
// and the purges whose answer is still to come. The device uses it while it opens and
// sets up the port, the receive thread after that; Purge counts from either side.
#pragma once

#include "serial/remote/ComPortOption.h"
#include "serial/remote/SocketLink.h"
#include "serial/remote/TelnetCodec.h"
#include "serial/remote/TelnetOptions.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class TRemoteSession {
public:
    const std::shared_ptr<TSocketLink> Link = std::make_shared<TSocketLink>();
    TTelnetDecoder Decoder;
    TTelnetOptions Options;
    // Data bytes the device read after the port was set up; the receive thread hands them
    // on before anything it reads itself.
    std::vector<uint8_t> Early;

    // A purge is sent: once the server is known to answer purges, the data that arrives
    // before its answer left the line before the purge, and is dropped.
    void NotePurgeSent();
    // Whether the server answers PURGE-DATA (it answered the first one).
    bool AnswersPurges() const { return PurgeAnswers.load(); }

    // Goes through what Decode gave (Length data bytes at the front of Data, and Events):
    // keeps the data that is not dropped for a purge (moved to the front of Data; the
    // number returned), counts the purge answers, and appends to Answers the other
    // COM-PORT-OPTION answers and to Negotiations the server's option requests, each
    // with the number of kept data bytes before it as its DataOffset.
    size_t Sort(uint8_t* Data, size_t Length, const std::vector<TTelnetEvent>& Events,
                std::vector<TTelnetEvent>& Answers, std::vector<TTelnetEvent>& Negotiations);

private:
    void NotePurgeAnswer();
    std::atomic<bool> PurgeAnswers{false};
    // Purges sent while the server was known to answer them, whose answer has not come.
    std::atomic<int> PurgesAwaited{0};
};
