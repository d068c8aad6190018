// What Windows can do to the program's own files, locks, session and port, under Wine: the
// faults Wine cannot bring about itself are brought in through the seams the code has for
// them (the save's ReplaceFileW, the session's messages sent to the hidden window). Checks,
// one line each on standard output; exit status 0 when all pass.
//   save-1176      ReplaceFileW fails after the old file is gone: the new one is put in place
//   save-1177      it fails with the old file under the backup name: the new one in place
//   save-crashed   files a crashed save left are removed by the next save, others' kept
//   lock-file      a lock file that is there but cannot be opened is not passed over
//   session-end    log-off and shutdown reach the run as requests to stop
//   rx-abandon     a receive thread that Stop gave up on lets go of the port
//   rx-priority    the receive thread reads at THREAD_PRIORITY_HIGHEST
//
//   bootload_system_fault_check DIR      (DIR: an empty folder for its files)
//   bootload_system_fault_check --exit   (ends at once: a process that has ended)
#include "cli/SignalPipe.h"
#include "serial/RxThread.h"
#include "serial/Win32RxWait.h"
#include "settings/FileReplace.h"
#include "settings/SettingsLock.h"
#include "settings/Win32FileReplace.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

constexpr int BoundMs = 10000;

int Failures = 0;

void Check(const char* Name, bool Passed, const QString& Detail) {
    std::printf("%s %s: %s\n", Passed ? "PASS" : "FAIL", Name, qPrintable(Detail));
    std::fflush(stdout);
    Failures += Passed ? 0 : 1;
}

const wchar_t* Wide(const QString& Path) {
    return reinterpret_cast<const wchar_t*>(Path.utf16());
}

QByteArray Content(const QString& Path) {
    QFile file(Path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool Write(const QString& Path, const QByteArray& Bytes) {
    QFile file(Path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(Bytes) == Bytes.size();
}

// The save's files beside the settings file (".Bootload.Ini.*").
QStringList SaveFiles(const QString& Dir) {
    return QDir(Dir).entryList({QStringLiteral(".Bootload.Ini.*")}, QDir::Files | QDir::Hidden);
}

// ReplaceFileW as Windows fails it: with 1176 once it has removed the old file (what it does
// without a backup name), with 1177 once it has moved the old file to the backup name.
int FailAfterRemoving(const wchar_t* Replaced, const wchar_t*, const wchar_t*) {
    ::DeleteFileW(Replaced);
    ::SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT);
    return FALSE;
}
QString MovedAway;
int FailAfterMoving(const wchar_t* Replaced, const wchar_t*, const wchar_t* Backup) {
    ::MoveFileW(Replaced, Backup != nullptr ? Backup : Wide(MovedAway));
    ::SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT_2);
    return FALSE;
}

void CheckFailedReplace(const char* Name, const QString& Dir, TReplaceFileCall Call) {
    const QString ini = QDir(Dir).filePath(QStringLiteral("Bootload.Ini"));
    MovedAway = QDir::toNativeSeparators(QDir(Dir).filePath(QStringLiteral("moved-away")));
    Write(ini, "[Options]\r\nComms_Port=3\r\n");
    SetReplaceFileCall(Call);
    QString error;
    const bool saved = ReplaceFileContent(ini, "[Options]\r\nComms_Port=4\r\n", &error);
    SetReplaceFileCall(nullptr);
    const QByteArray now = Content(ini);
    Check(Name, saved && now.contains("Comms_Port=4") && SaveFiles(Dir).isEmpty(),
          QStringLiteral("saved %1 (%2), the file holds %3, left beside it: %4")
              .arg(saved)
              .arg(error, QString::fromLatin1(now).simplified(),
                   SaveFiles(Dir).join(QLatin1Char(' '))));
    QFile::remove(ini);
    QFile::remove(MovedAway);
}

// The id of a process that has ended: this program started once more with --exit.
DWORD EndedProcessId() {
    wchar_t self[MAX_PATH];
    if (::GetModuleFileNameW(nullptr, self, MAX_PATH) == 0) {
        return 0;
    }
    wchar_t line[MAX_PATH + 16];
    std::swprintf(line, MAX_PATH + 16, L"\"%ls\" --exit", self);
    STARTUPINFOW start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start,
                          &process)) {
        return 0;
    }
    ::WaitForSingleObject(process.hProcess, BoundMs);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return process.dwProcessId;
}

