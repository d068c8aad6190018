#include "serial/PosixSerialDevice.h"

#include "serial/LineRate.h"
#include "serial/PortDiscovery.h"
#include "serial/PosixRetry.h"
#include "serial/PosixRxWait.h"
#include "serial/SerialLog.h"
#include "settings/ErrorText.h"

#include <QElapsedTimer>
#include <QFile>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The termios constant of a standard rate, or 0 when the rate has none.
speed_t StandardRate(uint32_t Rate) {
    struct TRate {
        uint32_t Rate;
        speed_t Code;
    };
    static constexpr TRate Rates[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const TRate& entry : Rates) {
        if (entry.Rate == Rate) {
            return entry.Code;
        }
    }
    return 0;
}

// The character-format bits that Configure sets and checks afterwards.
constexpr tcflag_t FormatBits = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR;

// Character format for the settings, or false with a message when there is none.
bool FormatFlags(const TLineSettings& Settings, tcflag_t& Flags, QString& Problem) {
    Flags = 0;
    switch (Settings.DataBits) {
    case 5:
        Flags |= CS5;
        break;
    case 6:
        Flags |= CS6;
        break;
    case 7:
        Flags |= CS7;
        break;
    case 8:
        Flags |= CS8;
        break;
    default:
        Problem = QStringLiteral("%1 data bits are not possible").arg(Settings.DataBits);
        return false;
    }
    switch (Settings.StopBits) {
    case 0:
        break;
    case 1: // one and a half: what a UART sends for two with five-bit characters
        if (Settings.DataBits != 5) {
            Problem = QStringLiteral("1.5 stop bits need 5 data bits");
            return false;
        }
        Flags |= CSTOPB;
        break;
    case 2:
        Flags |= CSTOPB;
        break;
    default:
        Problem = QStringLiteral("stop bits setting %1 is not possible").arg(Settings.StopBits);
        return false;
    }
    switch (Settings.Parity) {
    case 0:
        break;
    case 1:
        Flags |= PARENB | PARODD;
        break;
    case 2:
        Flags |= PARENB;
        break;
    case 3:
        Flags |= PARENB | CMSPAR | PARODD;
        break;
    case 4:
        Flags |= PARENB | CMSPAR;
        break;
    default:
        Problem = QStringLiteral("parity setting %1 is not possible").arg(Settings.Parity);
        return false;
    }
    return true;
}

} // namespace

std::unique_ptr<TSerialDevice> MakeSerialDevice() {
    return std::make_unique<TPosixSerialDevice>();
}

TPosixSerialDevice::~TPosixSerialDevice() {
    Close();
}

bool TPosixSerialDevice::Fail(const char* What) {
    const int code = errno;
    return Fail(QStringLiteral("%1 %2: %3").arg(QLatin1String(What), Path, ErrorText(code)));
}

bool TPosixSerialDevice::Fail(const QString& Message) {
    Error = Message;
    qCDebug(lcSerial).noquote() << Error;
    return false;
}

bool TPosixSerialDevice::FailOpen(const char* What) {
    const int code = errno;
    Fail(What);
    Failure = OpenFailureFor(Path, code, Error);
    return false;
}

bool TPosixSerialDevice::FailOpen(const QString& Message) {
    Fail(Message);
    Failure = OpenFailureFor(Path, 0, Error);
    return false;
}

bool TPosixSerialDevice::RefuseRate(uint32_t Asked, uint32_t Actual, int Code) {
    if (Actual != 0) {
        Fail(QStringLiteral("%1 runs at %2 baud instead of the %3 asked for, more than 2 % off")
                 .arg(Path)
                 .arg(Actual)
                 .arg(Asked));
    } else if (Code != 0) {
        Fail(QStringLiteral("cannot set %1 baud on %2: %3").arg(Asked).arg(Path, ErrorText(Code)));
    } else {
        Fail(QStringLiteral("cannot set %1 baud on %2").arg(Asked).arg(Path));
    }
    Failure = TOpenFailure{};
    Failure.Kind = TOpenFailureKind::RateRefused;
    Failure.ErrorCode = Code;
    Failure.Device = Path;
    Failure.Detail = Error;
    Failure.AskedRate = Asked;
    Failure.ActualRate = Actual;
    return false;
}

