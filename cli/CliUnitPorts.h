// The ports of the units one command runs: each name checked as --port checks it, the
// ports file read, and the same device named twice found before anything starts. Names
// are taken as they come: COMn, a device path, or a URL (a remote port names itself).
#pragma once

#include "cli/CliOptions.h"

#include <QList>
#include <QString>

// Checks Port.Name and sets Port.ComNumber; false, with the reason, for a name no port has.
bool CheckPortName(TCliPort& Port, QString& Error);

// One port a line, then, for the product whose unit's slave address is set, optionally
// that unit's slave address; blank lines and comments (from a # that begins a word) are
// skipped. Appends to Ports; false, with the file, the line and the reason, otherwise.
bool ReadPortsFile(const QString& Path, bool SlaveAddressAllowed, QList<TCliPort>& Ports,
                   QString& Error);

// What a port name leads to, for comparing: a URL with its scheme and host in lower case,
// else the device its links lead to (COMn through MapFile, as the serial component maps
// it).
QString PortDeviceKey(const TCliPort& Port, const QString& MapFile);

// The first pair of Ports that lead to the same device, as an error text; empty when
// every port is another device.
QString SameDeviceTwice(const QList<TCliPort>& Ports, const QString& MapFile);
