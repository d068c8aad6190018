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
#include "serial/RxCondition.h"
#include "serial/RxThread.h"
#include "serial/ThreadPriority.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <random>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
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
// in exclusive mode, until this object goes; or, OpenOnly, just open.
class THoldingProcess {
public:
    enum THold { Locked, OpenOnly };
    explicit THoldingProcess(const QString& DevicePath, THold Hold = Locked) {
        int ready[2];
        int release[2];
        if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0) {
            return;
        }
        const QByteArray path = DevicePath.toLocal8Bit();
        Pid = ::fork();
        if (Pid == 0) {
            // Only async-signal-safe calls from here on.
            const int handle = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            const bool held =
                handle >= 0 && (Hold == OpenOnly || (::flock(handle, LOCK_EX | LOCK_NB) == 0 &&
                                                     ::ioctl(handle, TIOCEXCL) == 0));
            const char answer = held ? '1' : '0';
            (void)!::write(ready[1], &answer, 1);
            char byte = 0;
            (void)!::read(release[0], &byte, 1); // returns when the parent closes its end
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        ReleaseHandle = release[1];
        pollfd wait{ready[0], POLLIN, 0};
        char answer = 0;
        Holding = ::poll(&wait, 1, 5000) == 1 && ::read(ready[0], &answer, 1) == 1 && answer == '1';
        ::close(ready[0]);
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
    QTemporaryDir dir;
    const QString ini = QDir(dir.path()).filePath("Bootload.Ini");
    EXPECT_EQ(PortDevicePath(1, ini), "/dev/ttyS0"); // no file at all
    QFile file(ini);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    // Names without regard to case, and numbers beyond COM32 as any other.
    file.write("[Options]\nComms_Port=3\n[ports]\nCOM3=/dev/ttyUSB0\n"
               "COM4=/dev/serial/by-id/usb-Maker,Model-if00\nCOM5=  \ncom40 = /dev/ttyACM0\n");
    file.close();
    const QByteArray before = [&] {
        QFile read(ini);
        read.open(QIODevice::ReadOnly);
        return read.readAll();
    }();
    EXPECT_EQ(PortDevicePath(3, ini), "/dev/ttyUSB0");
    EXPECT_EQ(PortDevicePath(4, ini), "/dev/serial/by-id/usb-Maker,Model-if00");
    EXPECT_EQ(PortDevicePath(5, ini), "/dev/ttyS4"); // empty value: not mapped
    EXPECT_EQ(PortDevicePath(10, ini), "/dev/ttyS9");
    EXPECT_EQ(PortDevicePath(40, ini), "/dev/ttyACM0");
    EXPECT_EQ(PortDevicePath(256, ini), "/dev/ttyS255");
    // Numbers given for this run only count where the file has no key.
    const TSessionPortMap session{{3, "/dev/ttyUSB7"}, {7, "/dev/ttyUSB8"}};
    EXPECT_EQ(PortDevicePath(3, ini, session), "/dev/ttyUSB0");
    EXPECT_EQ(PortDevicePath(7, ini, session), "/dev/ttyUSB8");
    QFile read(ini);
    read.open(QIODevice::ReadOnly);
    EXPECT_EQ(read.readAll(), before) << "the map is never written";
}

TEST(PortMap, WithoutAFileNameReadsBootloadIniInTheCurrentDirectory) {
    TPtyPair pty;
    TPortMapFile map(7, pty.SlavePath);
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(map.DirPath()));
    TKestComms comms;
    comms.CommPort = COM7;
    comms.BaudRate = 115200;
    const bool opened = comms.Open();
    QDir::setCurrent(saved);
    EXPECT_TRUE(opened);
    EXPECT_EQ(comms.DevicePath(), pty.SlavePath);
}

TEST(SerialOpen, OpensThroughThePortsMapAndDeliversWhatArrives) {
    TOpenPort port(COM3);
    ASSERT_TRUE(port.Comms.Open());
    EXPECT_TRUE(port.Comms.IsOpen());
    EXPECT_EQ(port.Comms.DevicePath(), port.Pty.SlavePath);
    EXPECT_EQ(port.Comms.ReplyStateValue(), -1);
    ASSERT_TRUE(port.Pty.Write("hello"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return port.Received == "hello"; }, 5000));
}

