// The serial component on real pseudo-terminals: opening through the port map, exclusive
// use, what is not a terminal, bit rates, raw transfer, the receive thread's delivery,
// hang-ups and closing.
#include "KestCommsTestAccess.h"
#include "PtyPair.h"
#include "SerialTrace.h"
#include "serial/KestComms.h"
#include "serial/LineRate.h"
#include "serial/PortMap.h"
#include "serial/PosixSerialDevice.h"
#include "serial/RxThread.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <random>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A component on COM<Port> whose map points at a fresh pty, receiving into Received.
struct TOpenPort {
    explicit TOpenPort(TComport Port = COM3, uint32_t Rate = 115200)
        : Map(static_cast<unsigned>(Port) + 1, Pty.SlavePath) {
        Comms.CommPort = Port;
        Comms.BaudRate = Rate;
        Comms.PortMapFile = Map.Path();
        Comms.OnReceiveData = [this](const uint8_t* Buffer, uint16_t Length) {
            Received.append(reinterpret_cast<const char*>(Buffer), Length);
            ++Chunks;
        };
    }
    TPtyPair Pty;
    TPortMapFile Map;
    TKestComms Comms;
    QByteArray Received;
    int Chunks = 0;
};

bool RunningAsRoot() {
    return ::geteuid() == 0;
}

// Another process that holds a device as a program holding a port does: open, locked and
// in exclusive mode, until this object goes.
class THoldingProcess {
public:
    explicit THoldingProcess(const QString& DevicePath) {
        int Ready[2];
        int Release[2];
        if (::pipe2(Ready, O_CLOEXEC) != 0 || ::pipe2(Release, O_CLOEXEC) != 0) {
            return;
        }
        const QByteArray Path = DevicePath.toLocal8Bit();
        Pid = ::fork();
        if (Pid == 0) {
            // Only async-signal-safe calls from here on.
            const int Handle = ::open(Path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            const bool Held = Handle >= 0 && ::flock(Handle, LOCK_EX | LOCK_NB) == 0 &&
                              ::ioctl(Handle, TIOCEXCL) == 0;
            const char Answer = Held ? '1' : '0';
            (void)!::write(Ready[1], &Answer, 1);
            char Byte = 0;
            (void)!::read(Release[0], &Byte, 1); // returns when the parent closes its end
            ::_exit(0);
        }
        ::close(Ready[1]);
        ::close(Release[0]);
        ReleaseHandle = Release[1];
        pollfd Wait{Ready[0], POLLIN, 0};
        char Answer = 0;
        Holding = ::poll(&Wait, 1, 5000) == 1 && ::read(Ready[0], &Answer, 1) == 1 && Answer == '1';
        ::close(Ready[0]);
    }
    ~THoldingProcess() {
        if (ReleaseHandle >= 0) {
            ::close(ReleaseHandle);
        }
        if (Pid > 0) {
            ::kill(Pid, SIGKILL); // in case it never got as far as waiting
            ::waitpid(Pid, nullptr, 0);
        }
    }
    THoldingProcess(const THoldingProcess&) = delete;
    THoldingProcess& operator=(const THoldingProcess&) = delete;

    pid_t Pid = -1;
    bool Holding = false;

private:
    int ReleaseHandle = -1;
};

} // namespace

