#include "PtyPair.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <unistd.h>

TPtyPair::TPtyPair() {
    Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (Master < 0 || ::grantpt(Master) != 0 || ::unlockpt(Master) != 0) {
        throw std::runtime_error("cannot make a pseudo-terminal");
    }
    char Name[128] = {};
    if (::ptsname_r(Master, Name, sizeof Name) != 0) {
        throw std::runtime_error("cannot name the pseudo-terminal");
    }
    SlavePath = QString::fromLocal8Bit(Name);
}

TPtyPair::~TPtyPair() {
    HangUp();
}

bool TPtyPair::Write(const QByteArray& Bytes, int TimeOutMs) {
    QElapsedTimer Clock;
    Clock.start();
    qsizetype Done = 0;
    while (Done < Bytes.size()) {
        const ssize_t Count = ::write(Master, Bytes.constData() + Done, Bytes.size() - Done);
        if (Count > 0) {
            Done += Count;
            continue;
        }
        if (Count < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        const qint64 Left = TimeOutMs - Clock.elapsed();
        if (Left <= 0) {
            return false;
        }
        pollfd Wait{Master, POLLOUT, 0};
        ::poll(&Wait, 1, static_cast<int>(Left));
    }
    return true;
}

QByteArray TPtyPair::ReadAvailable() {
    QByteArray All;
    char Buffer[4096];
    for (;;) {
        const ssize_t Count = ::read(Master, Buffer, sizeof Buffer);
        if (Count <= 0) {
            return All;
        }
        All.append(Buffer, Count);
    }
}

void TPtyPair::HangUp() {
    if (Master >= 0) {
        ::close(Master);
        Master = -1;
    }
}

TPortMapFile::TPortMapFile(unsigned Port, const QString& DevicePath) {
    QFile Ini(Path());
    if (!Ini.open(QIODevice::WriteOnly)) {
        throw std::runtime_error("cannot write the port map");
    }
    Ini.write(QStringLiteral("[Options]\nComms_Port=%1\n\n[Ports]\nCOM%1=%2\n")
                  .arg(Port)
                  .arg(DevicePath)
                  .toUtf8());
}

QString TPortMapFile::Path() const {
    return QDir(Dir.path()).filePath("Bootload.Ini");
}

TPtyResponder::TPtyResponder(TPtyPair& Pair) : Pty(Pair) {
    Notifier = std::make_unique<QSocketNotifier>(Pty.Master, QSocketNotifier::Read);
    connect(Notifier.get(), &QSocketNotifier::activated, this, [this] { ReadMaster(); });
}

TPtyResponder::~TPtyResponder() = default;

void TPtyResponder::ReadMaster() {
    char Buffer[4096];
    const ssize_t Count = ::read(Pty.Master, Buffer, sizeof Buffer);
    if (Count <= 0) {
        // The slave is closed (EIO): stop listening until the test makes a new responder.
        if (Count == 0 || (errno != EAGAIN && errno != EINTR)) {
            Notifier->setEnabled(false);
        }
        return;
    }
    const QByteArray Bytes(Buffer, Count);
    Received += Bytes;
    if (OnBytes) {
        OnBytes(Bytes);
    }
}

QByteArray Hex(const char* Text) {
    return QByteArray::fromHex(QByteArray(Text));
}
