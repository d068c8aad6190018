#include "cli/SignalPipe.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Each stops a run as closing the window does: an interrupt or a quit from the keyboard,
// a request to end, the terminal or the session gone.
struct TStopSignal {
    int Number;
    const char* Name;
    bool KeepIgnored; // left ignored when the program was started with it ignored
};

constexpr std::array StopSignals{
    TStopSignal{SIGINT, "SIGINT", false},
    TStopSignal{SIGTERM, "SIGTERM", false},
    TStopSignal{SIGHUP, "SIGHUP", true},
    TStopSignal{SIGQUIT, "SIGQUIT", false},
};

// The dispositions found, put back when the pipe goes.
std::array<struct sigaction, StopSignals.size()> Previous{};
std::array<bool, StopSignals.size()> Installed{};

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

bool Install(int Number, void (*Handler)(int), struct sigaction* Old = nullptr) {
    struct sigaction action {};
    action.sa_handler = Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(Number, &action, Old) == 0;
}

bool IsIgnored(int Number) {
    struct sigaction current {};
    return ::sigaction(Number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

} // namespace

TSignalPipe::TSignalPipe(QObject* Parent) : QObject(Parent) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    ReadEnd = ends[0];
    WriteEnd = ends[1];
    for (size_t i = 0; i < StopSignals.size(); ++i) {
        const TStopSignal& stop = StopSignals[i];
        if (stop.KeepIgnored && IsIgnored(stop.Number)) {
            continue;
        }
        Installed[i] = Install(stop.Number, OnSignal, &Previous[i]);
        if (!Installed[i]) {
            return;
        }
    }
    if (!Install(SIGPIPE, SIG_IGN) || !Install(SIGXFSZ, SIG_IGN)) {
        return;
    }
    Notifier = new QSocketNotifier(ReadEnd, QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, [this] { Drain(); });
    Ready = true;
}

TSignalPipe::~TSignalPipe() {
    for (size_t i = 0; i < StopSignals.size(); ++i) {
        if (Installed[i]) {
            ::sigaction(StopSignals[i].Number, &Previous[i], nullptr);
            Installed[i] = false;
        }
    }
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
            for (const TStopSignal& stop : StopSignals) {
                if (stop.Number == bytes[i]) {
                    emit Received(QString::fromLatin1(stop.Name));
                }
            }
        }
    }
}