TEST(PortMap, MapsPortsThroughThePortsSectionElseToTtyS) {
    QTemporaryDir Dir;
    const QString Ini = QDir(Dir.path()).filePath("Bootload.Ini");
    EXPECT_EQ(PortDevicePath(1, Ini), "/dev/ttyS0"); // no file at all
    QFile File(Ini);
    ASSERT_TRUE(File.open(QIODevice::WriteOnly));
    // Names without regard to case, and numbers beyond COM32 as any other.
    File.write("[Options]\nComms_Port=3\n[ports]\nCOM3=/dev/ttyUSB0\n"
               "COM4=/dev/serial/by-id/usb-Maker,Model-if00\nCOM5=  \ncom40 = /dev/ttyACM0\n");
    File.close();
    const QByteArray Before = [&] {
        QFile Read(Ini);
        Read.open(QIODevice::ReadOnly);
        return Read.readAll();
    }();
    EXPECT_EQ(PortDevicePath(3, Ini), "/dev/ttyUSB0");
    EXPECT_EQ(PortDevicePath(4, Ini), "/dev/serial/by-id/usb-Maker,Model-if00");
    EXPECT_EQ(PortDevicePath(5, Ini), "/dev/ttyS4"); // empty value: not mapped
    EXPECT_EQ(PortDevicePath(10, Ini), "/dev/ttyS9");
    EXPECT_EQ(PortDevicePath(40, Ini), "/dev/ttyACM0");
    EXPECT_EQ(PortDevicePath(256, Ini), "/dev/ttyS255");
    // Numbers given for this run only count where the file has no key.
    const TSessionPortMap Session{{3, "/dev/ttyUSB7"}, {7, "/dev/ttyUSB8"}};
    EXPECT_EQ(PortDevicePath(3, Ini, Session), "/dev/ttyUSB0");
    EXPECT_EQ(PortDevicePath(7, Ini, Session), "/dev/ttyUSB8");
    QFile Read(Ini);
    Read.open(QIODevice::ReadOnly);
    EXPECT_EQ(Read.readAll(), Before) << "the map is never written";
}

TEST(PortMap, WithoutAFileNameReadsBootloadIniInTheCurrentDirectory) {
    TPtyPair Pty;
    TPortMapFile Map(7, Pty.SlavePath);
    const QString Saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Map.DirPath()));
    TKestComms Comms;
    Comms.CommPort = COM7;
    Comms.BaudRate = 115200;
    const bool Opened = Comms.Open();
    QDir::setCurrent(Saved);
    EXPECT_TRUE(Opened);
    EXPECT_EQ(Comms.DevicePath(), Pty.SlavePath);
}

TEST(SerialOpen, OpensThroughThePortsMapAndDeliversWhatArrives) {
    TOpenPort Port(COM3);
    ASSERT_TRUE(Port.Comms.Open());
    EXPECT_TRUE(Port.Comms.IsOpen());
    EXPECT_EQ(Port.Comms.DevicePath(), Port.Pty.SlavePath);
    EXPECT_EQ(Port.Comms.ReplyStateValue(), -1);
    ASSERT_TRUE(Port.Pty.Write("hello"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Port.Received == "hello"; }, 5000));
}

TEST(SerialOpen, AnyEightBitPortNumberIsMapped) {
    TOpenPort Port(static_cast<TComport>(200)); // COM201, outside the 32 named ports
    EXPECT_TRUE(Port.Comms.Open());
    EXPECT_EQ(Port.Comms.DevicePath(), Port.Pty.SlavePath);
}

TEST(SerialOpen, SecondOpenRaisesAndTheFirstKeepsWorking) {
    TOpenPort Port;
    ASSERT_TRUE(Port.Comms.Open());
    try {
        Port.Comms.Open();
        ADD_FAILURE() << "no exception";
    } catch (const ECommsError& Error) {
        EXPECT_STREQ(Error.what(), "Already have a Comm File Open");
    }
    EXPECT_TRUE(Port.Comms.IsOpen());
    const uint8_t Frame[] = {1, 2, 3};
    EXPECT_TRUE(Port.Comms.SendFrame(Frame, 3, 5));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Port.Pty.ReadAvailable() == Hex("010203"); }, 5000));
    ASSERT_TRUE(Port.Pty.Write("x"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Port.Received == "x"; }, 5000));
}

