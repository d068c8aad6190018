// The far end of a serial line for tests: a pseudo-terminal whose slave the component
// opens through a temporary "Bootload.Ini" [Ports] map, and whose master the test
// reads and writes, either directly or through a scripted responder.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>

class QSocketNotifier;

class TPtyPair {
public:
    TPtyPair();
    ~TPtyPair();
    TPtyPair(const TPtyPair&) = delete;
    TPtyPair& operator=(const TPtyPair&) = delete;

    // Writes every byte to the master, waiting for room at most TimeOutMs in all.
    bool Write(const QByteArray& Bytes, int TimeOutMs = 5000);
    // What the master can read now, without waiting.
    QByteArray ReadAvailable();
    // Closes the master: the slave sees a hang-up.
    void HangUp();

    int Master = -1;
    QString SlavePath;
};

// A temporary directory with a "Bootload.Ini" whose [Ports] section maps COM<Port>.
class TPortMapFile {
public:
    TPortMapFile(unsigned Port, const QString& DevicePath);
    QString Path() const;
    QString DirPath() const { return Dir.path(); }

private:
    QTemporaryDir Dir;
};

// Reads the master on the GUI thread (inside any wait) and lets the test answer.
class TPtyResponder : public QObject {
public:
    explicit TPtyResponder(TPtyPair& Pty);
    ~TPtyResponder() override;

    // Everything the master has read so far.
    QByteArray Received;
    // Called after every read with the bytes read.
    std::function<void(const QByteArray& Bytes)> OnBytes;

private:
    void ReadMaster();

    TPtyPair& Pty;
    std::unique_ptr<QSocketNotifier> Notifier;
};

// Bytes from hex text: "13 03 00 14".
QByteArray Hex(const char* Text);
