#include "cli/CliHelpText.h"

QString PortOptionHelp() {
    return QStringLiteral(
        "the unit's port: COMn as the window maps it (key COMn of [Ports]\n"
        "                       in Bootload.Ini in the working directory, else Windows' own\n"
        "                       COMn, any number from 1 to 256), or a device name such as\n"
        "                       \\\\.\\COM12, or rfc2217://HOST:PORT for a unit behind a\n"
        "                       device server (RFC 2217)");
}

QString StopRequestHelp() {
    return QStringLiteral(
        R"(Ctrl+C or Ctrl+Break, the console window closed, the user logging off or the system
shutting down stops the run as closing the window does. Before the erase it ends at the
next stage (a unit already in its bootloader is first told to leave it and restart), with
status 10. Once the erase has begun the update runs to its end, and the status says how it
ended; after a close, log-off or shutdown Windows waits for that only a few seconds, then
ends the program, which can leave the unit half written, waiting in its bootloader.
Further requests change nothing.
)");
}

QString StopRequestPhrase() {
    return QStringLiteral(
        "a request to stop (Ctrl+C, Ctrl+Break, console closed, log-off, shutdown)");
}
