// The requests to stop on Windows. Ctrl+C and Ctrl+Break stop a run as SIGINT and SIGTERM
// do elsewhere; so do the console window closed, the user logging off and the system
// shutting down, for which the system ends the program as soon as the handler returns: the
// handler then waits, as long as the system lets it, for the run to end where the unit can
// be left. The console's control events bring Ctrl+C, Ctrl+Break and the close; log-off and
// shutdown reach a program that has loaded user32 (Qt does) only as the session's
// messages to its top-level windows (WM_QUERYENDSESSION, then WM_ENDSESSION), so a hidden
// window on a thread of its own takes them. Either handler runs off the GUI thread; it only
// queues the request to it, and waits there when the program is about to be ended.
#include "cli/SignalPipe.h"

#include <QMetaObject>

#include <windows.h>

#include <future>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// How long a close, log-off or shutdown waits for the run to end (the system ends the
// program after its own time-out, about 5 s for a close, whatever this says).
constexpr DWORD EndWaitMs = 30000;
// The hidden window's class; tests find the window by it.
constexpr wchar_t EndSessionClass[] = L"BootloadEndSession";

std::mutex Lock;
TSignalPipe* Instance = nullptr; // under Lock
HANDLE Ended = nullptr;          // set when the pipe goes

// Queues the request Name to the GUI thread; the event that is set when the pipe goes, or
// null when there is no pipe to take the request.
HANDLE QueueRequest(const char* Name) {
    const std::lock_guard<std::mutex> guard(Lock);
    if (Instance == nullptr) {
        return nullptr;
    }
    TSignalPipe* pipe = Instance;
    const QString text = QString::fromLatin1(Name);
    // Dropped with the pipe if it goes before the GUI thread gets to it.
    QMetaObject::invokeMethod(
        pipe, [pipe, text] { emit pipe->Received(text); }, Qt::QueuedConnection);
    return Ended;
}

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
    const HANDLE ended = QueueRequest(name);
    if (ended == nullptr) {
        return FALSE;
    }
    if (Type != CTRL_C_EVENT && Type != CTRL_BREAK_EVENT) {
        ::WaitForSingleObject(ended, EndWaitMs);
    }
    return TRUE;
}

const char* SessionEndName(LPARAM Flags) {
    return (Flags & ENDSESSION_LOGOFF) != 0 ? "log-off" : "shutdown";
}

LRESULT CALLBACK OnSessionMessage(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
    switch (Message) {
    case WM_QUERYENDSESSION:
        // The session may end: the run stops as it does for Ctrl+C. The session is not
        // held up here; it is at WM_ENDSESSION, for the run to get to its end.
        QueueRequest(SessionEndName(LParam));
        return TRUE;
    case WM_ENDSESSION:
        if (WParam != FALSE) {
            // It ends when this returns: the request again (a later one changes nothing),
            // in case the query went to another program that refused it first.
            if (const HANDLE ended = QueueRequest(SessionEndName(LParam))) {
                ::WaitForSingleObject(ended, EndWaitMs);
            }
        }
        return 0;
    case WM_CLOSE:
        ::DestroyWindow(Window);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcW(Window, Message, WParam, LParam);
    }
}

// The hidden window's thread: makes the window, tells Made whether it could, and runs its
// messages until the window is closed.
void RunSessionWindow(std::promise<HWND> Made) {
    const HINSTANCE module = ::GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = OnSessionMessage;
    windowClass.hInstance = module;
    windowClass.lpszClassName = EndSessionClass;
    if (::RegisterClassW(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        Made.set_value(nullptr);
        return;
    }
    // A top-level window, never shown: message-only windows get no session messages.
    const HWND window = ::CreateWindowExW(0, EndSessionClass, L"", WS_OVERLAPPED, 0, 0, 0, 0,
                                          nullptr, nullptr, module, nullptr);
    Made.set_value(window);
    if (window == nullptr) {
        return;
    }
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

std::thread SessionThread; // under Lock while made or joined
HWND SessionWindow = nullptr;

// Starts the hidden window's thread; false when the window cannot be made.
bool StartSessionWindow() {
    std::promise<HWND> made;
    std::future<HWND> window = made.get_future();
    try {
        SessionThread = std::thread(RunSessionWindow, std::move(made));
    } catch (const std::system_error&) {
        return false;
    }
    SessionWindow = window.get();
    if (SessionWindow == nullptr) {
        SessionThread.join();
        return false;
    }
    return true;
}

void StopSessionWindow() {
    if (!SessionThread.joinable()) {
        return;
    }
    // The window's thread may be waiting in WM_ENDSESSION: Ended is set first, by the
    // caller. A window that cannot be posted to is gone, and its thread with it.
    (void)::PostMessageW(SessionWindow, WM_CLOSE, 0, 0);
    SessionThread.join();
    SessionWindow = nullptr;
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
    // Without the window (a system without a display driver, as Wine without X) the
    // console's events still stop a run; log-off and shutdown then end it unasked.
    (void)StartSessionWindow();
    Instance = this;
    Ready = true;
}

TSignalPipe::~TSignalPipe() {
    if (!Ready) {
        return;
    }
    ::SetConsoleCtrlHandler(OnControl, FALSE);
    {
        const std::lock_guard<std::mutex> guard(Lock);
        Instance = nullptr;
        // A handler still waiting returns now; the event itself stays, as it may yet look.
        ::SetEvent(Ended);
    }
    StopSessionWindow();
}
