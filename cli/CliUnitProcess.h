// How the program of one unit (this program, started again for its port) is started and
// told to stop. On POSIX it runs in a process group of its own, so that the terminal's
// Ctrl+C reaches only this program, which passes each request on once. On Windows it
// shares the console, whose control events reach every program on it.
#pragma once

#include <QString>

class QProcess;

void SetUpUnitProcess(QProcess& Process);

// Passes on the request to stop named Name ("SIGINT", "SIGTERM", ...); false when the
// unit's program gets such requests itself and cannot be sent one.
bool PassStopOn(QProcess& Process, const QString& Name);
