#include "serial/SerialDevice.h"
#include "serial/remote/RemotePortName.h"
#include "serial/remote/RemoteSerialDevice.h"

std::unique_ptr<TSerialDevice> MakeSerialDevice(const QString& Path) {
    if (IsRemotePortName(Path)) {
        return std::make_unique<TRemoteSerialDevice>();
    }
    return MakeSerialDevice();
}
