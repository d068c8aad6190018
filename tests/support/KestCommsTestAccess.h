// Reaches the component's receive path without a port, so that the ring buffer and the
// copy-out can be driven with many streams quickly; drives the reply timer tick by tick;
// tells whether the receive thread still runs.
#pragma once

#include "serial/KestComms.h"
#include "serial/RxThread.h"

#include <QTimer>

#include <cstdint>
#include <vector>

class TKestCommsTestAccess {
public:
    // A receive buffer of Size bytes, cleared, as Open leaves it.
    static void PrepareBuffer(TKestComms& Comms, uint16_t Size) {
        Comms.RxBuffer.assign(Size, 0);
        Comms.ClearRxBuffer();
        Comms.ReplyState = -1;
    }
    static void Feed(TKestComms& Comms, const std::vector<uint8_t>& Bytes) {
        Comms.ProcessRxBytes(Bytes.data(), static_cast<int>(Bytes.size()));
    }
    static uint64_t Session(const TKestComms& Comms) { return Comms.Session; }
    static size_t BufferSize(const TKestComms& Comms) { return Comms.RxBuffer.size(); }

    // One tick of the reply timer, as its timeout runs it.
    static void Tick(TKestComms& Comms) { Comms.TimerTick(); }
    // Whether the reply time-out has expired since the last SendFrame.
    static bool TimedOut(const TKestComms& Comms) { return Comms.TimeOutEvent; }
    static QTimer& ReplyTimer(TKestComms& Comms) { return *Comms.ReplyTimer; }
    // True while a receive thread of the open port is running.
    static bool RxThreadRunning(const TKestComms& Comms) {
        return Comms.RxThread != nullptr && !Comms.RxThread->HasEnded();
    }
};
