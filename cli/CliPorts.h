// --list-ports: the serial ports found, each with its COM number, device and description.
#pragma once

#include <QString>

#include <cstdio>

// Prints one line per port; the exit status (0).
int ListPorts(const QString& SettingsDir, FILE* Out);