TEST(SerialOpen, ASecondComponentOnTheSamePortIsRefused) {
    TOpenPort Port;
    ASSERT_TRUE(Port.Comms.Open());
    TKestComms Other;
    Other.CommPort = Port.Comms.CommPort;
    Other.PortMapFile = Port.Comms.PortMapFile;
    TSerialTrace Trace;
    EXPECT_FALSE(Other.Open());
    EXPECT_FALSE(Other.IsOpen());
    EXPECT_TRUE(Trace.Text().contains(Port.Pty.SlavePath)) << Trace.Text().toStdString();
    // Released on Close, so the second component can then have it.
    Port.Comms.Close();
    EXPECT_TRUE(Other.Open());
}

TEST(SerialOpen, AnotherProgramCannotOpenTheHeldPort) {
    if (RunningAsRoot()) {
        GTEST_SKIP() << "root bypasses exclusive mode; the unprivileged run checks this";
    }
    TOpenPort Port;
    ASSERT_TRUE(Port.Comms.Open());
    const QByteArray Path = Port.Pty.SlavePath.toLocal8Bit();
    const int Handle = ::open(Path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const int Error = errno;
    if (Handle >= 0) {
        ::close(Handle);
    }
    EXPECT_LT(Handle, 0);
    EXPECT_EQ(Error, EBUSY);
}

TEST(SerialOpen, ThePortCanBeOpenedAgainAfterClose) {
    // On a pty the exclusive flag outlives the descriptor unless Close clears it.
    TOpenPort Port;
    for (int Round = 0; Round < 3; ++Round) {
        ASSERT_TRUE(Port.Comms.Open()) << "round " << Round;
        Port.Comms.Close();
    }
    const QByteArray Path = Port.Pty.SlavePath.toLocal8Bit();
    const int Handle = ::open(Path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(Handle, 0) << "a plain open after Close";
    if (Handle >= 0) {
        ::close(Handle);
    }
}

TEST(SerialOpen, WhatIsNotATerminalRaisesAndStaysClosed) {
    QTemporaryDir Dir;
    const QString Plain = QDir(Dir.path()).filePath("plain.bin");
    QFile File(Plain);
    ASSERT_TRUE(File.open(QIODevice::WriteOnly));
    File.close();
    for (const QString& Path : {Plain, QStringLiteral("/dev/null")}) {
        TPortMapFile Map(2, Path);
        TKestComms Comms;
        Comms.CommPort = COM2;
        Comms.PortMapFile = Map.Path();
        try {
            Comms.Open();
            ADD_FAILURE() << "no exception for " << Path.toStdString();
        } catch (const ECommsError& Error) {
            EXPECT_STREQ(Error.what(), "File Handle is not a Comm Handle.");
        }
        EXPECT_FALSE(Comms.IsOpen());
        const uint8_t Byte = 0;
        EXPECT_FALSE(Comms.SendFrame(&Byte, 1, 0));
    }
}

TEST(SerialOpen, AMissingDeviceReturnsFalseAndTracesWhy) {
    TPortMapFile Map(4, "/dev/does-not-exist-here");
    TKestComms Comms;
    Comms.CommPort = COM4;
    Comms.PortMapFile = Map.Path();
    TSerialTrace Trace;
    EXPECT_FALSE(Comms.Open());
    EXPECT_FALSE(Comms.IsOpen());
    EXPECT_TRUE(Trace.Text().contains("/dev/does-not-exist-here"));
    EXPECT_TRUE(Trace.Text().contains("No such file or directory")) << Trace.Text().toStdString();
    EXPECT_EQ(Comms.LastOpenFailure().Kind, TOpenFailureKind::NotConnected);
    EXPECT_TRUE(Trace.Text().contains("COM4 (/dev/does-not-exist-here) is not connected."))
        << "the operator's reason is traced too";
}

TEST(SerialOpen, ADeviceAnotherProcessHoldsIsInUseAndItsHolderNamed) {
    TOpenPort Port;
    THoldingProcess Holder(Port.Pty.SlavePath);
    ASSERT_TRUE(Holder.Holding);
    // As root the open succeeds and the lock is refused; otherwise exclusive mode refuses
    // the open itself. Either way the holder is found through /proc.
    EXPECT_FALSE(Port.Comms.Open());
    EXPECT_FALSE(Port.Comms.IsOpen());
    const TOpenFailure& Failure = Port.Comms.LastOpenFailure();
    EXPECT_EQ(Failure.Kind, TOpenFailureKind::InUse);
    EXPECT_EQ(Failure.HolderPid, Holder.Pid);
    const QString Reason = Failure.Reason("COM3");
    EXPECT_TRUE(Reason.startsWith(
        QStringLiteral("COM3 (%1) is in use by another program (").arg(Port.Pty.SlavePath)))
        << Reason.toStdString();
    EXPECT_TRUE(Reason.contains(QStringLiteral(", pid %1).").arg(Holder.Pid)))
        << Reason.toStdString();
}

TEST(SerialOpen, ADeviceWithoutRightsReturnsFalseAndTracesWhy) {
    if (RunningAsRoot()) {
        GTEST_SKIP() << "root has every right; the unprivileged run checks this";
    }
    TOpenPort Port;
    const QByteArray Path = Port.Pty.SlavePath.toLocal8Bit();
    // Its group may use it, its owner (this user) may not: the reason names the group.
    ASSERT_EQ(::chmod(Path.constData(), 0060), 0);
    struct stat Node {};
    ASSERT_EQ(::stat(Path.constData(), &Node), 0);
    // Its name is copied at once: the entry lives in the buffer, not in shared storage
    // that a later look-up would overwrite.
    std::vector<char> Buffer(16384);
    group Entry{};
    group* Found = nullptr;
    ASSERT_EQ(::getgrgid_r(Node.st_gid, &Entry, Buffer.data(), Buffer.size(), &Found), 0);
    ASSERT_NE(Found, nullptr) << "the pty's group has no name";
    const QString GroupName = QString::fromLocal8Bit(Entry.gr_name);
    TSerialTrace Trace;
    EXPECT_FALSE(Port.Comms.Open());
    EXPECT_FALSE(Port.Comms.IsOpen());
    EXPECT_TRUE(Trace.Text().contains("Permission denied")) << Trace.Text().toStdString();
    EXPECT_EQ(Port.Comms.LastOpenFailure().Kind, TOpenFailureKind::NoPermission);
    EXPECT_EQ(Port.Comms.LastOpenFailure().Reason("COM3"),
              QStringLiteral("COM3 (%1): permission denied. Join the group that owns it: sudo "
                             "adduser $USER %2, then log in again.")
                  .arg(Port.Pty.SlavePath, GroupName));
}

TEST(SerialRate, AnyRateReadsBackFromTheMasterAsSet) {
    for (const uint32_t Rate : {800000u, 92160u, 115200u, 9600u, 250000u}) {
        TOpenPort Port(COM3, Rate);
        ASSERT_TRUE(Port.Comms.Open()) << Rate;
        uint32_t Output = 0;
        uint32_t Input = 0;
        ASSERT_TRUE(GetLineRate(Port.Pty.Master, Output, Input));
        EXPECT_EQ(Output, Rate);
        EXPECT_TRUE(Input == Rate || Input == 0) << Input;
    }
}

TEST(SerialRate, ARateOf0IsRefusedWithoutTouchingTheLine) {
    // B0 would hang the line up.
    TOpenPort Port(COM3, 0);
    uint32_t Before = 0;
    uint32_t Input = 0;
    ASSERT_TRUE(GetLineRate(Port.Pty.Master, Before, Input));
    ASSERT_NE(Before, 0u);
    EXPECT_FALSE(Port.Comms.Open());
    EXPECT_FALSE(Port.Comms.IsOpen());
    uint32_t After = 0;
    ASSERT_TRUE(GetLineRate(Port.Pty.Master, After, Input));
    EXPECT_EQ(After, Before);
    EXPECT_EQ(Port.Comms.LastOpenFailure().Kind, TOpenFailureKind::RateRefused);
    EXPECT_EQ(
        Port.Comms.LastOpenFailure().Reason("COM3"),
        QStringLiteral("COM3 (%1): a bit rate of 0 baud is not possible.").arg(Port.Pty.SlavePath));
}

TEST(SerialRate, LineSettingsTheDriverChangesFailTheOpen) {
    // A pty keeps eight data bits and no parity whatever it is asked for.
    TOpenPort Port;
    Port.Comms.Parity = TParity::Even;
    TSerialTrace Trace;
    EXPECT_FALSE(Port.Comms.Open());
    EXPECT_FALSE(Port.Comms.IsOpen());
    EXPECT_TRUE(Trace.Text().contains("refused")) << Trace.Text().toStdString();
    Port.Comms.DataBits = 9;
    Port.Comms.Parity = TParity::None;
    EXPECT_FALSE(Port.Comms.Open());
    Port.Comms.DataBits = 8;
    Port.Comms.StopBits = TStopBits::sb1_5; // only possible with five data bits
    EXPECT_FALSE(Port.Comms.Open());
    Port.Comms.StopBits = TStopBits::sb2;
    EXPECT_TRUE(Port.Comms.Open());
}

TEST(SerialTransfer, EveryByteValuePassesUnchangedBothWays) {
    TOpenPort Port;
    ASSERT_TRUE(Port.Comms.Open());
    QByteArray All;
    for (int Value = 0; Value < 256; ++Value) {
        All.append(static_cast<char>(Value));
    }
    All += Hex("0d0a 0a0d 1113 0304 1a7f");
    ASSERT_TRUE(Port.Pty.Write(All));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Port.Received.size() >= All.size(); }, 5000));
    EXPECT_EQ(Port.Received, All);
    ASSERT_TRUE(Port.Comms.SendFrame(reinterpret_cast<const uint8_t*>(All.constData()),
                                     static_cast<uint16_t>(All.size()), 5));
    QByteArray Out;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            Out += Port.Pty.ReadAvailable();
            return Out.size() >= All.size();
        },
        5000));
    EXPECT_EQ(Out, All);
}

