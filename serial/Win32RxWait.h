// TWin32RxWait: the receive thread's wait on Windows. On its own duplicate of the port's
// handle it keeps an overlapped ReadFile pending and, while the line allows it, an
// overlapped WaitCommEvent for line errors (EV_ERR, cleared with ClearCommError), and waits
// for either or for its stop event (manual-reset: once Wake has set it, every later wait
// ends at once, so a stop is never lost). A read that fails ends the wait for good (the
// adapter was unplugged); a line-event wait that the system ends without an event (Wine
// does so at once on a pseudo-terminal) only stops the watch for line errors. Abandon
// cancels what is pending and closes the duplicate, under the lock the thread holds for each
// call it makes on it, so the thread never uses a handle value that was closed.
#pragma once

#include "serial/RxWait.h"

#include <atomic>
#include <mutex>

class TWin32RxWait final : public TRxWait {
public:
    // Port: the open port's HANDLE. It is duplicated by Prepare, so it may be closed after.
    explicit TWin32RxWait(void* Port) : PortHandle(Port) {}
    // Cancels what is still pending and waits (bounded) for the system to give the records
    // back; records it keeps are left to it.
    ~TWin32RxWait() override;
    TWin32RxWait(const TWin32RxWait&) = delete;
    TWin32RxWait& operator=(const TWin32RxWait&) = delete;

    bool Prepare() override;
    int Read(char* Buffer, int Size) override;
    void Wake() override;
    void Abandon() override;

private:
    struct TRecords;
    class TPortCall;

    bool Stopped() const;
    // Starts the read unless one is pending; a read that completes at once leaves its
    // count in Ready. False when the read fails.
    bool StartRead(int Size, int& Ready);
    // Arms the watch for line errors unless it is armed or given up; a watch the line
    // cannot keep is given up (Watching false), and the reads go on.
    void StartWatch();
    // The watch's completion: a line error is cleared (the watch is armed again at the
    // next Read); an ended wait gives the watch up. False when clearing the error fails.
    bool WatchDone();
    // The completed read's bytes copied into Buffer: their number, 0 for none, or Over
    // when the read failed.
    int ReadDone(char* Buffer, int Size);

    // Closes the duplicate; under HandleLock.
    void CloseReadHandle();

    void* const PortHandle;
    // The duplicate the thread reads; closed (null) by Abandon or by the thread's call under
    // way when Abandon came. Used and changed under HandleLock once the thread runs.
    void* ReadHandle = nullptr;
    std::timed_mutex HandleLock;
    std::atomic<bool> Abandoned{false};
    void* StopEvent = nullptr;
    TRecords* Records = nullptr;
    bool ReadPending = false;
    bool WatchPending = false;
    bool Watching = true;
    int EmptyReads = 0;
};
