// TRxWait: what the receive thread asks of the system: to wait for the next bytes of the
// port and read them, to be woken from that wait by another thread, and to let go of the
// port when the thread did not end in time. The open TSerialDevice makes it (TPosixRxWait
// on Linux: poll() on the port and an eventfd; TWin32RxWait on Windows).
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
    // From the thread that stopped the receive thread, after Wake, when the receive thread
    // did not end in time (it is held somewhere other than the wait that Wake ends: in the
    // driver, or on its way to post a chunk). Ends the wait's I/O on the port that is
    // still in progress and gives up the wait's hold on the port (its handle, descriptor
    // or connection), so that once the device is closed the port can be opened again, by
    // this program or another, while the thread lives on. Every Read after it, and one in
    // progress once it returns, is Over without touching the port.
    // - It returns within a bounded time (a few seconds at most), whatever the thread does.
    // - It is safe while Read runs on the receive thread: nothing the thread may still use
    //   is freed or reused under it (a descriptor number is replaced, not closed and given
    //   to another file; a handle is closed only where the thread cannot be using it).
    // - The object itself stays: it is leaked with the thread, never deleted while the
    //   thread runs; the destructor still runs for a thread that ended.
    // - Harmless before Prepare and when called again.
    virtual void Abandon() = 0;
};
