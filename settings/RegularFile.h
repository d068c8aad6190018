// Reading a file the operator or the working directory supplies, which may be anything:
// only a regular file is read, it is opened without blocking (a FIFO never hangs the
// window) and never more than a given number of bytes is taken from it (/dev/zero). A file
// per system: PosixRegularFile.cpp, Win32RegularFile.cpp (where a device name such as
// NUL or COM1 is no file either).
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

enum class TRegularFileState { Read, Missing, NotAFile, Unreadable };

struct TRegularFileContent {
    TRegularFileState State = TRegularFileState::Unreadable;
    std::vector<uint8_t> Bytes; // at most the limit
    bool Truncated = false;     // the file holds more than the limit
};

// The file at Path, at most Limit bytes of it; what it is when it cannot be read.
TRegularFileContent ReadRegularFile(const QString& Path, size_t Limit);
