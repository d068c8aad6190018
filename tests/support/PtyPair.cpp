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
    char name[128] = {};
    if (::ptsname_r(Master, name, sizeof name) != 0) {
        throw std::runtime_error("cannot name the pseudo-terminal");
    }
    SlavePath = QString::fromLocal8Bit(name);
}

TPtyPair::~TPtyPair() {
    HangUp();
}

bool TPtyPair::Write(const QByteArray& Bytes, int TimeOutMs) {
    QElapsedTimer clock;
    clock.start();
    qsizetype done = 0;
    while (done < Bytes.size()) {
        const ssize_t count = ::write(Master, Bytes.constData() + done, Bytes.size() - done);
        if (count > 0) {
            done += count;
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        const qint64 left = TimeOutMs - clock.elapsed();
        if (left <= 0) {
            return false;
        }
        pollfd wait{Master, POLLOUT, 0};
        ::poll(&wait, 1, static_cast<int>(left));
    }
    return true;
}

QByteArray TPtyPair::ReadAvailable() {
    QByteArray all;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(Master, buffer, sizeof buffer);
        if (count <= 0) {
            return all;
        }
        all.append(buffer, count);
    }
}

void TPtyPair::HangUp() {
    if (Master >= 0) {
        ::close(Master);
        Master = -1;
    }
}

TPortMapFile::TPortMapFile(unsigned Port, const QString& DevicePath) {
    QFile ini(Path());
    if (!ini.open(QIODevice::WriteOnly)) {
        throw std::runtime_error("cannot write the port map");
    }
    ini.write(QStringLiteral("[Options]\nComms_Port=%1\n\n[Ports]\nCOM%1=%2\n")
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
    char buffer[4096];
    const ssize_t count = ::read(Pty.Master, buffer, sizeof buffer);
    if (count <= 0) {
        // The slave is closed (EIO): stop listening until the test makes a new responder.
        if (count == 0 || (errno != EAGAIN && errno != EINTR)) {
            Notifier->setEnabled(false);
        }
        return;
    }
    const QByteArray bytes(buffer, count);
    Received += bytes;
    if (OnBytes) {
        OnBytes(bytes);
    }
}

QByteArray Hex(const char* Text) {
    return QByteArray::fromHex(QByteArray(Text));
}
