#include "cli/CliUnitProcess.h"

#include <QProcess>

#include <csignal>
#include <unistd.h>

void SetUpUnitProcess(QProcess& Process) {
    // Run between fork and exec: setpgid is async-signal-safe.
    Process.setChildProcessModifier([] { ::setpgid(0, 0); });
}

bool PassStopOn(QProcess& Process, const QString& Name) {
    int number = SIGTERM;
    if (Name == QLatin1String("SIGINT")) {
        number = SIGINT;
    } else if (Name == QLatin1String("SIGHUP")) {
        number = SIGHUP;
    } else if (Name == QLatin1String("SIGQUIT")) {
        number = SIGQUIT;
    }
    const qint64 pid = Process.processId();
    return pid > 0 && ::kill(static_cast<pid_t>(pid), number) == 0;
}