TSerialDevice::TOpenResult TPosixSerialDevice::Open(const QString& DevicePath) {
    Close();
    Path = DevicePath;
    Error.clear();
    Failure = TOpenFailure{};
    const QByteArray name = QFile::encodeName(Path);
    Handle = RetryOnInterrupt(
        [&] { return ::open(name.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (Handle < 0) {
        FailOpen("cannot open");
        return TOpenResult::Failed;
    }
    if (!::isatty(Handle)) {
        FailOpen(QStringLiteral("%1 is not a terminal").arg(Path));
        Failure.Kind = TOpenFailureKind::NotATty;
        Close();
        return TOpenResult::NotATty;
    }
    if (::flock(Handle, LOCK_EX | LOCK_NB) == -1) {
        const int code = errno;
        Fail(code == EWOULDBLOCK ? "another program holds" : "cannot lock");
        const QString message = Error;
        // Closed first: the search for the holder would otherwise find this process.
        Close();
        Error = message;
        Failure = OpenFailureFor(Path, code, message);
        return TOpenResult::Failed;
    }
    Locked = true;
    if (::ioctl(Handle, TIOCEXCL) == -1) {
        Fail("cannot take exclusive use of");
    } else {
        Exclusive = true;
    }
    return TOpenResult::Opened;
}

void TPosixSerialDevice::Purge() {
    if (IsOpen() && ::tcflush(Handle, TCIOFLUSH) == -1) {
        Fail("cannot flush");
    }
}

bool TPosixSerialDevice::Configure(const TLineSettings& Settings) {
    Failure = TOpenFailure{};
    if (!IsOpen()) {
        return FailOpen(QStringLiteral("%1 is not open").arg(Path));
    }
    // B0 would hang the line up rather than set a rate.
    if (Settings.BaudRate == 0) {
        return RefuseRate(0, 0, 0);
    }
    tcflag_t format = 0;
    QString problem;
    if (!FormatFlags(Settings, format, problem)) {
        return FailOpen(QStringLiteral("%1: %2").arg(Path, problem));
    }
    termios mode{};
    if (::tcgetattr(Handle, &mode) == -1) {
        return FailOpen("cannot read the line settings of");
    }
    ::cfmakeraw(&mode);
    // A binary protocol: no software flow control, and no hardware handshake that an
    // earlier user of the port may have left on (it would stall every write).
    mode.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    mode.c_cflag &= ~(FormatBits | CRTSCTS);
    mode.c_cflag |= format | CLOCAL | CREAD;
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    const speed_t standard = StandardRate(Settings.BaudRate);
    if (standard != 0) {
        // A device keeps its settings after close: an input rate left by an earlier
        // arbitrary rate (CIBAUD holding BOTHER) would otherwise survive, so the input
        // rate is tied to the output rate again.
        mode.c_cflag &= ~CIBAUD;
        ::cfsetispeed(&mode, standard);
        ::cfsetospeed(&mode, standard);
    }
    if (RetryOnInterrupt([&] { return ::tcsetattr(Handle, TCSANOW, &mode); }) == -1) {
        return FailOpen("cannot set the line settings of");
    }
    if (standard == 0 && !SetArbitraryLineRate(Handle, Settings.BaudRate)) {
        return RefuseRate(Settings.BaudRate, 0, errno);
    }

    termios actual{};
    if (::tcgetattr(Handle, &actual) == -1) {
        return FailOpen("cannot read back the line settings of");
    }
    if ((actual.c_cflag & FormatBits) != format) {
        return FailOpen(QStringLiteral("%1 refused %2 data bits, parity %3, stop bits %4")
                            .arg(Path)
                            .arg(Settings.DataBits)
                            .arg(Settings.Parity)
                            .arg(Settings.StopBits));
    }
    uint32_t outputRate = 0;
    uint32_t inputRate = 0;
    if (!GetLineRate(Handle, outputRate, inputRate)) {
        return FailOpen("cannot read back the rate of");
    }
    // An input rate of 0 means "as the output".
    if (!RateWithinTolerance(Settings.BaudRate, outputRate)) {
        return RefuseRate(Settings.BaudRate, outputRate, 0);
    }
    if (inputRate != 0 && !RateWithinTolerance(Settings.BaudRate, inputRate)) {
        return RefuseRate(Settings.BaudRate, inputRate, 0);
    }
    if (outputRate != Settings.BaudRate || (inputRate != 0 && inputRate != Settings.BaudRate)) {
        qCDebug(lcSerial).noquote()
            << QStringLiteral("%1 runs at %2 baud (input %3) for the %4 asked for: within 2 %, "
                              "accepted")
                   .arg(Path)
                   .arg(outputRate)
                   .arg(inputRate)
                   .arg(Settings.BaudRate);
    }
    return true;
}

bool TPosixSerialDevice::RequestLowLatency() {
    if (!IsOpen()) {
        return false;
    }
    serial_struct serial{};
    if (::ioctl(Handle, TIOCGSERIAL, &serial) == -1) {
        qCDebug(lcSerial).noquote() << Path << "has no low-latency setting";
        return false;
    }
    if ((serial.flags & ASYNC_LOW_LATENCY) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        if (::ioctl(Handle, TIOCSSERIAL, &serial) == -1) {
            const int code = errno;
            qCDebug(lcSerial).noquote()
                << "low latency refused on" << Path << ":" << ErrorText(code);
            return false;
        }
    }
    qCDebug(lcSerial).noquote() << "low latency granted on" << Path;
    return true;
}

bool TPosixSerialDevice::Write(const uint8_t* Data, size_t Length, int TimeOutMs) {
    if (!IsOpen()) {
        return Fail(QStringLiteral("cannot write: no port is open"));
    }
    if (Data == nullptr && Length > 0) {
        return Fail(QStringLiteral("cannot write to %1: no data").arg(Path));
    }
    QElapsedTimer clock;
    clock.start();
    size_t written = 0;
    while (written < Length) {
        const ssize_t count = ::write(Handle, Data + written, Length - written);
        if (count > 0) {
            written += static_cast<size_t>(count);
            continue;
        }
        if (count == -1 && errno == EINTR) {
            continue;
        }
        if (count == -1 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return Fail("cannot write to");
        }
        // The driver's buffer is full: wait for room, within what is left of the bound.
        const qint64 left = TimeOutMs - clock.elapsed();
        if (left <= 0) {
            return Fail(QStringLiteral("write to %1 timed out after %2 of %3 bytes")
                            .arg(Path)
                            .arg(written)
                            .arg(Length));
        }
        pollfd wait{Handle, POLLOUT, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(left));
        if (ready == -1 && errno != EINTR) {
            return Fail("cannot wait to write to");
        }
        if (ready == 1 && (wait.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            return Fail(QStringLiteral("%1 hung up during a write").arg(Path));
        }
    }
    return true;
}

std::unique_ptr<TRxWait> TPosixSerialDevice::MakeRxWait() const {
    return std::make_unique<TPosixRxWait>(Handle);
}

QString TPosixSerialDevice::ResolvePath(const QString& DevicePath) const {
    return CanonicalDevice(DevicePath);
}

std::optional<TDeviceIdentity> TPosixSerialDevice::Identity() const {
    struct stat node {};
    if (Handle < 0 || ::fstat(Handle, &node) == -1) {
        return std::nullopt;
    }
    return TDeviceIdentity{static_cast<uint64_t>(node.st_dev), static_cast<uint64_t>(node.st_ino),
                           static_cast<uint64_t>(node.st_rdev)};
}

void TPosixSerialDevice::Close() {
    if (Handle < 0) {
        return;
    }
    if (Exclusive && ::ioctl(Handle, TIOCNXCL) == -1) {
        Fail("cannot clear exclusive use of");
    }
    if (Locked && ::flock(Handle, LOCK_UN) == -1) {
        Fail("cannot unlock");
    }
    // close() is not retried on EINTR: the descriptor is released either way.
    if (::close(Handle) == -1) {
        Fail("cannot close");
    }
    Handle = -1;
    Locked = false;
    Exclusive = false;
}
