#include "serial/ThreadPriority.h"

#include "serial/SerialLog.h"
#include "settings/ErrorText.h"

#include <algorithm>
#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

bool RaiseThisThreadPriority() {
    // On Linux a nice value belongs to the thread named by its thread id.
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, thread);
    if (nice == -1 && errno != 0) {
        const int code = errno;
        qCDebug(lcSerial).noquote() << "the receive thread keeps its priority:" << ErrorText(code);
        return false;
    }
    const int raised = std::max(nice - RaisedNiceSteps, -20);
    if (::setpriority(PRIO_PROCESS, thread, raised) == -1) {
        const int code = errno;
        qCDebug(lcSerial).noquote()
            << "the receive thread keeps its priority (nice" << nice << "):" << ErrorText(code);
        return false;
    }
    qCDebug(lcSerial).noquote() << "the receive thread runs at nice" << raised;
    return true;
}
