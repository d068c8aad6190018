#include "serial/PortMap.h"

QString DefaultPortDevice(unsigned PortNumber) {
    // The device namespace's name works for every number; "COM10" alone would not.
    return QStringLiteral("\\\\.\\COM%1").arg(PortNumber);
}
