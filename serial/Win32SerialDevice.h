// TWin32SerialDevice: the serial device of Windows, a COM port opened by its device name
// ("\\.\COM5") for overlapped I/O and without sharing. The line is set up with the port's
// DCB and read back; the receive thread waits on a duplicate of the handle
// (TWin32RxWait), so the port can be closed even while a thread that failed to end waits.
#pragma once

#include "serial/SerialDevice.h"

#include <cstdint>

class TWin32SerialDevice final : public TSerialDevice {
public:
    TWin32SerialDevice() = default;
    ~TWin32SerialDevice() override;
    TWin32SerialDevice(const TWin32SerialDevice&) = delete;
    TWin32SerialDevice& operator=(const TWin32SerialDevice&) = delete;

    // "COM5", "\\.\COM5" or any other device name; opened exclusively (share mode 0).
    // NotATty: it opened, but is no character device or has no line settings.
    TOpenResult Open(const QString& Path) override;
    // PurgeComm of both directions, then ClearCommError.
    void Purge() override;
    // The settings into the port's DCB (flow control off, everything else as the driver
    // had it), read back and held to the 2 % rule; the read time-outs the receive thread
    // needs (1 ms between bytes, no totals).
    bool Configure(const TLineSettings& Settings) override;
    // Windows keeps a port's latency in the driver's own settings: never granted here.
    bool RequestLowLatency() override;
    // Overlapped writes; one that does not finish within the bound is cancelled.
    bool Write(const uint8_t* Data, size_t Length, int TimeOutMs) override;
    void Close() override;
    std::unique_ptr<TRxWait> MakeRxWait() const override;

    bool IsOpen() const override { return Handle != nullptr; }
    const QString& DevicePath() const override { return Path; }
    const QString& LastError() const override { return Error; }
    const TOpenFailure& LastFailure() const override { return Failure; }

private:
    // Records "<What> <path>: <system text>" for the current GetLastError and returns false.
    bool Fail(const char* What);
    bool Fail(const QString& Message);
    // Fail for the error of a call that opened or set up the port, keeping its reason.
    bool FailOpen(const char* What);
    bool FailOpen(const QString& Message, uint32_t Code);
    // Fail for a refused rate: Actual is what the driver gives, 0 when it set none.
    bool RefuseRate(uint32_t Asked, uint32_t Actual, uint32_t Code);

    void* Handle = nullptr; // the port's HANDLE; null while closed
    QString Path;
    QString Error;
    TOpenFailure Failure;
};
