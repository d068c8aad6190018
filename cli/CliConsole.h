// The console a stream writes to, when it can show lines rewritten in place: a terminal
// that takes the cursor movements of ECMA-48 (on Windows once the console is told to).
#pragma once

#include <cstdio>
#include <optional>

struct TConsoleSize {
    int Columns = 80;
    int Rows = 24;
};

// Its size, or nothing when Stream is no such console (a file, a pipe, a dumb terminal).
std::optional<TConsoleSize> InPlaceConsole(FILE* Stream);
