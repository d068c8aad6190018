#include "serial/Win32SerialDevice.h"

#include "serial/RateTolerance.h"
#include "serial/SerialLog.h"
#include "serial/Win32RxWait.h"
#include "settings/Win32ErrorText.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

// How long a cancelled write may take to give its record back.
constexpr DWORD CancelWaitMs = 1000;

HANDLE PortHandle(void* Handle) {
    return static_cast<HANDLE>(Handle);
}

// "COM5" and "com5" name the port in the device namespace; any other name is used as given.
QString DeviceName(const QString& Path) {
    static const QRegularExpression comName(QStringLiteral("^COM[0-9]+$"),
                                            QRegularExpression::CaseInsensitiveOption);
    return comName.match(Path).hasMatch() ? QStringLiteral("\\\\.\\") + Path.toUpper() : Path;
}

// Whether the DCB can hold the settings; else why not.
bool CheckFormat(const TLineSettings& Settings, QString& Problem) {
    if (Settings.DataBits < 5 || Settings.DataBits > 8) {
        Problem = QStringLiteral("%1 data bits are not possible").arg(Settings.DataBits);
        return false;
    }
    if (Settings.StopBits > TWOSTOPBITS) {
        Problem = QStringLiteral("stop bits setting %1 is not possible").arg(Settings.StopBits);
        return false;
    }
    // What a UART sends for 1.5 stop bits with five-bit characters, and only then.
    if (Settings.StopBits == ONE5STOPBITS && Settings.DataBits != 5) {
        Problem = QStringLiteral("1.5 stop bits need 5 data bits");
        return false;
    }
    if (Settings.Parity > SPACEPARITY) {
        Problem = QStringLiteral("parity setting %1 is not possible").arg(Settings.Parity);
        return false;
    }
    return true;
}

// A write in flight: its record, event and bytes stay together, so that a write the driver
// will not give back can be left to it whole.
struct TWriteRequest {
    OVERLAPPED Overlapped{};
    std::vector<uint8_t> Bytes;

    TWriteRequest() { Overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~TWriteRequest() {
        if (Overlapped.hEvent != nullptr) {
            ::CloseHandle(Overlapped.hEvent);
        }
    }
    TWriteRequest(const TWriteRequest&) = delete;
    TWriteRequest& operator=(const TWriteRequest&) = delete;
};

} // namespace

std::unique_ptr<TSerialDevice> MakeSerialDevice() {
    return std::make_unique<TWin32SerialDevice>();
}

TWin32SerialDevice::~TWin32SerialDevice() {
    Close();
}

bool TWin32SerialDevice::Fail(const char* What) {
    const DWORD code = ::GetLastError();
    return Fail(QStringLiteral("%1 %2: %3").arg(QLatin1String(What), Path, Win32ErrorText(code)));
}

bool TWin32SerialDevice::Fail(const QString& Message) {
    Error = Message;
    qCDebug(lcSerial).noquote() << Error;
    return false;
}

bool TWin32SerialDevice::FailOpen(const char* What) {
    const DWORD code = ::GetLastError();
    Fail(QStringLiteral("%1 %2: %3").arg(QLatin1String(What), Path, Win32ErrorText(code)));
    Failure = OpenFailureFor(Path, static_cast<int>(code), Error);
    return false;
}

bool TWin32SerialDevice::FailOpen(const QString& Message, uint32_t Code) {
    Fail(Message);
    Failure = OpenFailureFor(Path, static_cast<int>(Code), Error);
    return false;
}

bool TWin32SerialDevice::RefuseRate(uint32_t Asked, uint32_t Actual, uint32_t Code) {
    if (Actual != 0) {
        Fail(QStringLiteral("%1 runs at %2 baud instead of the %3 asked for, more than 2 % off")
                 .arg(Path)
                 .arg(Actual)
                 .arg(Asked));
    } else if (Code != 0) {
        Fail(QStringLiteral("cannot set %1 baud on %2: %3")
                 .arg(Asked)
                 .arg(Path, Win32ErrorText(Code)));
    } else {
        Fail(QStringLiteral("cannot set %1 baud on %2").arg(Asked).arg(Path));
    }
    Failure = TOpenFailure{};
    Failure.Kind = TOpenFailureKind::RateRefused;
    Failure.ErrorCode = static_cast<int>(Code);
    Failure.Device = Path;
    Failure.Detail = Error;
    Failure.AskedRate = Asked;
    Failure.ActualRate = Actual;
    return false;
}

