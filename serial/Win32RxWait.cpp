#include "serial/Win32RxWait.h"

#include "serial/RxThread.h"
#include "serial/SerialLog.h"
#include "settings/Win32ErrorText.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

// How long the end of the wait gives the system to hand back a cancelled request.
constexpr DWORD CancelWaitMs = 2000;
// After a read that brought nothing (which a driver should not do with the port's
// time-outs), the next one waits this long on the stop event first: never a busy loop.
constexpr DWORD EmptyReadPauseMs = 10;

HANDLE AsHandle(void* Handle) {
    return static_cast<HANDLE>(Handle);
}

} // namespace

// What the system writes into while a request is pending. Kept on the heap so that
// records the system will not give back can be left to it.
struct TWin32RxWait::TRecords {
    OVERLAPPED Read{};
    OVERLAPPED Watch{};
    DWORD Mask = 0;
    char Buffer[TRxThread::ReadSize];

    TRecords() {
        Read.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        Watch.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~TRecords() {
        if (Read.hEvent != nullptr) {
            ::CloseHandle(Read.hEvent);
        }
        if (Watch.hEvent != nullptr) {
            ::CloseHandle(Watch.hEvent);
        }
    }
    TRecords(const TRecords&) = delete;
    TRecords& operator=(const TRecords&) = delete;
};

// A call the thread makes on the port: the duplicate under HandleLock, null once
// abandoned. When Abandon came during the call (and could not take the lock), the call
// closes the duplicate as it ends.
class TWin32RxWait::TPortCall {
public:
    explicit TPortCall(TWin32RxWait& Wait) : Owner(Wait), Guard(Wait.HandleLock) {}
    ~TPortCall() {
        if (Owner.Abandoned.load()) {
            Owner.CloseReadHandle();
        }
    }
    TPortCall(const TPortCall&) = delete;
    TPortCall& operator=(const TPortCall&) = delete;
    HANDLE Port() const { return AsHandle(Owner.ReadHandle); }

private:
    TWin32RxWait& Owner;
    const std::lock_guard<std::timed_mutex> Guard;
};

TWin32RxWait::~TWin32RxWait() {
    if (Records != nullptr && (ReadPending || WatchPending)) {
        // A closed duplicate has had its requests cancelled by the close.
        if (ReadHandle != nullptr) {
            ::CancelIoEx(AsHandle(ReadHandle), nullptr);
        }
        const bool readBack = !ReadPending || ::WaitForSingleObject(Records->Read.hEvent,
                                                                    CancelWaitMs) == WAIT_OBJECT_0;
        const bool watchBack =
            !WatchPending ||
            ::WaitForSingleObject(Records->Watch.hEvent, CancelWaitMs) == WAIT_OBJECT_0;
        if (!readBack || !watchBack) {
            qCDebug(lcSerial).noquote() << "receive thread: the driver kept a cancelled request; "
                                           "its records are left to it";
            Records = nullptr;
        }
    }
    delete Records;
    CloseReadHandle();
    if (StopEvent != nullptr) {
        ::CloseHandle(AsHandle(StopEvent));
    }
}

void TWin32RxWait::CloseReadHandle() {
    if (ReadHandle != nullptr && !::CloseHandle(AsHandle(ReadHandle))) {
        qCDebug(lcSerial).noquote() << "receive thread: cannot close its handle of the port:"
                                    << Win32ErrorText(::GetLastError());
    }
    ReadHandle = nullptr;
}

bool TWin32RxWait::Prepare() {
    HANDLE duplicate = nullptr;
    const HANDLE self = ::GetCurrentProcess();
    if (!::DuplicateHandle(self, AsHandle(PortHandle), self, &duplicate, 0, FALSE,
                           DUPLICATE_SAME_ACCESS)) {
        qCDebug(lcSerial).noquote()
            << "cannot give the receive thread the port:" << Win32ErrorText(::GetLastError());
        return false;
    }
    ReadHandle = duplicate;
    StopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Records = new TRecords;
    if (StopEvent == nullptr || Records->Read.hEvent == nullptr ||
        Records->Watch.hEvent == nullptr) {
        qCDebug(lcSerial).noquote()
            << "cannot make the receive thread's events:" << Win32ErrorText(::GetLastError());
        return false;
    }
    // Line errors only: the read itself reports the bytes.
    if (!::SetCommMask(AsHandle(ReadHandle), EV_ERR)) {
        qCDebug(lcSerial).noquote()
            << "receive thread: line errors cannot be watched:" << Win32ErrorText(::GetLastError());
        Watching = false;
    }
    return true;
}

void TWin32RxWait::Wake() {
    if (StopEvent != nullptr && !::SetEvent(AsHandle(StopEvent))) {
        qCDebug(lcSerial).noquote()
            << "cannot wake the receive thread:" << Win32ErrorText(::GetLastError());
    }
}

void TWin32RxWait::Abandon() {
    if (StopEvent == nullptr || Abandoned.load()) {
        return; // not prepared, or abandoned already
    }
    // What is pending on the port ends first, while the duplicate is certainly open: only
    // this and the thread, once it sees Abandoned, close it.
    if (ReadHandle != nullptr && !::CancelIoEx(AsHandle(ReadHandle), nullptr) &&
        ::GetLastError() != ERROR_NOT_FOUND) {
        qCDebug(lcSerial).noquote()
            << "receive thread: cannot cancel its requests:" << Win32ErrorText(::GetLastError());
    }
    Abandoned.store(true);
    Wake();
    if (!HandleLock.try_lock_for(std::chrono::milliseconds(CancelWaitMs))) {
        qCDebug(lcSerial).noquote() << "receive thread: held in a call on the port; it lets go "
                                       "of the port when that call returns";
        return;
    }
    CloseReadHandle();
    HandleLock.unlock();
}

bool TWin32RxWait::Stopped() const {
    return ::WaitForSingleObject(AsHandle(StopEvent), 0) == WAIT_OBJECT_0;
}

int TWin32RxWait::Read(char* Buffer, int Size) {
    const int size = std::clamp(Size, 1, TRxThread::ReadSize);
    for (;;) {
        if (Abandoned.load() || Stopped()) {
            return Over;
        }
        if (EmptyReads > 0 &&
            ::WaitForSingleObject(AsHandle(StopEvent), EmptyReadPauseMs) == WAIT_OBJECT_0) {
            return Over;
        }
        StartWatch();
        int ready = 0;
        if (!StartRead(size, ready)) {
            return Over;
        }
        if (ready > 0) {
            std::memcpy(Buffer, Records->Buffer, static_cast<size_t>(ready));
            return ready;
        }
        if (!ReadPending) {
            continue; // it completed at once without bytes
        }
        const HANDLE waits[3] = {AsHandle(StopEvent), Records->Read.hEvent, Records->Watch.hEvent};
        const DWORD count = WatchPending ? 3 : 2;
        const DWORD which = ::WaitForMultipleObjects(count, waits, FALSE, INFINITE);
        if (which == WAIT_OBJECT_0) {
            return Over;
        }
        if (which == WAIT_OBJECT_0 + 1) {
            const int got = ReadDone(Buffer, size);
            if (got != 0) {
                return got;
            }
            continue;
        }
        if (which == WAIT_OBJECT_0 + 2) {
            if (!WatchDone()) {
                return Over;
            }
            continue;
        }
        qCDebug(lcSerial).noquote()
            << "receive thread: the wait failed:" << Win32ErrorText(::GetLastError());
        return Over;
    }
}

bool TWin32RxWait::StartRead(int Size, int& Ready) {
    Ready = 0;
    if (ReadPending) {
        return true;
    }
    ::ResetEvent(Records->Read.hEvent);
    const TPortCall call(*this);
    if (call.Port() == nullptr) {
        return false;
    }
    DWORD count = 0;
    if (::ReadFile(call.Port(), Records->Buffer, static_cast<DWORD>(Size), &count,
                   &Records->Read)) {
        Ready = static_cast<int>(count);
        EmptyReads = count == 0 ? EmptyReads + 1 : 0;
        return true;
    }
    const DWORD code = ::GetLastError();
    if (code == ERROR_IO_PENDING) {
        ReadPending = true;
        return true;
    }
    if (!Stopped()) {
        qCDebug(lcSerial).noquote() << "receive thread ends: cannot read:" << Win32ErrorText(code);
    }
    return false;
}

int TWin32RxWait::ReadDone(char* Buffer, int Size) {
    ReadPending = false;
    DWORD count = 0;
    const TPortCall call(*this);
    if (call.Port() == nullptr ||
        !::GetOverlappedResult(call.Port(), &Records->Read, &count, FALSE)) {
        // An unplugged adapter fails its reads (access denied, a bad command, the read
        // aborted): the line is gone.
        const DWORD code = ::GetLastError();
        if (!Stopped()) {
            qCDebug(lcSerial).noquote()
                << "receive thread ends: the read failed:" << Win32ErrorText(code);
        }
        return Over;
    }
    if (count == 0) {
        ++EmptyReads;
        return 0;
    }
    EmptyReads = 0;
    const int got = std::min(static_cast<int>(count), Size);
    std::memcpy(Buffer, Records->Buffer, static_cast<size_t>(got));
    return got;
}

void TWin32RxWait::StartWatch() {
    while (Watching && !WatchPending) {
        ::ResetEvent(Records->Watch.hEvent);
        Records->Mask = 0;
        const TPortCall call(*this);
        if (call.Port() == nullptr) {
            return; // abandoned: the read ends the wait
        }
        if (::WaitCommEvent(call.Port(), &Records->Mask, &Records->Watch)) {
            // An event was waiting already: take it, then arm again.
            if (!(Records->Mask & EV_ERR)) {
                Watching = false;
                break;
            }
            DWORD errors = 0;
            if (!::ClearCommError(call.Port(), &errors, nullptr)) {
                Watching = false;
            }
            continue;
        }
        const DWORD code = ::GetLastError();
        if (code == ERROR_IO_PENDING) {
            WatchPending = true;
            break;
        }
        // The reads go on; an adapter that is gone fails them too.
        qCDebug(lcSerial).noquote()
            << "receive thread: line errors cannot be watched:" << Win32ErrorText(code);
        Watching = false;
    }
}

bool TWin32RxWait::WatchDone() {
    WatchPending = false;
    DWORD unused = 0;
    const TPortCall call(*this);
    if (call.Port() == nullptr) {
        return false;
    }
    if (!::GetOverlappedResult(call.Port(), &Records->Watch, &unused, FALSE)) {
        // Wine ends this wait at once on a pseudo-terminal, with ERROR_OPERATION_ABORTED and
        // no event (it cannot watch a pty's lines); a stop ends it the same way. Either way
        // the reads go on, or end, by themselves.
        const DWORD code = ::GetLastError();
        if (!Stopped()) {
            qCDebug(lcSerial).noquote()
                << QStringLiteral("receive thread: the wait for line errors ended (%1); reading "
                                  "on without it")
                       .arg(Win32ErrorText(code));
        }
        Watching = false;
        return true;
    }
    if (!(Records->Mask & EV_ERR)) {
        qCDebug(lcSerial).noquote() << "receive thread: the line reported events" << Records->Mask
                                    << "that were not asked for; reading on without the watch";
        Watching = false;
        return true;
    }
    DWORD errors = 0;
    if (!::ClearCommError(call.Port(), &errors, nullptr)) {
        qCDebug(lcSerial).noquote() << "receive thread ends: cannot clear the line error:"
                                    << Win32ErrorText(::GetLastError());
        return false;
    }
    qCDebug(lcSerial).noquote() << "receive thread: line error" << errors << "cleared";
    return true;
}
