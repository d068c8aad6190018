// TExchangeTrace: when a harness turns it on, the moment each step of an exchange was
// reached, from the receive thread's wake-up on a reply to the write of the next request,
// on the monotonic clock that every process of the machine shares (so a simulated unit's
// own record lines up with it). Off, a step costs one atomic load (a plain load on x86).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

enum class TExchangeStep : uint8_t {
    PortWoke,         // receive thread: its wait on the port returned
    ChunkRead,        // receive thread: read returned bytes
    ChunkMade,        // receive thread: the chunk's message exists
    ChunkPosted,      // receive thread: the message is queued for the component
    DispatcherAwake,  // GUI thread: its event loop woke (a harness marks it)
    ChunkDelivered,   // GUI thread: the component has the message
    ReplyMatched,     // GUI thread: a receive condition completed
    WaitReturned,     // GUI thread: WaitForReply gave the result
    ReplyDecoded,     // GUI thread: the reply's data is out of the frame
    NextRequest,      // GUI thread: the next request begins to be made
    FrameSent,        // GUI thread: the request is made and about to be written
    WriteReturned,    // GUI thread: the write of the request returned
    DispatcherAsleep, // GUI thread: its event loop is about to block (a harness marks it)
};

struct TExchangeMark {
    TExchangeStep Step;
    int64_t Ns; // CLOCK_MONOTONIC (steady_clock) nanoseconds
};

class TExchangeTrace {
public:
    // Starts keeping up to Capacity marks, dropping earlier ones; only while no exchange is
    // in progress (a harness, before it clicks Start).
    static void Begin(size_t Capacity);
    // Stops and gives the marks kept, in the order they were taken.
    static std::vector<TExchangeMark> End();

    static void Mark(TExchangeStep Step) {
        if (On.load(std::memory_order_acquire)) {
            Keep(Step);
        }
    }

private:
    static void Keep(TExchangeStep Step);

    inline static std::atomic<bool> On{false};
    inline static std::atomic<size_t> Next{0};
    inline static size_t Capacity = 0;
    inline static std::unique_ptr<std::atomic<uint64_t>[]> Slots;
};
