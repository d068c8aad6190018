// The system's text for a Win32 error code (GetLastError), for messages and traces:
// "The system cannot find the file specified." Windows builds only.
#pragma once

#include <QString>

#include <cstdint>

// FormatMessageW's text without its line end; "error <Code>" when the system has none.
QString Win32ErrorText(uint32_t Code);
