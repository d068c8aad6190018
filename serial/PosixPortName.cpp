#include "serial/PortMap.h"

QString DefaultPortDevice(unsigned PortNumber) {
    return QStringLiteral("/dev/ttyS%1").arg(PortNumber == 0 ? 0 : PortNumber - 1);
}
