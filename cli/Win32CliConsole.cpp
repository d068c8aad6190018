#include "cli/CliConsole.h"

#include <windows.h>

#include <io.h>

std::optional<TConsoleSize> InPlaceConsole(FILE* Stream) {
    const int fd = ::_fileno(Stream);
    if (fd < 0 || ::_isatty(fd) == 0) {
        return std::nullopt;
    }
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the C runtime gives handles as integers
    const HANDLE console = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    DWORD mode = 0;
    if (console == INVALID_HANDLE_VALUE || !::GetConsoleMode(console, &mode)) {
        return std::nullopt;
    }
    // A console older than Windows 10 takes no cursor movements: one line a change then.
    if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) == 0 &&
        !::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
        return std::nullopt;
    }
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(console, &info)) {
        return TConsoleSize{};
    }
    return TConsoleSize{info.srWindow.Right - info.srWindow.Left + 1,
                        info.srWindow.Bottom - info.srWindow.Top + 1};
}