// Nice values of this process's threads, from /proc/self/task/*/stat (field 19).
std::vector<int> ThreadNiceValues() {
    std::vector<int> values;
    for (const QString& task :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(task));
        if (!stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 16) {
            values.push_back(fields[16].toInt());
        }
    }
    return values;
}

TEST(SerialOpen, TheReceiveThreadRunsAtARaisedPriorityWhereAllowed) {
    rlimit limit{};
    ::getrlimit(RLIMIT_NICE, &limit);
    const int own = ::getpriority(PRIO_PROCESS, 0);
    const int raised = std::max(own - RaisedNiceSteps, -20);
    if (!RunningAsRoot() &&
        (limit.rlim_cur == RLIM_INFINITY ? false
                                         : 20 - static_cast<int>(limit.rlim_cur) > raised)) {
        GTEST_SKIP() << "RLIMIT_NICE does not allow nice " << raised;
    }
    TOpenPort port(COM3);
    ASSERT_TRUE(port.Comms.Open());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const std::vector<int> values = ThreadNiceValues();
            return std::count(values.begin(), values.end(), raised) == 1;
        },
        5000))
        << "no thread at nice " << raised << " beside the process's " << own;
}

TEST(SerialOpen, AnyEightBitPortNumberIsMapped) {
    TOpenPort port(static_cast<TComport>(200)); // COM201, outside the 32 named ports
    EXPECT_TRUE(port.Comms.Open());
    EXPECT_EQ(port.Comms.DevicePath(), port.Pty.SlavePath);
}

TEST(SerialOpen, SecondOpenRaisesAndTheFirstKeepsWorking) {
    TOpenPort port;
    ASSERT_TRUE(port.Comms.Open());
    try {
        port.Comms.Open();
        ADD_FAILURE() << "no exception";
    } catch (const ECommsError& error) {
        EXPECT_STREQ(error.what(), "Already have a Comm File Open");
    }
    EXPECT_TRUE(port.Comms.IsOpen());
    const uint8_t frame[] = {1, 2, 3};
    EXPECT_TRUE(port.Comms.SendFrame(frame, 3, 5));
    EXPECT_TRUE(QTest::qWaitFor([&] { return port.Pty.ReadAvailable() == Hex("010203"); }, 5000));
    ASSERT_TRUE(port.Pty.Write("x"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return port.Received == "x"; }, 5000));
}

TEST(SerialOpen, ASecondComponentOnTheSamePortIsRefused) {
    TOpenPort port;
    ASSERT_TRUE(port.Comms.Open());
    TKestComms other;
    other.CommPort = port.Comms.CommPort;
    other.PortMapFile = port.Comms.PortMapFile;
    TSerialTrace trace;
    EXPECT_FALSE(other.Open());
    EXPECT_FALSE(other.IsOpen());
    EXPECT_TRUE(trace.Text().contains(port.Pty.SlavePath)) << trace.Text().toStdString();
    // Released on Close, so the second component can then have it.
    port.Comms.Close();
    EXPECT_TRUE(other.Open());
}

TEST(SerialOpen, AnotherProgramCannotOpenTheHeldPort) {
    if (RunningAsRoot()) {
        GTEST_SKIP() << "root bypasses exclusive mode; the unprivileged run checks this";
    }
    TOpenPort port;
    ASSERT_TRUE(port.Comms.Open());
    const QByteArray path = port.Pty.SlavePath.toLocal8Bit();
    const int handle = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const int error = errno;
    if (handle >= 0) {
        ::close(handle);
    }
    EXPECT_LT(handle, 0);
    EXPECT_EQ(error, EBUSY);
}

TEST(SerialOpen, ThePortCanBeOpenedAgainAfterClose) {
    // On a pty the exclusive flag outlives the descriptor unless Close clears it.
    TOpenPort port;
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(port.Comms.Open()) << "round " << round;
        port.Comms.Close();
    }
    const QByteArray path = port.Pty.SlavePath.toLocal8Bit();
    const int handle = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(handle, 0) << "a plain open after Close";
    if (handle >= 0) {
        ::close(handle);
    }
}

