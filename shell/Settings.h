// The settings file's one value, "Comms_Port" of section "Options". No widgets.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

constexpr const char* SettingsFileName = "Bootload.Ini";

// "Comms_Port" as the program reads it: decimal, or hexadecimal after 0x or 0X; an empty
// or non-numeric value gives 1. Values outside 1..32 are kept.
int32_t ParseCommsPortValue(const QString& Text);
// The number a value spells, or nothing when it spells none (empty, not a number).
std::optional<int32_t> CommsPortNumberOf(const QString& Text);