TEST(SerialTransfer, AMegabyteInRandomWritesArrivesCompleteAndInOrder) {
    TOpenPort Port;
    Port.Comms.BaudRate = 921600;
    ASSERT_TRUE(Port.Comms.Open());
    std::mt19937 Random(2024);
    QByteArray Sent(1 << 20, Qt::Uninitialized);
    for (char& Byte : Sent) {
        Byte = static_cast<char>(Random());
    }
    std::atomic<bool> WriterOk{true};
    std::thread Writer([&] {
        std::mt19937 Sizes(7);
        qsizetype Done = 0;
        while (Done < Sent.size() && WriterOk) {
            const qsizetype Size = std::min<qsizetype>(1 + Sizes() % 9000, Sent.size() - Done);
            WriterOk = Port.Pty.Write(Sent.mid(Done, Size), 20000);
            Done += Size;
        }
    });
    const bool Complete =
        QTest::qWaitFor([&] { return Port.Received.size() >= Sent.size(); }, 60000);
    Writer.join();
    EXPECT_TRUE(WriterOk);
    EXPECT_TRUE(Complete) << Port.Received.size();
    EXPECT_TRUE(Port.Received == Sent);
    EXPECT_GT(Port.Chunks, 64) << "a megabyte cannot come in one read";
}

