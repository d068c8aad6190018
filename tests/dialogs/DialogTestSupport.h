// Helpers shared by the dialog tests.
#pragma once

#include "QtPrinters.h"
#include "shell/VersionInfo.h"

#include <optional>

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
