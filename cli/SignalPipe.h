// SIGINT and SIGTERM turned into a Qt signal on the GUI thread: the handler only writes
// the signal's number into a pipe (async-signal-safe); a socket notifier reads it there.
// SIGPIPE is ignored, so a closed output fails a write instead of ending the program
// in the middle of an update.
#pragma once

#include <QObject>

class QSocketNotifier;

class TSignalPipe : public QObject {
    Q_OBJECT
public:
    explicit TSignalPipe(QObject* Parent = nullptr);
    ~TSignalPipe() override; // the default dispositions are restored
    TSignalPipe(const TSignalPipe&) = delete;
    TSignalPipe& operator=(const TSignalPipe&) = delete;
    // False when the pipe or a handler could not be set up.
    bool IsReady() const { return Notifier != nullptr; }

signals:
    void Received(int SignalNumber);

private:
    void Drain();
    QSocketNotifier* Notifier = nullptr;
};
