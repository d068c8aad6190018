#include "serial/remote/RemoteSerialDevice.h"

#include "serial/RateTolerance.h"
#include "serial/SerialLog.h"
#include "serial/remote/RemotePortName.h"
#include "serial/remote/RemoteRxWait.h"
#include "serial/remote/RemoteSession.h"

#include <QElapsedTimer>

namespace {

// The most of the server's text kept for the operator.
constexpr qsizetype ServerTextLimit = 200;

} // namespace

TRemoteSerialDevice::TRemoteSerialDevice() = default;

TRemoteSerialDevice::~TRemoteSerialDevice() {
    Close();
}

bool TRemoteSerialDevice::IsOpen() const {
    return Session && Session->Link->IsOpen();
}

bool TRemoteSerialDevice::Fail(TOpenFailureKind Kind, const QString& Message, int Code) {
    Error = QStringLiteral("%1: %2").arg(Path, Message);
    qCDebug(lcSerial).noquote() << Error;
    Failure = TOpenFailure{};
    Failure.Kind = Kind;
    Failure.ErrorCode = Code;
    Failure.Device = Path;
    Failure.Detail = Message;
    return false;
}

bool TRemoteSerialDevice::FailUnanswered(const QString& What, bool Ended) {
    const QString text = QString::fromUtf8(ServerText).trimmed();
    if (text.contains(QStringLiteral("in use"), Qt::CaseInsensitive)) {
        Fail(TOpenFailureKind::InUse, QStringLiteral("the server says \"%1\"").arg(text));
        Failure.HolderName = text;
        return false;
    }
    if (!text.isEmpty()) {
        return Fail(TOpenFailureKind::NoAnswer,
                    QStringLiteral("%1; the server says \"%2\"").arg(What, text));
    }
    return Fail(TOpenFailureKind::NoAnswer,
                Ended ? QStringLiteral("%1: %2").arg(What, Session->Link->LastError()) : What);
}

bool TRemoteSerialDevice::RefuseRate(uint32_t Asked, uint32_t Actual, const QString& Why) {
    Fail(TOpenFailureKind::RateRefused, Why);
    Failure.AskedRate = Asked;
    Failure.ActualRate = Actual;
    return false;
}

bool TRemoteSerialDevice::SendCommand(const std::vector<uint8_t>& Bytes) {
    qCDebug(lcSerial).noquote() << "telnet tx" << HexBytes(Bytes.data(), Bytes.size());
    if (Session->Link->Send(Bytes.data(), Bytes.size(), AnswerMs)) {
        return true;
    }
    return Fail(TOpenFailureKind::Other, Session->Link->LastError(), Session->Link->LastCode());
}

void TRemoteSerialDevice::TakeAnswer(const TTelnetEvent& Event) {
    const std::optional<TComPortAnswer> answer = ComPortAnswer(Event);
    if (!answer || answer->Command >= ComPort::CommandCount) {
        return;
    }
    const uint8_t command = answer->Command;
    if (Answered[command] >= Sent[command]) {
        qCDebug(lcSerial).noquote() << "an answer to no request of" << Path << "ignored";
        return;
    }
    // Answers come in the order of their requests: one to an earlier request is not the
    // answer to the latest.
    ++Answered[command];
    if (Answered[command] == Sent[command]) {
        Value[command] = answer->Value;
    }
}

template <typename TDone> bool TRemoteSerialDevice::ReadServer(int TimeOutMs, TDone&& Done) {
    QElapsedTimer clock;
    clock.start();
    uint8_t buffer[4096];
    std::vector<TTelnetEvent> events;
    std::vector<TTelnetEvent> answers;
    std::vector<TTelnetEvent> negotiations;
    std::vector<uint8_t> reply;
    while (!Done()) {
        const qint64 left = TimeOutMs - clock.elapsed();
        if (left <= 0) {
            return true;
        }
        const int count = Session->Link->Receive(buffer, sizeof buffer, static_cast<int>(left));
        if (count == TSocketLink::Ended) {
            return false;
        }
        if (count == 0) {
            continue;
        }
        qCDebug(lcSerial).noquote() << "telnet rx" << HexBytes(buffer, static_cast<size_t>(count));
        events.clear();
        answers.clear();
        negotiations.clear();
        const size_t data = Session->Decoder.Decode(buffer, static_cast<size_t>(count), events);
        const size_t kept = Session->Sort(buffer, data, events, answers, negotiations);
        reply.clear();
        for (const TTelnetEvent& negotiation : negotiations) {
            Session->Options.Answer(negotiation, reply);
        }
        // An answer that cannot be sent is not the failure yet: the server may be closing,
        // and what it said before that is read on.
        if (!reply.empty()) {
            qCDebug(lcSerial).noquote() << "telnet tx" << HexBytes(reply.data(), reply.size());
            Session->Link->Send(reply.data(), reply.size(), AnswerMs);
        }
        // Data up to the first rate answer is the server's, after it the line's.
        size_t from = 0;
        const auto takeData = [&](size_t Until) {
            if (Held) {
                Session->Early.insert(Session->Early.end(), buffer + from, buffer + Until);
            } else if (ServerText.size() < ServerTextLimit) {
                ServerText.append(reinterpret_cast<const char*>(buffer + from),
                                  static_cast<qsizetype>(Until - from));
            }
            from = Until;
        };
        for (const TTelnetEvent& answer : answers) {
            takeData(answer.DataOffset);
            TakeAnswer(answer);
            if (!Held && Answered[ComPort::SetBaudRate] > 0) {
                Held = true;
            }
        }
        takeData(kept);
    }
    return true;
}