TEST(SerialLine, AHangUpMidStreamEndsTheThreadQuietly) {
    auto Port = std::make_unique<TOpenPort>();
    ASSERT_TRUE(Port->Comms.Open());
    ASSERT_TRUE(TKestCommsTestAccess::RxThreadRunning(Port->Comms));
    ASSERT_TRUE(Port->Pty.Write(QByteArray(3000, 'a')));
    Port->Pty.HangUp();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return !TKestCommsTestAccess::RxThreadRunning(Port->Comms); }, 5000))
        << "the receive thread still runs on a hung-up line";
    EXPECT_TRUE(Port->Comms.IsOpen());
    // A transaction on the dead line fails to write and times out.
    const uint8_t Frame[] = {0x13, 0x03};
    EXPECT_FALSE(Port->Comms.SendFrame(Frame, 2, 0));
    EXPECT_EQ(Port->Comms.WaitForReply(), 0);
    Port->Comms.Close();
    EXPECT_FALSE(Port->Comms.IsOpen());

    // The same component opens a new line afterwards.
    TPtyPair Fresh;
    TPortMapFile Map(3, Fresh.SlavePath);
    Port->Comms.PortMapFile = Map.Path();
    Port->Received.clear();
    ASSERT_TRUE(Port->Comms.Open());
    ASSERT_TRUE(Fresh.Write("ok"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Port->Received == "ok"; }, 5000));
}

