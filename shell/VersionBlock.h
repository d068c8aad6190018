// The version layer's own pieces, shared by the per-system files that answer the about
// box's queries (CompiledVersionInfo.cpp, Win32VersionInfo.cpp).
#pragma once

#include "shell/VersionInfo.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <span>

// Whether Block is a block that TVersionInfo::BuildBlock made.
bool IsCompiledVersionBlock(std::span<const uint8_t> Block);
// TVersionInfo::QueryValue on such a block.
bool QueryCompiledVersionBlock(std::span<const uint8_t> Block, const QString& SubBlock,
                               const uint8_t** Value, uint32_t* Length);
// What a test put in place of the program's version information (TVersionInfo::SetSource).
std::optional<TVersionInfoSource>& VersionSourceOverride();
