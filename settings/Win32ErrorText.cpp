#include "settings/Win32ErrorText.h"

#include <windows.h>

QString Win32ErrorText(uint32_t Code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, Code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    QString message;
    if (length > 0 && text != nullptr) {
        message = QString::fromWCharArray(text, static_cast<qsizetype>(length)).trimmed();
    }
    if (text != nullptr) {
        ::LocalFree(text);
    }
    // The system's texts end with a full stop; the messages they go into add their own.
    while (message.endsWith(u'.')) {
        message.chop(1);
    }
    return message.isEmpty() ? QStringLiteral("error %1").arg(Code) : message;
}
