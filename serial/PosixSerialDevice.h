// TPosixSerialDevice: the serial device of a POSIX system, a terminal device under /dev.
// Exclusive use is an flock on the device and TIOCEXCL; the line is set up with termios
// (and termios2 for a rate without a B constant); the receive thread waits on a duplicate
// of the descriptor (TPosixRxWait).
#pragma once

#include "serial/SerialDevice.h"

class TPosixSerialDevice final : public TSerialDevice {
public:
    TPosixSerialDevice() = default;
    ~TPosixSerialDevice() override;
    TPosixSerialDevice(const TPosixSerialDevice&) = delete;
    TPosixSerialDevice& operator=(const TPosixSerialDevice&) = delete;

    // Opens with O_NOCTTY and takes the device with flock and TIOCEXCL.
    TOpenResult Open(const QString& Path) override;
    void Purge() override;
    bool Configure(const TLineSettings& Settings) override;
    bool RequestLowLatency() override;
    bool Write(const uint8_t* Data, size_t Length, int TimeOutMs) override;
    // Clears exclusive mode, releases the lock and closes.
    void Close() override;
    std::unique_ptr<TRxWait> MakeRxWait() const override;
    // CanonicalDevice (PortDiscovery.h): links followed; a path that leads nowhere is given
    // back cleaned.
    QString ResolvePath(const QString& DevicePath) const override;
    // fstat() of the open descriptor.
    std::optional<TDeviceIdentity> Identity() const override;

    bool IsOpen() const override { return Handle >= 0; }
    const QString& DevicePath() const override { return Path; }
    const QString& LastError() const override { return Error; }
    const TOpenFailure& LastFailure() const override { return Failure; }

private:
    // Records "<What> <path>: <error text>" for the current errno and returns false.
    bool Fail(const char* What);
    bool Fail(const QString& Message);
    // Fail for the errno of a call that opened or set up the port, keeping its reason.
    bool FailOpen(const char* What);
    bool FailOpen(const QString& Message);
    // Fail for a refused rate: Actual is what the driver gives, 0 when it set none.
    bool RefuseRate(uint32_t Asked, uint32_t Actual, int Code);

    int Handle = -1;
    bool Locked = false;
    bool Exclusive = false;
    QString Path;
    QString Error;
    TOpenFailure Failure;
};