TSerialDevice::TOpenResult TWin32SerialDevice::Open(const QString& DevicePathGiven) {
    Close();
    Path = DeviceName(DevicePathGiven);
    Error.clear();
    Failure = TOpenFailure{};
    const HANDLE handle =
        ::CreateFileW(reinterpret_cast<LPCWSTR>(Path.utf16()), GENERIC_READ | GENERIC_WRITE, 0,
                      nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        FailOpen("cannot open");
        return TOpenResult::Failed;
    }
    Handle = handle;
    // A character device without the serial functions (NUL, a console) is no serial port
    // either. A port whose settings cannot be read as they stand (Wine on a pty at a rate
    // it does not know) is one: Configure sets them whole.
    DCB settings{};
    settings.DCBlength = sizeof settings;
    const bool isCharacter = ::GetFileType(handle) == FILE_TYPE_CHAR;
    const DWORD stateCode =
        isCharacter && !::GetCommState(handle, &settings) ? ::GetLastError() : 0;
    if (!isCharacter || stateCode == ERROR_INVALID_FUNCTION || stateCode == ERROR_INVALID_HANDLE ||
        stateCode == ERROR_NOT_SUPPORTED) {
        FailOpen(QStringLiteral("%1 is not a serial port").arg(Path), 0);
        Failure.Kind = TOpenFailureKind::NotATty;
        Close();
        return TOpenResult::NotATty;
    }
    return TOpenResult::Opened;
}

