#include "shell/RunningMark.h"

#include <QLoggingCategory>

#include <windows.h>

namespace {

Q_LOGGING_CATEGORY(lcStartUp, "bootload.startup", QtWarningMsg)

// The mutex, in the session's own namespace, held until the process ends (the system lets
// it go however the process ends).
class TRunningMutex {
public:
    TRunningMutex() : Handle(::CreateMutexW(nullptr, FALSE, BOOTLOAD_RUNNING_MARK)) {
        if (Handle == nullptr) {
            qCWarning(lcStartUp,
                      "cannot create the mutex %ls that tells the installer the program runs "
                      "(error %lu)",
                      BOOTLOAD_RUNNING_MARK, ::GetLastError());
        }
    }
    ~TRunningMutex() {
        if (Handle != nullptr) {
            ::CloseHandle(Handle);
        }
    }
    TRunningMutex(const TRunningMutex&) = delete;
    TRunningMutex& operator=(const TRunningMutex&) = delete;

private:
    HANDLE Handle;
};

} // namespace

void HoldRunningMark() {
    static const TRunningMutex mark;
}
