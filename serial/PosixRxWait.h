// TPosixRxWait: the receive thread's wait on a POSIX system: poll() on its own duplicate
// of the port's descriptor and on an eventfd that Wake writes to. Abandon puts /dev/null
// in the duplicate's place, so the port is let go while the number stays the thread's.
#pragma once

#include "serial/RxWait.h"

#include <atomic>

class TPosixRxWait final : public TRxWait {
public:
    // PortHandle: any descriptor that reads the port (a terminal, or a pipe standing in
    // for one). It is duplicated by Prepare, so it may be closed after that.
    explicit TPosixRxWait(int Port) : PortHandle(Port) {}
    ~TPosixRxWait() override;
    TPosixRxWait(const TPosixRxWait&) = delete;
    TPosixRxWait& operator=(const TPosixRxWait&) = delete;

    bool Prepare() override;
    int Read(char* Buffer, int Size) override;
    void Wake() override;
    void Abandon() override;

private:
    const int PortHandle;
    int ReadHandle = -1;
    int WakeHandle = -1;
    std::atomic<bool> Abandoned{false};
};
