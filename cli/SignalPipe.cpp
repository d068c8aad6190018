#include "cli/SignalPipe.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Written by the handler, read by the GUI thread; set before a handler is installed.
volatile sig_atomic_t WriteEnd = -1;
int ReadEnd = -1;

void OnSignal(int Number) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(Number);
    // A full pipe drops the byte: enough of them are already waiting.
    [[maybe_unused]] const ssize_t written = ::write(WriteEnd, &byte, 1);
    errno = savedErrno;
}

bool Install(int Number, void (*Handler)(int)) {
    struct sigaction action {};
    action.sa_handler = Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(Number, &action, nullptr) == 0;
}

} // namespace

TSignalPipe::TSignalPipe(QObject* Parent) : QObject(Parent) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    ReadEnd = ends[0];
    WriteEnd = ends[1];
    if (!Install(SIGINT, OnSignal) || !Install(SIGTERM, OnSignal) || !Install(SIGPIPE, SIG_IGN)) {
        return;
    }
    Notifier = new QSocketNotifier(ReadEnd, QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, [this] { Drain(); });
}

TSignalPipe::~TSignalPipe() {
    Install(SIGINT, SIG_DFL);
    Install(SIGTERM, SIG_DFL);
    delete Notifier;
    if (ReadEnd >= 0) {
        ::close(ReadEnd);
        ::close(WriteEnd);
    }
    ReadEnd = -1;
    WriteEnd = -1;
}

void TSignalPipe::Drain() {
    unsigned char bytes[16];
    ssize_t got = 0;
    while ((got = ::read(ReadEnd, bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < got; ++i) {
            emit Received(bytes[i]);
        }
    }
}
