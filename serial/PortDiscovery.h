// The serial ports that are there now: USB adapters with their descriptions, and the
// on-board ports that really exist. Used to find and describe ports only; a port's I/O is
// TSerialDevice's.
#pragma once

#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

// Where udev names each adapter after its maker, model and serial number. Adapters
// without a serial number of their own share one name there: udev points it at the one
// plugged in last.
inline const QString DefaultByIdDir = QStringLiteral("/dev/serial/by-id");
// Where udev names each adapter after the socket it is plugged into.
inline const QString DefaultByPathDir = QStringLiteral("/dev/serial/by-path");

struct TPresentPort {
    QString Device;       // "/dev/ttyUSB0"
    QString ById;         // its link in the by-id folder, full path; empty when none
    QString ByPath;       // its link in the by-path folder, full path; empty when none
    QString Manufacturer; // as the adapter reports them; any may be empty
    QString Description;
    QString SerialNumber;
    std::optional<uint16_t> VendorId;
    std::optional<uint16_t> ProductId;
};

// The ports the system lists now, in device order, each with its links looked up in
// ByIdDir and ByPathDir.
QList<TPresentPort> EnumeratePresentPorts(const QString& ByIdDir = DefaultByIdDir,
                                          const QString& ByPathDir = DefaultByPathDir);

// What the program uses: EnumeratePresentPorts, unless a test put a list in its place.
QList<TPresentPort> PresentPorts();
// Replaces the system's list for tests; an empty function gives the system's back.
void SetPresentPortsSource(std::function<QList<TPresentPort>()> Source);

// The device a path stands for, links followed ("/dev/serial/by-id/usb-..." gives
// "/dev/ttyUSB0"); a path that leads nowhere is given back cleaned but unresolved.
QString CanonicalDevice(const QString& Path);

// The link in Folder that leads to Device (the first by name when several do); empty
// when none does. Links that lead nowhere are passed over.
QString LinkInFolder(const QString& Device, const QString& Folder);

// On-board ports (/dev/ttyS<n>) are COM<n+1> without any key; only adapters are numbered.
bool IsOnBoardPort(const QString& Device);

// "FT232R USB UART (A10K1234)": the description, with the serial number when there is one.
QString PortDescription(const TPresentPort& Port);
