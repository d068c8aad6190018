// COM numbers for USB adapters, as Windows gives them: an adapter that no [Ports] key of
// "Bootload.Ini" names gets the lowest free number from COM3 up, recorded under a name
// that is its own (RecordedName), so that it keeps the number the next time. A line
// already in [Ports] is never changed or removed.
#pragma once

#include "serial/PortDiscovery.h"
#include "serial/PortMap.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringView>

#include <functional>
#include <optional>

constexpr unsigned FirstAdapterPort = 3;
constexpr unsigned LastListedPort = 32;

struct TPortAssignment {
    unsigned Port = 0; // n of COMn
    QString Name;      // the value for [Ports]: RecordedName
    TPresentPort Adapter;
};

struct TPortNumbering {
    QList<TPortAssignment> Assigned;
    QList<TPresentPort> Unnumbered; // adapters no free number was left for
};

// The [Ports] keys with their values, in file order, each key once.
using TPortsEntries = QList<QPair<QString, QString>>;
// The device a path stands for (links followed).
using TDeviceResolver = std::function<QString(const QString& Path)>;

// The port a [Ports] key stands for: "COM3" (any case) gives 3. Only COM1..COM32 are
// listed in the port dialog; any other key ("COM0", "COM40", "COM03", "Modem") gives none.
std::optional<unsigned> PortsKeyPort(QStringView Key);

// The name an adapter is recorded under in [Ports], one that no other adapter shares:
// its /dev/serial/by-id link when it has a serial number of its own (not empty, and no
// other adapter in Present of its vendor and product has it); else its
// /dev/serial/by-path link, which names the USB socket; else its device path.
QString RecordedName(const TPresentPort& Adapter, const QList<TPresentPort>& Present);

// Which present adapters get which number. Rules:
// - on-board ports (/dev/ttyS<n>) are COM<n+1> already and get none;
// - an adapter that a key COM1..COM32 names, through its device path, its by-id link or
//   any other path that leads to the same device, keeps that key and gets none;
// - a number is free when no key has it (whatever its value: a line for an adapter that is
//   unplugged now keeps its number for it) and its /dev/ttyS<n-1> is not a present port;
// - new adapters, in the order given, take the free numbers from COM3 to COM32, lowest
//   first, under their RecordedName; those left over are Unnumbered.
// Keys outside COM1..COM32 take no number and name no adapter. Duplicate keys (any case)
// count once, the first.
TPortNumbering NumberNewAdapters(const QList<TPresentPort>& Present, const TPortsEntries& Entries,
                                 const TDeviceResolver& Resolve = CanonicalDevice);

// Numbers the adapters in Present against [Ports] of the settings file at SettingsPath and
// SessionPorts (numbers given earlier in this run) and records each new number: added to
// [Ports] of the file, or, when the file cannot be written or is no settings file, kept in
// SessionPorts for this run. Reports on "bootload.serial" only, never to the operator.
TPortNumbering RecordNewAdapters(const QString& SettingsPath, const QList<TPresentPort>& Present,
                                 TSessionPortMap& SessionPorts);
