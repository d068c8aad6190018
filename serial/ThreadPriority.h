// The receive thread asks for the highest of the normal scheduling priorities, so that a
// reply is read and posted the moment it arrives even while the GUI thread or other
// programs keep the processors busy. One file per system gives it.
#pragma once

// Raises the calling thread's priority as far as that goes without real-time scheduling:
// THREAD_PRIORITY_HIGHEST on Windows; on Linux a nice value RaisedNiceSteps below the
// thread's own (at most -20), which needs CAP_SYS_NICE or an RLIMIT_NICE that allows it.
// False, traced on "bootload.serial", when the system refuses; the thread then runs on
// at the priority it had.
bool RaiseThisThreadPriority();

constexpr int RaisedNiceSteps = 5;