TSerialDevice::TOpenResult TRemoteSerialDevice::Open(const QString& DevicePath) {
    Close();
    Path = DevicePath;
    Error.clear();
    Failure = TOpenFailure{};
    Held = false;
    ServerText.clear();
    Sent = {};
    Answered = {};
    Value = {};
    QString problem;
    const std::optional<TRemoteAddress> address = ParseRemotePortName(Path, problem);
    if (!address) {
        Fail(TOpenFailureKind::Other, problem);
        return TOpenResult::Failed;
    }
    Session = std::make_shared<TRemoteSession>();
    const std::shared_ptr<TSocketLink>& link = Session->Link;
    switch (link->Connect(address->Host, address->Port, ConnectMs)) {
    case TSocketLink::TConnectResult::Connected:
        break;
    case TSocketLink::TConnectResult::NameNotFound:
        Fail(TOpenFailureKind::NameNotFound, link->LastError(), link->LastCode());
        Failure.HolderName = address->Host;
        Session.reset();
        return TOpenResult::Failed;
    case TSocketLink::TConnectResult::Unreachable:
        Fail(TOpenFailureKind::Unreachable, link->LastError(), link->LastCode());
        Session.reset();
        return TOpenResult::Failed;
    case TSocketLink::TConnectResult::Failed:
        Fail(TOpenFailureKind::Other, link->LastError(), link->LastCode());
        Session.reset();
        return TOpenResult::Failed;
    }
    qCDebug(lcSerial).noquote() << "connected to" << address->Host << "port" << address->Port;
    // The COM-PORT-OPTION commands wait for the server's DO: a server that is about to turn
    // the client away must not be sent more, or its close resets the connection and the
    // text that says why is lost.
    std::vector<uint8_t> begin;
    Session->Options.Begin(begin);
    const bool going = SendCommand(begin) && ReadServer(AnswerMs, [this] {
                           return Session->Options.ServerAgreed(ComPort::Option) ||
                                  Session->Options.ServerRefused(ComPort::Option);
                       });
    if (!going || !Session->Options.ServerAgreed(ComPort::Option)) {
        if (Failure.Kind == TOpenFailureKind::None) {
            if (Session->Options.ServerRefused(ComPort::Option)) {
                Fail(TOpenFailureKind::NoAnswer,
                     QStringLiteral("the server refuses the COM-PORT-OPTION: it is no RFC 2217 "
                                    "port"));
            } else {
                FailUnanswered(going ? QStringLiteral("the server did not take up the "
                                                      "COM-PORT-OPTION within %1 ms")
                                           .arg(AnswerMs)
                                     : QStringLiteral("the server closed the connection"),
                               !going);
            }
        }
        Close();
        return TOpenResult::Failed;
    }
    return TOpenResult::Opened;
}

