// Why a port did not open, as far as the system tells: the kind of failure, what the
// device node and /proc add to it (the group that may open the device, the process that
// holds it), and the operator's text built from that.
#pragma once

#include <QString>

#include <cstdint>
#include <sys/types.h>

enum class TOpenFailureKind : uint8_t {
    None,         // the last open succeeded, or none was tried
    NotConnected, // no such device, or no hardware behind it
    NoPermission, // this user may not open it
    InUse,        // another program has it
    NotATty,      // it opened, but it is no terminal
    RateRefused,  // the driver cannot run at the bit rate asked for
    Other,        // anything else: Detail has what failed
    // a run's port name leads to another device than the one that answered in the run
    // (a second adapter that shares the name, a [Ports] line changed, the adapter made
    // anew)
    DeviceChanged,
    // remote ports only: the device server's name does not resolve; it cannot be reached
    // (refused, no route, no answer to the connection); it does not answer as an RFC 2217
    // port (no answer in time, or it closed the connection before it set the line)
    NameNotFound,
    Unreachable,
    NoAnswer,
};

struct TOpenFailure {
    TOpenFailureKind Kind = TOpenFailureKind::None;
    int ErrorCode = 0; // errno of the call that failed, 0 when no call failed
    QString Device;
    QString Detail; // the device layer's message: what failed on which path, and why
    // NoPermission: the group whose members may read and write the device; empty when
    // joining a group would not help.
    QString Group;
    // InUse: the process holding the device, where /proc tells (else 0 and empty); for a
    // remote port, the server's text in HolderName. NameNotFound: the host in HolderName.
    pid_t HolderPid = 0;
    QString HolderName;
    // RateRefused: the rate asked for and the one the driver gave (0: none).
    uint32_t AskedRate = 0;
    uint32_t ActualRate = 0;
    // DeviceChanged: the device that answered in the run (Device is the port's name).
    QString PinnedDevice;

    // The reason and what to do about it, naming the port as PortName:
    // "COM3 (/dev/ttyUSB0) is not connected. ..."; without a PortName, by its device. A
    // remote port's reason is RemoteReason's.
    QString Reason(const QString& PortName) const;
};

// A failed open(), flock() or the like on Device, classified by its errno Code; for a
// device without rights or one in use, with the group or the holder the system names.
// Call it once the failed descriptor is closed, or it finds this process as the holder.
TOpenFailure OpenFailureFor(const QString& Device, int Code, const QString& Detail);

// The process that holds Device open or locked: from /proc/locks (any lock on the
// device's inode), else from the descriptors under /proc/<pid>/fd this user may see,
// of which only those open on a path under /dev are examined, within a bound of time
// and count. False when neither tells.
bool FindDeviceHolder(const QString& Device, pid_t& Pid, QString& Name);

// The group whose members may read and write Device; empty when there is none worth
// joining (no group rights, the root group, a group without a name).
QString DeviceGroup(const QString& Device);

// "92,160"
QString GroupedNumber(uint64_t Number);

// The reason for the kinds of failure whose text is the same on every system (RateRefused,
// DeviceChanged), naming the port as Port; empty for any other kind.
QString CommonReason(const TOpenFailure& Failure, const QString& Port);
