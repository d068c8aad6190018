// Why a port did not open, on Windows: the kind of failure from the Win32 error code of
// the call that failed (ErrorCode holds that code here, not an errno), and the operator's
// text. Windows names no holder of a port and has no device groups to join.
#include "serial/OpenFailure.h"

#include "serial/remote/RemoteFailureText.h"
#include "serial/remote/RemotePortName.h"
#include "settings/Win32ErrorText.h"

#include <windows.h>

namespace {

// "COM5" for the port's own device, "COM5 (\\.\COM7)" for a device a [Ports] line named.
QString PortText(const QString& PortName, const QString& Device) {
    if (PortName.isEmpty()) {
        return Device;
    }
    if (Device.compare(QStringLiteral("\\\\.\\") + PortName, Qt::CaseInsensitive) == 0 ||
        Device.compare(PortName, Qt::CaseInsensitive) == 0) {
        return PortName;
    }
    return QStringLiteral("%1 (%2)").arg(PortName, Device);
}

} // namespace

TOpenFailure OpenFailureFor(const QString& Device, int Code, const QString& Detail) {
    TOpenFailure failure;
    failure.Device = Device;
    failure.ErrorCode = Code;
    failure.Detail = Detail;
    switch (static_cast<DWORD>(Code)) {
    case ERROR_FILE_NOT_FOUND: // no such COM port: never there, or its adapter unplugged
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_BAD_UNIT:
        failure.Kind = TOpenFailureKind::NotConnected;
        break;
    case ERROR_ACCESS_DENIED: // what a COM port that another program holds answers
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        failure.Kind = TOpenFailureKind::InUse;
        break;
    default:
        failure.Kind = TOpenFailureKind::Other;
        break;
    }
    return failure;
}

bool FindDeviceHolder(const QString&, pid_t& Pid, QString& Name) {
    Pid = 0;
    Name.clear();
    return false;
}

QString DeviceGroup(const QString&) {
    return {};
}

QString TOpenFailure::Reason(const QString& PortName) const {
    const QString port = PortText(PortName, Device);
    if (IsRemotePortName(Device)) {
        return RemoteReason(*this, port);
    }
    switch (Kind) {
    case TOpenFailureKind::None:
    case TOpenFailureKind::NameNotFound:
    case TOpenFailureKind::Unreachable:
    case TOpenFailureKind::NoAnswer:
        break;
    case TOpenFailureKind::NotConnected:
        return port + QStringLiteral(" is not connected. Plug in the adapter, or select "
                                     "another port.");
    case TOpenFailureKind::NoPermission:
        return port + QStringLiteral(": access denied. Ask the administrator for access.");
    case TOpenFailureKind::InUse:
        return port + QStringLiteral(" is in use by another program. Close that program, or "
                                     "select another port.");
    case TOpenFailureKind::NotATty:
        return port + QStringLiteral(" is not a serial port. Select another port, or map %1 to "
                                     "the adapter in the [Ports] section of Bootload.Ini.")
                          .arg(PortName);
    case TOpenFailureKind::RateRefused:
    case TOpenFailureKind::DeviceChanged:
        return CommonReason(*this, port);
    case TOpenFailureKind::Other:
        return QStringLiteral("%1 cannot be opened: %2.")
            .arg(port, ErrorCode != 0 ? Win32ErrorText(static_cast<uint32_t>(ErrorCode)) : Detail);
    }
    return {};
}