void CheckCrashedSave(const QString& Dir) {
    const QString ini = QDir(Dir).filePath(QStringLiteral("Bootload.Ini"));
    Write(ini, "[Options]\r\nComms_Port=3\r\n");
    const DWORD ended = EndedProcessId();
    const QString crashed = QStringLiteral(".Bootload.Ini.%1-0123456789abcdef.tmp").arg(ended);
    const QString crashedBackup =
        QStringLiteral(".Bootload.Ini.%1-0123456789abcdef.bak").arg(ended);
    const QString running =
        QStringLiteral(".Bootload.Ini.%1-fedcba9876543210.tmp").arg(::GetCurrentProcessId());
    for (const QString& name : {crashed, crashedBackup, running}) {
        Write(QDir(Dir).filePath(name), "[Options]\r\nComms_Port=9\r\n");
    }
    QString error;
    const bool saved = ReplaceFileContent(ini, "[Options]\r\nComms_Port=4\r\n", &error);
    const QStringList left = SaveFiles(Dir);
    Check("save-crashed",
          ended != 0 && saved && left == QStringList{running} && Content(ini).contains("=4"),
          QStringLiteral("ended process %1, saved %2 (%3), left: %4")
              .arg(ended)
              .arg(saved)
              .arg(error, left.join(QLatin1Char(' '))));
    QFile::remove(QDir(Dir).filePath(running));
    QFile::remove(ini);
}

void CheckLockFile(const QString& Dir) {
    const QString ini = QDir(Dir).filePath(QStringLiteral("Bootload.Ini"));
    Write(ini, "[Options]\r\nComms_Port=3\r\n");
    // There, and opening it is refused (access denied), as for a file of another user's
    // that others lock: the settings file is no lock of theirs.
    QDir(Dir).mkdir(QStringLiteral("Bootload.Ini.lock"));
    TSettingsLock lock;
    QString error;
    const bool taken = lock.Take(ini, TLockMode::Exclusive, 200, &error);
    Check("lock-file", !taken && error.contains(QStringLiteral("Bootload.Ini.lock")),
          taken ? QStringLiteral("taken (on %1)").arg(ini) : error);
    QDir(Dir).rmdir(QStringLiteral("Bootload.Ini.lock"));
    QFile::remove(ini);
}

// The requests the pipe passes on, waited for at most BoundMs.
QStringList RequestsWithin(TSignalPipe& Pipe, int Count) {
    QStringList names;
    QEventLoop loop;
    const QMetaObject::Connection connection =
        QObject::connect(&Pipe, &TSignalPipe::Received, &loop, [&](const QString& Name) {
            names << Name;
            if (names.size() >= Count) {
                loop.quit();
            }
        });
    QTimer::singleShot(BoundMs, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(connection);
    return names;
}

void CheckSessionEnd() {
    QElapsedTimer clock;
    QStringList names;
    bool answered = false;
    qint64 goneMs = -1;
    bool ready = false;
    HWND window = nullptr;
    {
        auto pipe = std::make_unique<TSignalPipe>();
        ready = pipe->IsReady();
        window = ::FindWindowW(L"BootloadEndSession", nullptr);
        if (ready && window != nullptr) {
            DWORD_PTR result = 0;
            answered = ::SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF,
                                             SMTO_BLOCK, BoundMs, &result) != 0 &&
                       result == TRUE;
            names << RequestsWithin(*pipe, 1);
            // The session ends: the window holds it until the run has ended, that is
            // until the pipe goes.
            ::PostMessageW(window, WM_ENDSESSION, TRUE, 0);
            names << RequestsWithin(*pipe, 1);
            clock.start();
            pipe.reset();
            goneMs = clock.elapsed();
        }
    }
    Check("session-end",
          answered && names == QStringList{QStringLiteral("log-off"), QStringLiteral("shutdown")} &&
              goneMs >= 0 && goneMs < BoundMs,
          QStringLiteral("pipe ready %1, window %2, query answered %3, requests: %4, the pipe "
                         "went in %5 ms")
              .arg(ready)
              .arg(window != nullptr ? QStringLiteral("found")
                                     : QStringLiteral("not found (error %1)").arg(::GetLastError()))
              .arg(answered)
              .arg(names.join(QLatin1String(", ")))
              .arg(goneMs));
}

// The receive thread's chunk hook: holds the thread until released (or the bound passes).
struct THold {
    std::mutex Lock;
    std::condition_variable Changed;
    bool Entered = false;
    bool Released = false;
} Hold;

void HoldThread() {
    std::unique_lock<std::mutex> lock(Hold.Lock);
    Hold.Entered = true;
    Hold.Changed.notify_all();
    Hold.Changed.wait_for(lock, std::chrono::milliseconds(BoundMs), [] { return Hold.Released; });
}