TEST(SerialOpen, WhatIsNotATerminalRaisesAndStaysClosed) {
    QTemporaryDir dir;
    const QString plain = QDir(dir.path()).filePath("plain.bin");
    QFile file(plain);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    for (const QString& path : {plain, QStringLiteral("/dev/null")}) {
        TPortMapFile map(2, path);
        TKestComms comms;
        comms.CommPort = COM2;
        comms.PortMapFile = map.Path();
        try {
            comms.Open();
            ADD_FAILURE() << "no exception for " << path.toStdString();
        } catch (const ECommsError& error) {
            EXPECT_STREQ(error.what(), "File Handle is not a Comm Handle.");
        }
        EXPECT_FALSE(comms.IsOpen());
        const uint8_t byte = 0;
        EXPECT_FALSE(comms.SendFrame(&byte, 1, 0));
    }
}

TEST(SerialOpen, AMissingDeviceReturnsFalseAndTracesWhy) {
    TPortMapFile map(4, "/dev/does-not-exist-here");
    TKestComms comms;
    comms.CommPort = COM4;
    comms.PortMapFile = map.Path();
    TSerialTrace trace;
    EXPECT_FALSE(comms.Open());
    EXPECT_FALSE(comms.IsOpen());
    EXPECT_TRUE(trace.Text().contains("/dev/does-not-exist-here"));
    EXPECT_TRUE(trace.Text().contains("No such file or directory")) << trace.Text().toStdString();
    EXPECT_EQ(comms.LastOpenFailure().Kind, TOpenFailureKind::NotConnected);
    EXPECT_TRUE(trace.Text().contains("COM4 (/dev/does-not-exist-here) is not connected."))
        << "the operator's reason is traced too";
}

TEST(SerialOpen, ADeviceAnotherProcessHoldsIsInUseAndItsHolderNamed) {
    TOpenPort port;
    THoldingProcess holder(port.Pty.SlavePath);
    ASSERT_TRUE(holder.Holding);
    // As root the open succeeds and the lock is refused; otherwise exclusive mode refuses
    // the open itself. Either way the holder is found through /proc.
    EXPECT_FALSE(port.Comms.Open());
    EXPECT_FALSE(port.Comms.IsOpen());
    const TOpenFailure& failure = port.Comms.LastOpenFailure();
    EXPECT_EQ(failure.Kind, TOpenFailureKind::InUse);
    EXPECT_EQ(failure.HolderPid, holder.Pid);
    const QString reason = failure.Reason("COM3");
    EXPECT_TRUE(reason.startsWith(
        QStringLiteral("COM3 (%1) is in use by another program (").arg(port.Pty.SlavePath)))
        << reason.toStdString();
    EXPECT_TRUE(reason.contains(QStringLiteral(", pid %1).").arg(holder.Pid)))
        << reason.toStdString();
}

// The search reads each descriptor's link text first and examines only those open on
// a path under /dev: a stat() of a descriptor on a hung network or FUSE mount would hold
// up the window until the mount answers.
TEST(SerialOpen, TheHolderSearchExaminesOnlyDescriptorsOpenUnderDev) {
    TPtyPair pty;
    THoldingProcess device(pty.SlavePath, THoldingProcess::OpenOnly);
    ASSERT_TRUE(device.Holding);
    pid_t pid = 0;
    QString name;
    EXPECT_TRUE(FindDeviceHolder(pty.SlavePath, pid, name)) << "no lock: found by its descriptor";
    EXPECT_EQ(pid, device.Pid);

    QTemporaryDir dir;
    const QString plain = QDir(dir.path()).filePath(QStringLiteral("held.bin"));
    QFile file(plain);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    THoldingProcess other(plain, THoldingProcess::OpenOnly);
    ASSERT_TRUE(other.Holding);
    EXPECT_FALSE(FindDeviceHolder(plain, pid, name))
        << "a descriptor outside /dev was examined: pid " << pid;
}

