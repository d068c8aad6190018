// COM port numbers to device paths. The optional section "Ports" of an INI file maps a
// port to any device (COM3=/dev/ttyUSB0, or a /dev/serial/by-id/... path); without a key
// for it, COMn is the system's own device for it (DefaultPortDevice). The file is only
// read here; PortNumbering adds keys.
#pragma once

#include <QMap>
#include <QString>

// The INI file the component reads when it is given none.
inline const QString DefaultPortMapFile = QStringLiteral("Bootload.Ini");

// Numbers given to adapters in this run that the file could not record: port -> device.
using TSessionPortMap = QMap<unsigned, QString>;

// The device COMn is without a [Ports] key: /dev/ttyS<n-1> on Linux, \\.\COMn on
// Windows (the system's own name, which any COM number may have).
QString DefaultPortDevice(unsigned PortNumber);

// Device path of port PortNumber (1 for COM1) as MapFile maps it, else as Session does;
// an empty MapFile means DefaultPortMapFile in the current directory.
QString PortDevicePath(unsigned PortNumber, const QString& MapFile,
                       const TSessionPortMap& Session = {});
