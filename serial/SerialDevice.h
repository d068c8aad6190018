// TSerialDevice: one serial port, opened exclusively, in raw mode, at any bit rate: all
// that the serial component asks of the system for the port itself. TKestComms calls only
// this interface, and its receive thread waits on the port through the TRxWait the device
// makes. MakeSerialDevice gives the system's device: TPosixSerialDevice on Linux (a
// terminal device under /dev); a system with another port API puts its own beside it. A
// port reached over the network (serial/remote) is a device of its own kind.
// Every failure leaves a message with the device path and the system's error text in
// LastError (and in the bootload.serial trace); a failed Open or Configure also leaves
// the reason in LastFailure.
#pragma once

#include "serial/OpenFailure.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

class TRxWait;

// Line settings as the component holds them: StopBits and Parity are the ordinals of
// TStopBits (1, 1.5, 2) and TParity (None, Odd, Even, Mark, Space).
struct TLineSettings {
    uint32_t BaudRate = 9600;
    uint8_t DataBits = 8;
    uint8_t StopBits = 0;
    uint8_t Parity = 0;
};

// What tells one open device from another: on POSIX the node opened (its file system and
// inode) and the device number it stands for. A node made again for a device (an adapter
// plugged in again) is another identity.
struct TDeviceIdentity {
    uint64_t FileSystem = 0;
    uint64_t Node = 0;
    uint64_t Device = 0;
    bool operator==(const TDeviceIdentity&) const = default;
};

class TSerialDevice {
public:
    enum class TOpenResult { Opened, Failed, NotATty };

    TSerialDevice() = default;
    // An open port is closed when its device goes.
    virtual ~TSerialDevice() = default;
    TSerialDevice(const TSerialDevice&) = delete;
    TSerialDevice& operator=(const TSerialDevice&) = delete;

    // Opens Path for reading and writing, without becoming its controlling terminal, and
    // takes it exclusively. Failed: absent, no rights or held by another program.
    // NotATty: it opened but is not a serial line; it is closed again.
    virtual TOpenResult Open(const QString& Path) = 0;
    // Discards unsent output and unread input.
    virtual void Purge() = 0;
    // Raw mode with the given settings. False (and the port left open) when the driver
    // refuses or changes any of them; the rate it runs at may differ from the one asked
    // for by 2 % at most, and a rate of 0 is refused before the device is touched.
    virtual bool Configure(const TLineSettings& Settings) = 0;
    // Asks the driver for low-latency reception where it has it; true when granted.
    virtual bool RequestLowLatency() = 0;
    // Writes every byte, waiting for room at most TimeOutMs in all. False on an error,
    // a hang-up or when the time runs out.
    virtual bool Write(const uint8_t* Data, size_t Length, int TimeOutMs) = 0;
    // Gives up exclusive use and closes; harmless when closed.
    virtual void Close() = 0;
    // The wait of a receive thread on the open port. It keeps its own hold on the port,
    // which it gives up when told to (TRxWait::Abandon), so the device can be closed and
    // the port opened again even while a thread that failed to end still runs.
    virtual std::unique_ptr<TRxWait> MakeRxWait() const = 0;

    // The path that Path leads to now, with every link followed (a /dev/serial/by-id name
    // gives /dev/ttyUSB0); Path itself where it leads nowhere or the system has no links.
    virtual QString ResolvePath(const QString& Path) const { return Path; }
    // The identity of the open port; none when closed or where the system tells none.
    virtual std::optional<TDeviceIdentity> Identity() const { return std::nullopt; }
    // Whether this is a remote port's device (rfc2217://...), not one of this system's.
    virtual bool IsRemote() const { return false; }

    virtual bool IsOpen() const = 0;
    virtual const QString& DevicePath() const = 0;
    virtual const QString& LastError() const = 0;
    // Why the last Open or Configure failed; Kind None after a success.
    virtual const TOpenFailure& LastFailure() const = 0;
};

// A closed serial device of this system.
std::unique_ptr<TSerialDevice> MakeSerialDevice();
// A closed device for the port named Path: a remote port's for "rfc2217://HOST:PORT"
// (TRemoteSerialDevice, the same on every system), else this system's.
std::unique_ptr<TSerialDevice> MakeSerialDevice(const QString& Path);