// A run pins its port. Until a device answers, a re-open goes where the name leads (a
// line lost and back); once one has, a re-open that finds another device at the same
// path (an adapter made anew) fails as a lost port does. A pty cannot be opened through a
// node made elsewhere, so the path is a bind mount of one pty, then of the other: root
// only.
TEST(SerialOpen, APinnedPortKeepsToTheDeviceThatAnsweredEvenAtItsPath) {
    TPtyPair first;
    TPtyPair second;
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("ttyUSB0"));
    QFile target(path);
    ASSERT_TRUE(target.open(QIODevice::WriteOnly));
    target.close();
    const QByteArray node = QFile::encodeName(path);
    bool mounted = false;
    const auto bindTo = [&](const QString& Device) {
        if (mounted && ::umount2(node.constData(), MNT_DETACH) != 0) {
            return false;
        }
        mounted = ::mount(QFile::encodeName(Device).constData(), node.constData(), nullptr, MS_BIND,
                          nullptr) == 0;
        return mounted;
    };
    if (!bindTo(first.SlavePath)) {
        GTEST_SKIP() << "a bind mount needs root";
    }
    const auto unmount = qScopeGuard([&] {
        if (mounted) {
            ::umount2(node.constData(), MNT_DETACH);
        }
    });
    TRxCondition answer;
    answer.AddItem(1, "A", false, 1, "Z", false, 0, 0, 0);
    TKestComms comms;
    comms.NamedDevice = path;
    comms.BaudRate = 115200;
    comms.PinDevice();
    ASSERT_TRUE(comms.Open());
    comms.Close();
    ASSERT_TRUE(bindTo(second.SlavePath));
    ASSERT_TRUE(comms.Open()) << "nothing has answered yet: the device now at the path";
    comms.SetRxCondition(&answer);
    comms.ResetRxCondition();
    ASSERT_TRUE(second.Write("AZ"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return comms.ReplyStateValue() == 1; }, 5000));
    comms.Close();
    ASSERT_TRUE(comms.Open()) << "the device that answered, again";
    comms.Close();

    ASSERT_TRUE(bindTo(first.SlavePath));
    TSerialTrace trace;
    EXPECT_FALSE(comms.Open());
    EXPECT_FALSE(comms.IsOpen());
    EXPECT_EQ(comms.LastOpenFailure().Kind, TOpenFailureKind::DeviceChanged);
    EXPECT_TRUE(trace.Text().contains(QStringLiteral("the device this update began on")))
        << trace.Text().toStdString();
    comms.UnpinDevice();
    EXPECT_TRUE(comms.Open()) << "unpinned, the path is opened as it is now";
}

TEST(SerialOpen, ADeviceWithoutRightsReturnsFalseAndTracesWhy) {
    if (RunningAsRoot()) {
        GTEST_SKIP() << "root has every right; the unprivileged run checks this";
    }
    TOpenPort port;
    const QByteArray path = port.Pty.SlavePath.toLocal8Bit();
    // Its group may use it, its owner (this user) may not: the reason names the group.
    ASSERT_EQ(::chmod(path.constData(), 0060), 0);
    struct stat node {};
    ASSERT_EQ(::stat(path.constData(), &node), 0);
    // Its name is copied at once: the entry lives in the buffer, not in shared storage
    // that a later look-up would overwrite.
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    ASSERT_EQ(::getgrgid_r(node.st_gid, &entry, buffer.data(), buffer.size(), &found), 0);
    ASSERT_NE(found, nullptr) << "the pty's group has no name";
    const QString groupName = QString::fromLocal8Bit(entry.gr_name);
    TSerialTrace trace;
    EXPECT_FALSE(port.Comms.Open());
    EXPECT_FALSE(port.Comms.IsOpen());
    EXPECT_TRUE(trace.Text().contains("Permission denied")) << trace.Text().toStdString();
    EXPECT_EQ(port.Comms.LastOpenFailure().Kind, TOpenFailureKind::NoPermission);
    EXPECT_EQ(port.Comms.LastOpenFailure().Reason("COM3"),
              QStringLiteral("COM3 (%1): permission denied. Join the group that owns it: sudo "
                             "adduser $USER %2, then log in again.")
                  .arg(port.Pty.SlavePath, groupName));
}

TEST(SerialRate, AnyRateReadsBackFromTheMasterAsSet) {
    for (const uint32_t rate : {800000u, 92160u, 115200u, 9600u, 250000u}) {
        TOpenPort port(COM3, rate);
        ASSERT_TRUE(port.Comms.Open()) << rate;
        uint32_t output = 0;
        uint32_t input = 0;
        ASSERT_TRUE(GetLineRate(port.Pty.Master, output, input));
        EXPECT_EQ(output, rate);
        EXPECT_TRUE(input == rate || input == 0) << input;
    }
}

