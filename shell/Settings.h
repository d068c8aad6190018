// The settings file: how its one value is read and when the file may be rewritten.
// No widgets.
#pragma once

#include <QString>

#include <cstdint>

constexpr const char* SettingsFileName = "Bootload.Ini";

// "Comms_Port" as the program reads it: decimal, or hexadecimal after 0x or 0X; an empty
// or non-numeric value gives 1. Values outside 1..32 are kept.
int32_t ParseCommsPortValue(const QString& Text);

enum class TSettingsFileState {
    Missing,    // nothing at the path: the file may be created
    Usable,     // a readable INI text file that can be rewritten without loss
    NotAFile,   // a directory, FIFO, device or other non-regular file
    Unreadable, // cannot be opened or read
    NotIni,     // binary, not UTF-8 text, too long, or lines the INI reader rejects
};

// Looks at the file without ever blocking on it (a FIFO) or reading more than a
// settings file can hold, and says whether it may be read and rewritten.
TSettingsFileState InspectSettingsFile(const QString& Path);
