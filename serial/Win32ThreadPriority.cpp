#include "serial/ThreadPriority.h"

#include "serial/SerialLog.h"
#include "settings/Win32ErrorText.h"

#include <windows.h>

bool RaiseThisThreadPriority() {
    if (!::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_HIGHEST)) {
        qCDebug(lcSerial).noquote()
            << "the receive thread keeps its priority:" << Win32ErrorText(::GetLastError());
        return false;
    }
    qCDebug(lcSerial).noquote() << "the receive thread runs at THREAD_PRIORITY_HIGHEST";
    return true;
}
