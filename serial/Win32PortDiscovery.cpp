// The serial ports Windows has now: the devices SetupAPI lists as COM ports (the COM-port
// interface, and the Ports class for drivers that register no interface), each with its
// description, maker, serial number and USB identifiers; then the ports the registry's
// HARDWARE\DEVICEMAP\SERIALCOMM names that SetupAPI did not list (Wine lists its ports
// only there). A port's device is its name in the device namespace ("\\.\COM5"); Windows
// has no folders of links to its ports.
#include "serial/PortDiscovery.h"

#include "serial/DeviceInstanceId.h"
#include "serial/PortMap.h"

#include <QRegularExpression>

#include <windows.h>

#include <setupapi.h>

#include <algorithm>
#include <vector>

namespace {

// The COM-port device interface and the Ports device class.
constexpr GUID ComPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};
constexpr GUID PortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// "COM5" -> 5; 0 for a name that is no COM port's.
unsigned ComNumber(const QString& Name) {
    static const QRegularExpression com(QStringLiteral("^(?:\\\\\\\\\\.\\\\|//\\./)?COM([0-9]+)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = com.match(Name.trimmed());
    return match.hasMatch() ? match.captured(1).toUInt() : 0;
}

QString RegistryText(const std::vector<wchar_t>& Buffer, DWORD Bytes) {
    qsizetype length = static_cast<qsizetype>(Bytes / sizeof(wchar_t));
    while (length > 0 && Buffer[static_cast<size_t>(length) - 1] == L'\0') {
        --length;
    }
    return QString::fromWCharArray(Buffer.data(), length);
}

QString DeviceProperty(HDEVINFO Set, SP_DEVINFO_DATA& Device, DWORD Property) {
    std::vector<wchar_t> buffer(512);
    DWORD bytes = 0;
    if (!::SetupDiGetDeviceRegistryPropertyW(
            Set, &Device, Property, nullptr, reinterpret_cast<PBYTE>(buffer.data()),
            static_cast<DWORD>(buffer.size() * sizeof(wchar_t)), &bytes)) {
        return {};
    }
    // REG_MULTI_SZ (hardware IDs): the first string is the one wanted.
    return RegistryText(buffer, bytes).section(QChar(u'\0'), 0, 0);
}

QString PortNameOf(HDEVINFO Set, SP_DEVINFO_DATA& Device) {
    const HKEY key = ::SetupDiOpenDevRegKey(Set, &Device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::vector<wchar_t> buffer(64);
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    DWORD type = 0;
    QString name;
    if (::RegQueryValueExW(key, L"PortName", nullptr, &type,
                           reinterpret_cast<LPBYTE>(buffer.data()), &bytes) == ERROR_SUCCESS &&
        type == REG_SZ) {
        name = RegistryText(buffer, bytes);
    }
    ::RegCloseKey(key);
    return name;
}

QString InstanceId(HDEVINFO Set, SP_DEVINFO_DATA& Device) {
    std::vector<wchar_t> buffer(512);
    if (!::SetupDiGetDeviceInstanceIdW(Set, &Device, buffer.data(),
                                       static_cast<DWORD>(buffer.size()), nullptr)) {
        return {};
    }
    return QString::fromWCharArray(buffer.data());
}

// The present devices of one SetupAPI listing that have a COM port name.
void AddSetupPorts(const GUID& Guid, DWORD Flags, QList<TPresentPort>& Ports) {
    const HDEVINFO set = ::SetupDiGetClassDevsW(&Guid, nullptr, nullptr, Flags | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        return;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        const QString name = PortNameOf(set, device);
        const unsigned number = ComNumber(name);
        if (number == 0) {
            continue; // a printer port, or no port name
        }
        TPresentPort port;
        port.Device = DefaultPortDevice(number);
        if (std::any_of(Ports.begin(), Ports.end(),
                        [&](const TPresentPort& known) { return known.Device == port.Device; })) {
            continue;
        }
        port.Description = DeviceProperty(set, device, SPDRP_DEVICEDESC);
        if (port.Description.isEmpty()) {
            // "USB Serial Port (COM5)": without the name the dialog shows beside it anyway.
            port.Description = DeviceProperty(set, device, SPDRP_FRIENDLYNAME)
                                   .remove(QStringLiteral(" (%1)").arg(name))
                                   .trimmed();
        }
        port.Manufacturer = DeviceProperty(set, device, SPDRP_MFG);
        ReadInstanceIdentity(InstanceId(set, device), port);
        Ports << port;
    }
    ::SetupDiDestroyDeviceInfoList(set);
}

// The ports the system's serial drivers registered, by their COM names.
void AddRegistryPorts(QList<TPresentPort>& Ports) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                        &key) != ERROR_SUCCESS) {
        return;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256];
        DWORD nameLength = 256;
        std::vector<wchar_t> data(64);
        DWORD bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        DWORD type = 0;
        const LONG result = ::RegEnumValueW(key, index, valueName, &nameLength, nullptr, &type,
                                            reinterpret_cast<LPBYTE>(data.data()), &bytes);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        const unsigned number = ComNumber(RegistryText(data, bytes));
        if (number == 0) {
            continue;
        }
        TPresentPort port;
        port.Device = DefaultPortDevice(number);
        if (std::none_of(Ports.begin(), Ports.end(),
                         [&](const TPresentPort& known) { return known.Device == port.Device; })) {
            Ports << port;
        }
    }
    ::RegCloseKey(key);
}

} // namespace

QList<TPresentPort> EnumeratePresentPorts(const QString&, const QString&) {
    QList<TPresentPort> ports;
    AddSetupPorts(ComPortInterface, DIGCF_DEVICEINTERFACE, ports);
    AddSetupPorts(PortsClass, 0, ports);
    AddRegistryPorts(ports);
    std::sort(ports.begin(), ports.end(), [](const TPresentPort& A, const TPresentPort& B) {
        return ComNumber(A.Device) < ComNumber(B.Device);
    });
    return ports;
}

QString CanonicalDevice(const QString& Path) {
    const unsigned number = ComNumber(Path);
    return number != 0 ? DefaultPortDevice(number) : Path.trimmed();
}

bool IsOnBoardPort(const QString&) {
    return false;
}