// A named pipe that plays a port (the receive thread's wait reads it as it reads a COM
// port, without line events), and the far end that writes to it; false, the check failed,
// when either cannot be made.
bool OpenPipePort(const char* CheckName, const wchar_t* Name, HANDLE& Port, HANDLE& FarEnd) {
    Port = ::CreateNamedPipeW(Name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE, 1,
                              0, 4096, 0, nullptr);
    FarEnd = ::CreateFileW(Name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (Port == INVALID_HANDLE_VALUE || FarEnd == INVALID_HANDLE_VALUE) {
        Check(CheckName, false, QStringLiteral("no pipe: error %1").arg(::GetLastError()));
        return false;
    }
    return true;
}

// The pipe plays the port: once the thread is held and Stop has given up on it, closing the
// program's own handle must close the pipe, so that the far end's writes fail.
void CheckRxAbandon() {
    HANDLE port = nullptr;
    HANDLE farEnd = nullptr;
    if (!OpenPipePort("rx-abandon", L"\\\\.\\pipe\\bootload-rx-abandon", port, farEnd)) {
        return;
    }
    QObject component;
    TRxThread::SetChunkHook(HoldThread);
    auto thread = std::make_unique<TRxThread>(std::make_unique<TWin32RxWait>(port), &component, 1);
    DWORD written = 0;
    bool held = false;
    bool gaveUp = false;
    if (thread->Begin() && ::WriteFile(farEnd, "x", 1, &written, nullptr)) {
        std::unique_lock<std::mutex> lock(Hold.Lock);
        held = Hold.Changed.wait_for(lock, std::chrono::milliseconds(BoundMs),
                                     [] { return Hold.Entered; });
    }
    if (held) {
        gaveUp = !thread->Stop(50);
    }
    ::CloseHandle(port);
    const bool farWrites = ::WriteFile(farEnd, "y", 1, &written, nullptr) != FALSE;
    const DWORD farError = ::GetLastError();
    {
        const std::lock_guard<std::mutex> lock(Hold.Lock);
        Hold.Released = true;
        Hold.Changed.notify_all();
    }
    const bool ended = thread->Stop(BoundMs);
    TRxThread::SetChunkHook(nullptr);
    if (ended) {
        thread.reset();
    } else {
        (void)thread.release(); // still running: its object stays with it
    }
    ::CloseHandle(farEnd);
    Check("rx-abandon", held && gaveUp && !farWrites && ended,
          QStringLiteral("held %1, Stop gave up %2, the far end %3, the thread ended %4")
              .arg(held)
              .arg(gaveUp)
              .arg(farWrites ? QStringLiteral("still writes")
                             : QStringLiteral("is cut off (error %1)").arg(farError))
              .arg(ended));
}

// The chunk hook runs on the receive thread as it makes a chunk: the priority it reads there
// is the thread's own.
std::atomic<int> ReceivePriority{THREAD_PRIORITY_ERROR_RETURN};

void NotePriority() {
    ReceivePriority.store(::GetThreadPriority(::GetCurrentThread()));
}

void CheckRxPriority() {
    HANDLE port = nullptr;
    HANDLE farEnd = nullptr;
    if (!OpenPipePort("rx-priority", L"\\\\.\\pipe\\bootload-rx-priority", port, farEnd)) {
        return;
    }
    QObject component;
    TRxThread::SetChunkHook(NotePriority);
    TRxThread thread(std::make_unique<TWin32RxWait>(port), &component, 1);
    DWORD written = 0;
    QElapsedTimer clock;
    clock.start();
    if (thread.Begin() && ::WriteFile(farEnd, "x", 1, &written, nullptr)) {
        while (ReceivePriority.load() == THREAD_PRIORITY_ERROR_RETURN &&
               clock.elapsed() < BoundMs) {
            ::Sleep(10);
        }
    }
    const bool ended = thread.Stop(BoundMs);
    TRxThread::SetChunkHook(nullptr);
    ::CloseHandle(farEnd);
    ::CloseHandle(port);
    if (!ended) {
        std::_Exit(1); // the thread still uses the object on this stack
    }
    const int priority = ReceivePriority.load();
    Check("rx-priority", priority == THREAD_PRIORITY_HIGHEST,
          QStringLiteral("the receive thread's priority: %1 (THREAD_PRIORITY_HIGHEST is %2)")
              .arg(priority)
              .arg(THREAD_PRIORITY_HIGHEST));
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--exit") == 0) {
        return 0;
    }
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bootload_system_fault_check DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    CheckFailedReplace("save-1176", dir, FailAfterRemoving);
    CheckFailedReplace("save-1177", dir, FailAfterMoving);
    CheckCrashedSave(dir);
    CheckLockFile(dir);
    CheckSessionEnd();
    CheckRxAbandon();
    CheckRxPriority();
    return Failures == 0 ? 0 : 1;
}
