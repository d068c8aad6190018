#include "cli/CliHelpText.h"

QString PortOptionHelp() {
    return QStringLiteral(
        "the unit's port: COMn as the window maps it (key COMn of [Ports]\n"
        "                       in Bootload.Ini in the working directory, else /dev/ttyS<n-1>), "
        "or\n"
        "                       a device path such as /dev/ttyUSB0 or /dev/serial/by-id/..., or\n"
        "                       rfc2217://HOST:PORT for a unit behind a device server (RFC 2217)");
}

QString StopRequestHelp() {
    return QStringLiteral(
        R"(SIGINT, SIGTERM, SIGHUP (the terminal or session closed) or SIGQUIT stops the run as
closing the window does. Before the erase it ends at the next stage (a unit already in its
bootloader is first told to leave it and restart), with status 10. Once the erase has begun
the update runs to its end, and the status says how it ended. Further signals change
nothing (SIGKILL would: it can leave the unit half written, waiting in its bootloader).
Started with SIGHUP ignored (nohup), the program leaves it ignored.
)");
}

QString StopRequestPhrase() {
    return QStringLiteral("a signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT)");
}
