#include "cli/CliConsole.h"

#include <QByteArray>

#include <sys/ioctl.h>
#include <unistd.h>

std::optional<TConsoleSize> InPlaceConsole(FILE* Stream) {
    const int fd = ::fileno(Stream);
    if (fd < 0 || ::isatty(fd) == 0) {
        return std::nullopt;
    }
    // Qt's copy of the environment is read under its lock.
    const QByteArray term = qgetenv("TERM");
    if (term.isEmpty() || term == "dumb") {
        return std::nullopt;
    }
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
        return TConsoleSize{}; // a terminal that does not say: the classic size
    }
    return TConsoleSize{size.ws_col, size.ws_row};
}
