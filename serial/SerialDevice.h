// TSerialDevice: one serial port on a POSIX system, opened exclusively, in raw mode, at
// any bit rate. The serial component calls only this class for the port itself; the
// receive thread reads through it. Every failure leaves a message with the device path
// and the system's error text in LastError (and in the bootload.serial trace); a failed
// Open or Configure also leaves the reason in LastFailure.
#pragma once

#include "serial/OpenFailure.h"

#include <QString>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <sys/types.h>

// Line settings as the component holds them: StopBits and Parity are the ordinals of
// TStopBits (1, 1.5, 2) and TParity (None, Odd, Even, Mark, Space).
struct TLineSettings {
    uint32_t BaudRate = 9600;
    uint8_t DataBits = 8;
    uint8_t StopBits = 0;
    uint8_t Parity = 0;
};

class TSerialDevice {
public:
    enum class TOpenResult { Opened, Failed, NotATty };

    TSerialDevice() = default;
    ~TSerialDevice();
    TSerialDevice(const TSerialDevice&) = delete;
    TSerialDevice& operator=(const TSerialDevice&) = delete;

    // Opens Path for reading and writing without becoming its controlling terminal and
    // takes it exclusively (flock, TIOCEXCL). Failed: absent, no rights or held by
    // another program. NotATty: it opened but is not a terminal; it is closed again.
    TOpenResult Open(const QString& Path);
    // Discards unsent output and unread input.
    void Purge();
    // Raw mode with the given settings. False (and the port left open) when the driver
    // refuses or changes any of them; the rate it runs at may differ from the one asked
    // for by 2 % at most, and a rate of 0 is refused before the device is touched.
    bool Configure(const TLineSettings& Settings);
    // Asks the driver for low-latency reception where it has it; true when granted.
    bool RequestLowLatency();
    // Writes every byte, waiting for room at most TimeOutMs in all. False on an error,
    // a hang-up or when the time runs out.
    bool Write(const uint8_t* Data, size_t Length, int TimeOutMs);
    // Clears exclusive mode, releases the lock and closes; harmless when closed.
    void Close();

    bool IsOpen() const { return Handle >= 0; }
    int FileHandle() const { return Handle; }
    const QString& DevicePath() const { return Path; }
    const QString& LastError() const { return Error; }
    // Why the last Open or Configure failed; Kind None after a success.
    const TOpenFailure& LastFailure() const { return Failure; }

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

// Runs a system call again while it is interrupted by a signal.
template <typename TCall> auto RetryOnInterrupt(TCall&& Call) {
    for (;;) {
        auto Result = Call();
        if (Result != -1 || errno != EINTR) {
            return Result;
        }
    }
}
