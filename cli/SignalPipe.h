// The requests to stop that come from outside the program, turned into a Qt signal on the
// GUI thread, each named as the operator knows it. The POSIX version (SignalPipe.cpp)
// catches SIGINT, SIGTERM, SIGHUP (the terminal or session went away) and SIGQUIT: the
// handler only writes the signal's number into a pipe (async-signal-safe) and a socket
// notifier reads it there. A SIGHUP the program was started ignoring (nohup) stays
// ignored. SIGPIPE and SIGXFSZ are ignored, so a closed output or a file past the size
// limit fails a write (and the program says so) instead of ending the program in the
// middle of an update. The Windows version (Win32SignalPipe.cpp) takes the console's
// control events: Ctrl+C, Ctrl+Break, the console closed, log-off, shutdown.
#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

class TSignalPipe : public QObject {
    Q_OBJECT
public:
    explicit TSignalPipe(QObject* Parent = nullptr);
    ~TSignalPipe() override; // the dispositions found are restored
    TSignalPipe(const TSignalPipe&) = delete;
    TSignalPipe& operator=(const TSignalPipe&) = delete;
    // False when the requests cannot be caught.
    bool IsReady() const { return Ready; }

signals:
    void Received(const QString& Name); // "SIGINT", "SIGHUP", ...

private:
    void Drain();
    QSocketNotifier* Notifier = nullptr;
    bool Ready = false;
};