bool TRemoteSerialDevice::Configure(const TLineSettings& Settings) {
    Failure = TOpenFailure{};
    if (!IsOpen()) {
        return Fail(TOpenFailureKind::Other, QStringLiteral("not open"));
    }
    if (Settings.BaudRate == 0) {
        // 0 would ask the server for its rate rather than set one.
        return RefuseRate(0, 0, QStringLiteral("a rate of 0 baud is not possible"));
    }
    Frame.clear();
    const std::pair<uint8_t, uint32_t> requests[] = {
        {ComPort::SetBaudRate, Settings.BaudRate},
        {ComPort::SetDataSize, Settings.DataBits},
        {ComPort::SetParity, ComPortParity(Settings.Parity)},
        {ComPort::SetStopSize, ComPortStopSize(Settings.StopBits)},
    };
    for (const auto& [command, value] : requests) {
        AppendComPortCommand(Frame, command, value);
        ++Sent[command];
    }
    if (!SendCommand(Frame)) {
        if (Held) {
            return false;
        }
        // A server that turns this client away may close before it reads the request: what
        // it said before closing is the reason.
        ReadServer(AnswerMs, [] { return false; });
        return FailUnanswered(QStringLiteral("the server closed the connection before it set "
                                             "the line"),
                              true);
    }
    const auto answered = [this](uint8_t Command) { return Answered[Command] == Sent[Command]; };
    const bool going = ReadServer(AnswerMs, [&] {
        return answered(ComPort::SetBaudRate) && answered(ComPort::SetDataSize) &&
               answered(ComPort::SetParity) && answered(ComPort::SetStopSize);
    });
    const uint32_t asked = Settings.BaudRate;
    if (!answered(ComPort::SetBaudRate)) {
        if (!going || !Held) {
            const QString text = QString::fromUtf8(ServerText);
            if (!going || text.contains(QStringLiteral("in use"), Qt::CaseInsensitive)) {
                return FailUnanswered(QStringLiteral("the server closed the connection before "
                                                     "it set the line"),
                                      !going);
            }
        }
        return RefuseRate(asked, 0,
                          QStringLiteral("the server did not set %1 baud (no answer within %2 ms)")
                              .arg(asked)
                              .arg(AnswerMs));
    }
    const uint32_t rate = Value[ComPort::SetBaudRate];
    if (!RateWithinTolerance(asked, rate)) {
        return RefuseRate(asked, rate,
                          QStringLiteral("the server runs the line at %1 baud instead of the %2 "
                                         "asked for, more than 2 % off")
                              .arg(rate)
                              .arg(asked));
    }
    if (!going) {
        return Fail(TOpenFailureKind::Other, Session->Link->LastError(), Session->Link->LastCode());
    }
    for (const auto& [command, value] : requests) {
        if (command != ComPort::SetBaudRate && (!answered(command) || Value[command] != value)) {
            return Fail(TOpenFailureKind::Other,
                        QStringLiteral("the server refused %1 data bits, parity %2, stop bits %3")
                            .arg(Settings.DataBits)
                            .arg(Settings.Parity)
                            .arg(Settings.StopBits));
        }
    }
    if (rate != asked) {
        qCDebug(lcSerial).noquote()
            << QStringLiteral("%1 runs at %2 baud for the %3 asked for: within 2 %, accepted")
                   .arg(Path)
                   .arg(rate)
                   .arg(asked);
    }
    return true;
}

void TRemoteSerialDevice::Purge() {
    if (!IsOpen()) {
        return;
    }
    Frame.clear();
    AppendComPortCommand(Frame, ComPort::PurgeData, ComPort::PurgeBoth);
    ++Sent[ComPort::PurgeData];
    Session->NotePurgeSent();
    qCDebug(lcSerial).noquote() << "telnet tx" << HexBytes(Frame.data(), Frame.size());
    if (!Session->Link->Send(Frame.data(), Frame.size(), AnswerMs)) {
        Error = QStringLiteral("%1: cannot purge: %2").arg(Path, Session->Link->LastError());
        qCDebug(lcSerial).noquote() << Error;
    }
    // What the device read but did not hand on yet is from before the purge too (once
    // the receive thread has begun, the device holds none).
    Session->Early.clear();
}

bool TRemoteSerialDevice::Write(const uint8_t* Data, size_t Length, int TimeOutMs) {
    if (!IsOpen()) {
        Error = QStringLiteral("cannot write: no port is open");
        return false;
    }
    if (Data == nullptr && Length > 0) {
        Error = QStringLiteral("cannot write to %1: no data").arg(Path);
        return false;
    }
    Frame.clear();
    AppendTelnetData(Frame, Data, Length);
    if (!Session->Link->Send(Frame.data(), Frame.size(), TimeOutMs)) {
        Error = QStringLiteral("cannot write to %1: %2").arg(Path, Session->Link->LastError());
        qCDebug(lcSerial).noquote() << Error;
        return false;
    }
    return true;
}

void TRemoteSerialDevice::Close() {
    if (!Session) {
        return;
    }
    Session->Link->Shutdown();
    Session.reset();
}

std::unique_ptr<TRxWait> TRemoteSerialDevice::MakeRxWait() const {
    if (!Session) {
        return std::make_unique<TRemoteRxWait>(nullptr, std::vector<uint8_t>());
    }
    return std::make_unique<TRemoteRxWait>(Session, std::move(Session->Early));
}
