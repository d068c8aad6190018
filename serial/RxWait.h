// TRxWait: what the receive thread asks of the system: to wait for the next bytes of the
// port and read them, and to be woken from that wait by another thread. The open
// TSerialDevice makes it (TPosixRxWait on Linux: poll() on the port and an eventfd).
#pragma once

class TRxWait {
public:
    // Read's results other than a number of bytes read.
    static constexpr int Again = 0; // nothing read (interrupted): wait again
    static constexpr int Over = -1; // woken, or the port is gone (traced): wait no more

    TRxWait() = default;
    virtual ~TRxWait() = default;
    TRxWait(const TRxWait&) = delete;
    TRxWait& operator=(const TRxWait&) = delete;

    // Takes the wait's own hold on the port and makes its wake-up, on the thread that
    // starts the receive thread; false (traced) when any of that fails.
    virtual bool Prepare() = 0;
    // On the receive thread: waits until bytes arrive, Wake is called or the port ends,
    // and reads at most Size bytes into Buffer. The number read, Again or Over.
    virtual int Read(char* Buffer, int Size) = 0;
    // From any other thread: ends the wait in progress and makes every later one Over;
    // harmless before Prepare.
    virtual void Wake() = 0;
};