void TWin32SerialDevice::Purge() {
    if (!IsOpen()) {
        return;
    }
    if (!::PurgeComm(PortHandle(Handle),
                     PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
        Fail("cannot purge");
    }
    DWORD errors = 0;
    if (!::ClearCommError(PortHandle(Handle), &errors, nullptr)) {
        Fail("cannot clear the line errors of");
    }
}

bool TWin32SerialDevice::Configure(const TLineSettings& Settings) {
    Failure = TOpenFailure{};
    if (!IsOpen()) {
        return FailOpen(QStringLiteral("%1 is not open").arg(Path), 0);
    }
    if (Settings.BaudRate == 0) {
        return RefuseRate(0, 0, 0);
    }
    QString problem;
    if (!CheckFormat(Settings, problem)) {
        return FailOpen(QStringLiteral("%1: %2").arg(Path, problem), 0);
    }
    const HANDLE port = PortHandle(Handle);
    DCB wanted{};
    wanted.DCBlength = sizeof wanted;
    if (!::GetCommState(port, &wanted)) {
        // Settings the driver cannot report (Wine on a pty left at a rate it does not
        // know): set them whole, from a plain line with DTR and RTS on.
        const DWORD code = ::GetLastError();
        qCDebug(lcSerial).noquote()
            << QStringLiteral("%1: its line settings cannot be read (%2); setting them anew")
                   .arg(Path, code != 0 ? Win32ErrorText(code) : QStringLiteral("no reason given"));
        wanted = DCB{};
        wanted.DCBlength = sizeof wanted;
        wanted.fDtrControl = DTR_CONTROL_ENABLE;
        wanted.fRtsControl = RTS_CONTROL_ENABLE;
    }
    wanted.BaudRate = Settings.BaudRate;
    wanted.ByteSize = Settings.DataBits;
    wanted.Parity = Settings.Parity;
    wanted.StopBits = Settings.StopBits;
    wanted.fBinary = TRUE;
    wanted.fParity = Settings.Parity != NOPARITY ? TRUE : FALSE;
    // A binary protocol: no software flow control, no handshake an earlier user of the port
    // may have left on (it would stall every write), and no stop of all I/O after a line
    // error (the receive thread clears errors and reads on).
    wanted.fOutxCtsFlow = FALSE;
    wanted.fOutxDsrFlow = FALSE;
    wanted.fDsrSensitivity = FALSE;
    wanted.fOutX = FALSE;
    wanted.fInX = FALSE;
    wanted.fNull = FALSE;
    wanted.fAbortOnError = FALSE;
    if (wanted.fRtsControl == RTS_CONTROL_HANDSHAKE || wanted.fRtsControl == RTS_CONTROL_TOGGLE) {
        wanted.fRtsControl = RTS_CONTROL_ENABLE;
    }
    if (wanted.fDtrControl == DTR_CONTROL_HANDSHAKE) {
        wanted.fDtrControl = DTR_CONTROL_ENABLE;
    }
    const bool set = ::SetCommState(port, &wanted) != FALSE;
    const DWORD setCode = set ? 0 : ::GetLastError();

    // What the driver took: some answer SetCommState with success and run at another rate.
    DCB actual{};
    actual.DCBlength = sizeof actual;
    if (!::GetCommState(port, &actual)) {
        return FailOpen("cannot read back the line settings of");
    }
    if (actual.ByteSize != wanted.ByteSize || actual.Parity != wanted.Parity ||
        actual.StopBits != wanted.StopBits) {
        return FailOpen(QStringLiteral("%1 refused %2 data bits, parity %3, stop bits %4")
                            .arg(Path)
                            .arg(Settings.DataBits)
                            .arg(Settings.Parity)
                            .arg(Settings.StopBits),
                        setCode);
    }
    if (!RateWithinTolerance(Settings.BaudRate, actual.BaudRate)) {
        return RefuseRate(Settings.BaudRate, actual.BaudRate, setCode);
    }
    if (!set) {
        qCDebug(lcSerial).noquote()
            << QStringLiteral("%1: setting the line reported \"%2\", but it holds the settings "
                              "asked for")
                   .arg(Path, Win32ErrorText(setCode));
    }
    if (actual.BaudRate != Settings.BaudRate) {
        qCDebug(lcSerial).noquote()
            << QStringLiteral("%1 runs at %2 baud for the %3 asked for: within 2 %, accepted")
                   .arg(Path)
                   .arg(actual.BaudRate)
                   .arg(Settings.BaudRate);
    }

    // A read waits for its first byte without limit and ends once the line has been quiet
    // for more than 1 ms after a byte; writes have no time-out of the driver's (Write bounds
    // them itself). Without these the receive thread's reads could return at once, empty,
    // again and again.
    COMMTIMEOUTS timeouts{};
    if (!::GetCommTimeouts(port, &timeouts)) {
        return FailOpen("cannot read the time-outs of");
    }
    timeouts.ReadIntervalTimeout = 1;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    if (!::SetCommTimeouts(port, &timeouts)) {
        return FailOpen("cannot set the time-outs of");
    }
    return true;
}

bool TWin32SerialDevice::RequestLowLatency() {
    if (IsOpen()) {
        qCDebug(lcSerial).noquote()
            << Path << "has no low-latency setting (its driver's own settings hold it)";
    }
    return false;
}

bool TWin32SerialDevice::Write(const uint8_t* Data, size_t Length, int TimeOutMs) {
    if (!IsOpen()) {
        return Fail(QStringLiteral("cannot write: no port is open"));
    }
    if (Data == nullptr && Length > 0) {
        return Fail(QStringLiteral("cannot write to %1: no data").arg(Path));
    }
    const HANDLE port = PortHandle(Handle);
    QElapsedTimer clock;
    clock.start();
    size_t written = 0;
    while (written < Length) {
        auto request = std::make_unique<TWriteRequest>();
        if (request->Overlapped.hEvent == nullptr) {
            return Fail("cannot make the write event for");
        }
        const size_t chunk = std::min<size_t>(Length - written, 65536);
        request->Bytes.assign(Data + written, Data + written + chunk);
        DWORD count = 0;
        if (!::WriteFile(port, request->Bytes.data(), static_cast<DWORD>(chunk), &count,
                         &request->Overlapped)) {
            if (::GetLastError() != ERROR_IO_PENDING) {
                return Fail("cannot write to");
            }
            const qint64 left = std::max<qint64>(0, TimeOutMs - clock.elapsed());
            if (::WaitForSingleObject(request->Overlapped.hEvent, static_cast<DWORD>(left)) !=
                WAIT_OBJECT_0) {
                ::CancelIoEx(port, &request->Overlapped);
                if (::WaitForSingleObject(request->Overlapped.hEvent, CancelWaitMs) !=
                    WAIT_OBJECT_0) {
                    // The driver still holds the request: its record and bytes must outlive
                    // it, so they are left to it.
                    (void)request.release();
                    return Fail(QStringLiteral("write to %1 timed out after %2 of %3 bytes, "
                                               "and the driver kept the write")
                                    .arg(Path)
                                    .arg(written)
                                    .arg(Length));
                }
                ::GetOverlappedResult(port, &request->Overlapped, &count, FALSE);
                return Fail(QStringLiteral("write to %1 timed out after %2 of %3 bytes")
                                .arg(Path)
                                .arg(written + count)
                                .arg(Length));
            }
            if (!::GetOverlappedResult(port, &request->Overlapped, &count, FALSE)) {
                return Fail("cannot write to");
            }
        }
        written += count;
        if (count == 0 && clock.elapsed() >= TimeOutMs) {
            return Fail(QStringLiteral("write to %1 timed out after %2 of %3 bytes")
                            .arg(Path)
                            .arg(written)
                            .arg(Length));
        }
    }
    return true;
}

std::unique_ptr<TRxWait> TWin32SerialDevice::MakeRxWait() const {
    return std::make_unique<TWin32RxWait>(Handle);
}

void TWin32SerialDevice::Close() {
    if (Handle == nullptr) {
        return;
    }
    if (!::CloseHandle(PortHandle(Handle))) {
        Fail("cannot close");
    }
    Handle = nullptr;
}