TEST(SerialRate, ARateOf0IsRefusedWithoutTouchingTheLine) {
    // B0 would hang the line up.
    TOpenPort port(COM3, 0);
    uint32_t before = 0;
    uint32_t input = 0;
    ASSERT_TRUE(GetLineRate(port.Pty.Master, before, input));
    ASSERT_NE(before, 0u);
    EXPECT_FALSE(port.Comms.Open());
    EXPECT_FALSE(port.Comms.IsOpen());
    uint32_t after = 0;
    ASSERT_TRUE(GetLineRate(port.Pty.Master, after, input));
    EXPECT_EQ(after, before);
    EXPECT_EQ(port.Comms.LastOpenFailure().Kind, TOpenFailureKind::RateRefused);
    EXPECT_EQ(
        port.Comms.LastOpenFailure().Reason("COM3"),
        QStringLiteral("COM3 (%1): a bit rate of 0 baud is not possible.").arg(port.Pty.SlavePath));
}

TEST(SerialRate, LineSettingsTheDriverChangesFailTheOpen) {
    // A pty keeps eight data bits and no parity whatever it is asked for.
    TOpenPort port;
    port.Comms.Parity = TParity::Even;
    TSerialTrace trace;
    EXPECT_FALSE(port.Comms.Open());
    EXPECT_FALSE(port.Comms.IsOpen());
    EXPECT_TRUE(trace.Text().contains("refused")) << trace.Text().toStdString();
    port.Comms.DataBits = 9;
    port.Comms.Parity = TParity::None;
    EXPECT_FALSE(port.Comms.Open());
    port.Comms.DataBits = 8;
    port.Comms.StopBits = TStopBits::sb1_5; // only possible with five data bits
    EXPECT_FALSE(port.Comms.Open());
    port.Comms.StopBits = TStopBits::sb2;
    EXPECT_TRUE(port.Comms.Open());
}

TEST(SerialTransfer, EveryByteValuePassesUnchangedBothWays) {
    TOpenPort port;
    ASSERT_TRUE(port.Comms.Open());
    QByteArray all;
    for (int value = 0; value < 256; ++value) {
        all.append(static_cast<char>(value));
    }
    all += Hex("0d0a 0a0d 1113 0304 1a7f");
    ASSERT_TRUE(port.Pty.Write(all));
    EXPECT_TRUE(QTest::qWaitFor([&] { return port.Received.size() >= all.size(); }, 5000));
    EXPECT_EQ(port.Received, all);
    ASSERT_TRUE(port.Comms.SendFrame(reinterpret_cast<const uint8_t*>(all.constData()),
                                     static_cast<uint16_t>(all.size()), 5));
    QByteArray out;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            out += port.Pty.ReadAvailable();
            return out.size() >= all.size();
        },
        5000));
    EXPECT_EQ(out, all);
}

TEST(SerialTransfer, AMegabyteInRandomWritesArrivesCompleteAndInOrder) {
    TOpenPort port;
    port.Comms.BaudRate = 921600;
    ASSERT_TRUE(port.Comms.Open());
    std::mt19937 random(2024);
    QByteArray sent(1 << 20, Qt::Uninitialized);
    for (char& byte : sent) {
        byte = static_cast<char>(random());
    }
    std::atomic<bool> writerOk{true};
    std::thread writer([&] {
        std::mt19937 sizes(7);
        qsizetype done = 0;
        while (done < sent.size() && writerOk) {
            const qsizetype size = std::min<qsizetype>(1 + sizes() % 9000, sent.size() - done);
            writerOk = port.Pty.Write(sent.mid(done, size), 20000);
            done += size;
        }
    });
    const bool complete =
        QTest::qWaitFor([&] { return port.Received.size() >= sent.size(); }, 60000);
    writer.join();
    EXPECT_TRUE(writerOk);
    EXPECT_TRUE(complete) << port.Received.size();
    EXPECT_TRUE(port.Received == sent);
    EXPECT_GT(port.Chunks, 64) << "a megabyte cannot come in one read";
}