TEST(SerialClose, CloseIsHarmlessTwiceAndBeforeAnyOpen) {
    TKestComms Never;
    Never.Close();
    EXPECT_EQ(Never.ReplyStateValue(), -2);
    const uint8_t Byte = 1;
    EXPECT_FALSE(Never.SendFrame(&Byte, 1, 0));
    EXPECT_EQ(Never.WaitForReply(), -2);
    Never.Close();

    TOpenPort Port;
    ASSERT_TRUE(Port.Comms.Open());
    Port.Comms.Close();
    EXPECT_EQ(Port.Comms.ReplyStateValue(), -1);
    EXPECT_EQ(Port.Comms.RxBufferData(), nullptr);
    Port.Comms.Close();
    EXPECT_FALSE(Port.Comms.IsOpen());
    EXPECT_FALSE(Port.Comms.SendFrame(&Byte, 1, 0));
}

TEST(SerialClose, DestroyingAnOpenComponentReleasesThePort) {
    TPtyPair Pty;
    TPortMapFile Map(3, Pty.SlavePath);
    auto Comms = std::make_unique<TKestComms>();
    Comms->CommPort = COM3;
    Comms->PortMapFile = Map.Path();
    ASSERT_TRUE(Comms->Open());
    ASSERT_TRUE(Pty.Write(QByteArray(500, 'z'))); // chunks in flight when it goes
    Comms.reset();
    QCoreApplication::processEvents(); // posted chunks for the dead object are dropped

    TKestComms Next;
    Next.CommPort = COM3;
    Next.PortMapFile = Map.Path();
    EXPECT_TRUE(Next.Open());
}

TEST(SerialClose, ChunksReadBeforeACloseAreDroppedAfterReopening) {
    TOpenPort Port;
    ASSERT_TRUE(Port.Comms.Open());
    const uint64_t Earlier = TKestCommsTestAccess::Session(Port.Comms);
    Port.Comms.Close();
    ASSERT_TRUE(Port.Comms.Open());
    TRxChunkEvent Stale(QByteArray("old"), Earlier);
    QCoreApplication::sendEvent(&Port.Comms, &Stale);
    EXPECT_TRUE(Port.Received.isEmpty());
    EXPECT_EQ(Port.Comms.RxWritePosValue(), 0);
    TRxChunkEvent Current(QByteArray("new"), TKestCommsTestAccess::Session(Port.Comms));
    QCoreApplication::sendEvent(&Port.Comms, &Current);
    EXPECT_EQ(Port.Received, "new");
}

TEST(SerialDevice, AWriteThatCannotDrainFailsWithinItsBound) {
    TPtyPair Pty; // nobody reads the master, so the line fills up
    TPosixSerialDevice Device;
    ASSERT_EQ(Device.Open(Pty.SlavePath), TSerialDevice::TOpenResult::Opened);
    ASSERT_TRUE(Device.Configure(TLineSettings{115200, 8, 0, 0}));
    const std::vector<uint8_t> Lots(4 << 20, 0x55);
    QElapsedTimer Clock;
    Clock.start();
    EXPECT_FALSE(Device.Write(Lots.data(), Lots.size(), 300));
    EXPECT_LT(Clock.elapsed(), 3000);
    EXPECT_TRUE(Device.LastError().contains("timed out")) << Device.LastError().toStdString();
}
