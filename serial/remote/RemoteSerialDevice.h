// TRemoteSerialDevice: the serial line of a device server, reached over TCP with RFC 2217
// ("rfc2217://HOST:PORT"), the same on every system. Open connects and agrees the Telnet
// options (BINARY both ways, COM-PORT-OPTION from this end); Configure sends the bit rate,
// data size, parity and stop bits and waits, within a bound, for the server's answer to
// each: an answer missing means refused (a server that cannot set a rate says nothing),
// and the rate answered is held to the 2 % rule. The port counts as held only once the
// server has answered the rate: a server that serves one client at a time accepts a second
// one, then sends it a line of text ("Port already in use") and closes, which is "in use".
// Purge sends PURGE-DATA; data is written with every 0xFF doubled, a frame in one send.
// No modem-line commands are sent (a server in front of a line without them never
// answers those). Closing ends the connection; every open makes a new one.
#pragma once

#include "serial/SerialDevice.h"
#include "serial/remote/ComPortOption.h"

#include <QByteArray>

#include <array>
#include <memory>
#include <vector>

class TRemoteSession;
struct TTelnetEvent;

class TRemoteSerialDevice final : public TSerialDevice {
public:
    // How long a connection (with the name's look-up) may take, and the server's answer to
    // the options and to each setting.
    static constexpr int ConnectMs = 5000;
    static constexpr int AnswerMs = 3000;

    TRemoteSerialDevice();
    ~TRemoteSerialDevice() override;
    TRemoteSerialDevice(const TRemoteSerialDevice&) = delete;
    TRemoteSerialDevice& operator=(const TRemoteSerialDevice&) = delete;

    TOpenResult Open(const QString& Path) override;
    void Purge() override;
    bool Configure(const TLineSettings& Settings) override;
    // The server's own business: never granted here.
    bool RequestLowLatency() override { return false; }
    bool Write(const uint8_t* Data, size_t Length, int TimeOutMs) override;
    void Close() override;
    std::unique_ptr<TRxWait> MakeRxWait() const override;

    // The port's name stands for itself: it has no links, and no identity beyond it.
    bool IsRemote() const override { return true; }
    bool IsOpen() const override;
    const QString& DevicePath() const override { return Path; }
    const QString& LastError() const override { return Error; }
    const TOpenFailure& LastFailure() const override { return Failure; }

private:
    // Reads what the server sends for at most TimeOutMs, or until Done says enough: the
    // options it asks for are answered, data is kept as the server's text until the port
    // is held, and COM-PORT-OPTION answers are counted. False when the connection ended.
    template <typename TDone> bool ReadServer(int TimeOutMs, TDone&& Done);
    void TakeAnswer(const TTelnetEvent& Event);
    // Sends Bytes within the answer bound; false (with the reason kept) when it fails.
    bool SendCommand(const std::vector<uint8_t>& Bytes);
    // Keeps the failure and its reason; false.
    bool Fail(TOpenFailureKind Kind, const QString& Message, int Code = 0);
    // The failure of a connection that ended, or of a server that did not answer before
    // the port was held: "in use" when it said so.
    bool FailUnanswered(const QString& What, bool Ended);
    bool RefuseRate(uint32_t Asked, uint32_t Actual, const QString& Why);

    std::shared_ptr<TRemoteSession> Session;
    QString Path;
    QString Error;
    TOpenFailure Failure;
    // The port is held: the server has answered a rate change on this connection.
    bool Held = false;
    // Text the server sent before the port was held (its reason for closing, if any).
    QByteArray ServerText;
    // Per COM-PORT-OPTION command: requests sent and answers come on this connection, and
    // the value of the answer to the latest request (valid once Answered reaches Sent).
    std::array<uint32_t, ComPort::CommandCount> Sent{};
    std::array<uint32_t, ComPort::CommandCount> Answered{};
    std::array<uint32_t, ComPort::CommandCount> Value{};
    std::vector<uint8_t> Frame;
};