TEST(SerialLine, AHangUpMidStreamEndsTheThreadQuietly) {
    auto port = std::make_unique<TOpenPort>();
    ASSERT_TRUE(port->Comms.Open());
    ASSERT_TRUE(TKestCommsTestAccess::RxThreadRunning(port->Comms));
    ASSERT_TRUE(port->Pty.Write(QByteArray(3000, 'a')));
    port->Pty.HangUp();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return !TKestCommsTestAccess::RxThreadRunning(port->Comms); }, 5000))
        << "the receive thread still runs on a hung-up line";
    EXPECT_TRUE(port->Comms.IsOpen());
    // A transaction on the dead line fails to write and times out.
    const uint8_t frame[] = {0x13, 0x03};
    EXPECT_FALSE(port->Comms.SendFrame(frame, 2, 0));
    EXPECT_EQ(port->Comms.WaitForReply(), 0);
    port->Comms.Close();
    EXPECT_FALSE(port->Comms.IsOpen());

    // The same component opens a new line afterwards.
    TPtyPair fresh;
    TPortMapFile map(3, fresh.SlavePath);
    port->Comms.PortMapFile = map.Path();
    port->Received.clear();
    ASSERT_TRUE(port->Comms.Open());
    ASSERT_TRUE(fresh.Write("ok"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return port->Received == "ok"; }, 5000));
}

TEST(SerialClose, CloseIsHarmlessTwiceAndBeforeAnyOpen) {
    TKestComms never;
    never.Close();
    EXPECT_EQ(never.ReplyStateValue(), -2);
    const uint8_t byte = 1;
    EXPECT_FALSE(never.SendFrame(&byte, 1, 0));
    EXPECT_EQ(never.WaitForReply(), -2);
    never.Close();

    TOpenPort port;
    ASSERT_TRUE(port.Comms.Open());
    port.Comms.Close();
    EXPECT_EQ(port.Comms.ReplyStateValue(), -1);
    EXPECT_EQ(port.Comms.RxBufferData(), nullptr);
    port.Comms.Close();
    EXPECT_FALSE(port.Comms.IsOpen());
    EXPECT_FALSE(port.Comms.SendFrame(&byte, 1, 0));
}

TEST(SerialClose, DestroyingAnOpenComponentReleasesThePort) {
    TPtyPair pty;
    TPortMapFile map(3, pty.SlavePath);
    auto comms = std::make_unique<TKestComms>();
    comms->CommPort = COM3;
    comms->PortMapFile = map.Path();
    ASSERT_TRUE(comms->Open());
    ASSERT_TRUE(pty.Write(QByteArray(500, 'z'))); // chunks in flight when it goes
    comms.reset();
    QCoreApplication::processEvents(); // posted chunks for the dead object are dropped

    TKestComms next;
    next.CommPort = COM3;
    next.PortMapFile = map.Path();
    EXPECT_TRUE(next.Open());
}

TEST(SerialClose, ChunksReadBeforeACloseAreDroppedAfterReopening) {
    TOpenPort port;
    ASSERT_TRUE(port.Comms.Open());
    const uint64_t earlier = TKestCommsTestAccess::Session(port.Comms);
    port.Comms.Close();
    ASSERT_TRUE(port.Comms.Open());
    TRxChunkEvent stale(QByteArray("old"), earlier);
    QCoreApplication::sendEvent(&port.Comms, &stale);
    EXPECT_TRUE(port.Received.isEmpty());
    EXPECT_EQ(port.Comms.RxWritePosValue(), 0);
    TRxChunkEvent current(QByteArray("new"), TKestCommsTestAccess::Session(port.Comms));
    QCoreApplication::sendEvent(&port.Comms, &current);
    EXPECT_EQ(port.Received, "new");
}

TEST(SerialDevice, AWriteThatCannotDrainFailsWithinItsBound) {
    TPtyPair pty; // nobody reads the master, so the line fills up
    TPosixSerialDevice device;
    ASSERT_EQ(device.Open(pty.SlavePath), TSerialDevice::TOpenResult::Opened);
    ASSERT_TRUE(device.Configure(TLineSettings{115200, 8, 0, 0}));
    const std::vector<uint8_t> lots(4 << 20, 0x55);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(device.Write(lots.data(), lots.size(), 300));
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_TRUE(device.LastError().contains("timed out")) << device.LastError().toStdString();
}
