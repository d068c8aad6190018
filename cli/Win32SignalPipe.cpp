// The requests to stop on Windows: the console's control events. Ctrl+C and Ctrl+Break
// stop a run as SIGINT and SIGTERM do elsewhere; so do the console window closed, the user
// logging off and the system shutting down, for which the system ends the program as soon
// as the handler returns: the handler then waits, as long as the system lets it, for the
// run to end where the unit can be left. The handler runs on a thread of the system's; it
// only queues the request to the GUI thread.
#include "cli/SignalPipe.h"

#include <QMetaObject>

#include <windows.h>

#include <mutex>

namespace {

// How long a close, log-off or shutdown waits for the run to end (the system ends the
// program after its own time-out, about 5 s for a close, whatever this says).
constexpr DWORD EndWaitMs = 30000;

std::mutex Lock;
TSignalPipe* Instance = nullptr; // under Lock
HANDLE Ended = nullptr;          // set when the pipe goes

const char* EventName(DWORD Type) {
    switch (Type) {
    case CTRL_C_EVENT:
        return "Ctrl+C";
    case CTRL_BREAK_EVENT:
        return "Ctrl+Break";
    case CTRL_CLOSE_EVENT:
        return "console closed";
    case CTRL_LOGOFF_EVENT:
        return "log-off";
    case CTRL_SHUTDOWN_EVENT:
        return "shutdown";
    default:
        return nullptr;
    }
}

BOOL WINAPI OnControl(DWORD Type) {
    const char* name = EventName(Type);
    if (name == nullptr) {
        return FALSE;
    }
    HANDLE ended = nullptr;
    {
        const std::lock_guard<std::mutex> guard(Lock);
        if (Instance == nullptr) {
            return FALSE;
        }
        TSignalPipe* pipe = Instance;
        const QString text = QString::fromLatin1(name);
        // Dropped with the pipe if it goes before the GUI thread gets to it.
        QMetaObject::invokeMethod(
            pipe, [pipe, text] { emit pipe->Received(text); }, Qt::QueuedConnection);
        ended = Ended;
    }
    if (Type != CTRL_C_EVENT && Type != CTRL_BREAK_EVENT && ended != nullptr) {
        ::WaitForSingleObject(ended, EndWaitMs);
    }
    return TRUE;
}

} // namespace

TSignalPipe::TSignalPipe(QObject* Parent) : QObject(Parent) {
    const std::lock_guard<std::mutex> guard(Lock);
    if (Instance != nullptr) {
        return; // one at a time: the console has one set of requests
    }
    Ended = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (Ended == nullptr) {
        return;
    }
    if (!::SetConsoleCtrlHandler(OnControl, TRUE)) {
        ::CloseHandle(Ended);
        Ended = nullptr;
        return;
    }
    Instance = this;
    Ready = true;
}

TSignalPipe::~TSignalPipe() {
    if (!Ready) {
        return;
    }
    ::SetConsoleCtrlHandler(OnControl, FALSE);
    const std::lock_guard<std::mutex> guard(Lock);
    Instance = nullptr;
    // A handler still waiting returns now; the event itself stays, as it may yet look.
    ::SetEvent(Ended);
}
