// The POSIX convention of a system call that a signal interrupts: it fails with EINTR and
// is simply made again.
#pragma once

#include <cerrno>

// Runs a system call again while it is interrupted by a signal.
template <typename TCall> auto RetryOnInterrupt(TCall&& Call) {
    for (;;) {
        auto result = Call();
        if (result != -1 || errno != EINTR) {
            return result;
        }
    }
}
