#include "cli/CliConsole.h"

#include <cstdlib>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>

std::optional<TConsoleSize> InPlaceConsole(FILE* Stream) {
    const int fd = ::fileno(Stream);
    if (fd < 0 || ::isatty(fd) == 0) {
        return std::nullopt;
    }
    const char* term = std::getenv("TERM");
    if (term == nullptr || *term == '\0' || std::strcmp(term, "dumb") == 0) {
        return std::nullopt;
    }
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
        return TConsoleSize{}; // a terminal that does not say: the classic size
    }
    return TConsoleSize{size.ws_col, size.ws_row};
}
