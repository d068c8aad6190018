// Helpers shared by the dialog tests.
#pragma once

#include "shell/VersionInfo.h"

#include <QString>

#include <optional>
#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString& Text, std::ostream* Out) {
    *Out << '"' << Text.toStdString() << '"';
}

// Puts another version block in place of the program's own for one test.
class TVersionSourceGuard {
public:
    explicit TVersionSourceGuard(std::optional<TVersionInfoSource> Source) {
        TVersionInfo::SetSource(std::move(Source));
    }
    ~TVersionSourceGuard() { TVersionInfo::SetSource(std::nullopt); }
    TVersionSourceGuard(const TVersionSourceGuard&) = delete;
    TVersionSourceGuard& operator=(const TVersionSourceGuard&) = delete;
};
