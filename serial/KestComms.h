// TKestComms: the program's one path to the instrument. A non-visual component that owns
// one serial port, a receive thread that posts every chunk it reads to the GUI thread, a
// ring buffer the chunks are stored in and matched against the caller's receive
// conditions, and a 100 ms reply timer. Every operation runs on the GUI thread.
#pragma once

#include "serial/OpenFailure.h"
#include "serial/PortMap.h"
#include "serial/SerialDevice.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

class QTimer;
class TRxCondition;
class TRxThread;

// Port number is the ordinal + 1. Any 8-bit value may be stored (a saved port outside
// 1..32 gives one); COMn names a device through the "Ports" map.
// clang-format off
enum TComport : uint8_t {
    COM1 = 0, COM2, COM3, COM4, COM5, COM6, COM7, COM8, COM9, COM10, COM11, COM12, COM13,
    COM14, COM15, COM16, COM17, COM18, COM19, COM20, COM21, COM22, COM23, COM24, COM25,
    COM26, COM27, COM28, COM29, COM30, COM31, COM32
};
// clang-format on
enum class TStopBits : uint8_t { sb1, sb1_5, sb2 };
enum class TParity : uint8_t { None, Odd, Even, Mark, Space };

// Raised only by Open, with one of its three fixed messages.
class ECommsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Buffer is followed by one zero byte; it is freed when the handler returns.
using TReceiveDataEvent = std::function<void(const uint8_t* Buffer, uint16_t BufferLength)>;
using TReceiveMsgEvent = std::function<void(int32_t condnum)>;
using TTimeOutEvent = std::function<void()>;

class TKestComms : public QObject {
    Q_OBJECT
public:
    explicit TKestComms(QObject* Owner = nullptr);
    ~TKestComms() override;

    // Published settings; Open reads them, a change takes effect at the next Open.
    TComport CommPort = COM1;
    uint32_t BaudRate = 9600;
    uint8_t DataBits = 8;
    TStopBits StopBits = TStopBits::sb1;
    TParity Parity = TParity::None;
    uint16_t RxBufferSize = 256;
    TReceiveDataEvent OnReceiveData;
    TReceiveMsgEvent OnReceiveMsg;
    TTimeOutEvent OnTimeOut;

    // INI file whose optional section "Ports" maps COMn to a device path
    // (COM3=/dev/ttyUSB0). Empty: "Bootload.Ini" in the current directory.
    // Without a key for the port, COMn is /dev/ttyS<n-1>.
    QString PortMapFile;
    // When not empty, the device Open uses instead of CommPort's (a port named by its path).
    QString NamedDevice;
    // Ports numbered in this run that PortMapFile could not record; its keys come first.
    TSessionPortMap SessionPorts;

    // Opens the port and starts the receive thread. False when the device cannot be
    // opened (absent, no rights, held by another program), or, while the component is
    // pinned, is not the device it was pinned to. Raises ECommsError
    // "Already have a Comm File Open", "File Handle is not a Comm Handle." or
    // "Unable To Create Rx Thread".
    bool Open();
    // Stops the thread and closes the port; harmless when closed. A wait in progress
    // returns -2.
    void Close();
    // Holds the component to one unit for a run, which re-opens the port at every speed
    // change. From PinDevice to UnpinDevice, Open looks the port's name up (NamedDevice,
    // else CommPort through PortMapFile and SessionPorts) and opens the device its links
    // lead to, until a reply has come from that device. From then on Open opens that
    // device and no other: it fails (Kind DeviceChanged, the port left closed) when the
    // name now leads elsewhere, or the device at its path is another (a node made anew).
    // Before the first reply no unit has been heard, so a line lost and back under its
    // name may still be used.
    void PinDevice();
    void UnpinDevice();
    bool IsOpen() const;
    // Device path the last Open used or tried.
    QString DevicePath() const { return LastDevicePath; }
    // Why the last Open failed (Kind None after a success), for the operator's message.
    const TOpenFailure& LastOpenFailure() const { return OpenFailure; }

    // Transactions (one at a time).
    void SetRxCondition(TRxCondition* Condition);
    void ClearRxCondition();
    void ResetRxCondition();
    void ClearRxBuffer();
    bool SendFrame(const uint8_t* Data, uint16_t Length, uint16_t TimeOut);
    // Number of the completed condition, 0 time-out, -2 closed during the wait, else
    // the state word (-1). Processes GUI events while it waits; never polls.
    int32_t WaitForReply();
    // Copies the reply of condition condnum; Dest must hold MaxLen + 1 bytes.
    uint16_t ReadReply(uint16_t condnum, uint8_t* Dest, uint16_t MaxLen, int32_t Before,
                       int32_t Middle, int32_t After);

    // For tests and traces.
    int32_t ReplyStateValue() const { return ReplyState; }
    uint16_t RxWritePosValue() const { return RxWritePos; }
    const uint8_t* RxBufferData() const { return RxBuffer.empty() ? nullptr : RxBuffer.data(); }

protected:
    bool event(QEvent* Event) override;

private:
    friend class TKestCommsTestAccess;

    void ProcessRxBytes(const uint8_t* Block, int n);
    void TimerTick();
    int32_t FindCompleteCondition() const;
    void SetReplyEvent();
    void SetTimeOutEvent();
    void QuitWaits();
    void StopRxThread();
    // Keeps Failure as the reason the open of port PortNumber failed, and traces it.
    void NoteOpenFailure(unsigned PortNumber, const TOpenFailure& Failure);
    // "COM3" for port 3; empty for a device given by its path.
    QString PortLabel(unsigned PortNumber) const;
    // The device path the port's name gives now, before links are followed.
    QString NamedPath() const;
    // NoteOpenFailure for a pinned Open that would reach another device than the pinned
    // one through Name; warned of on "bootload.serial" as well.
    void NoteDeviceChanged(unsigned PortNumber, const QString& Name);
    // A receive condition completed: the open device has answered.
    void NoteReply();

    QString LastDevicePath;
    TOpenFailure OpenFailure;
    bool Pinned = false;
    // Whether a reply has come from the device of PinnedPath since PinDevice.
    bool PinnedDeviceHeard = false;
    // The device the last pinned Open reached: its path, links followed, and identity.
    QString PinnedPath;
    std::optional<TDeviceIdentity> PinnedIdentity;
    std::unique_ptr<TSerialDevice> Device;
    std::unique_ptr<TRxThread> RxThread;
    std::vector<uint8_t> RxBuffer;
    uint16_t RxReadPos = 0;
    uint16_t RxWritePos = 0;
    // Buffer positions written since the last clear (at most the buffer's size): a
    // reply is never copied from positions that hold an earlier exchange's bytes.
    uint32_t RxStoredCount = 0;
    TRxCondition* RxCondition = nullptr;
    QTimer* ReplyTimer = nullptr;
    uint16_t TimeOutTicks = 0;
    uint16_t TickSeen = 0;
    int32_t MatchedIndex = -1;
    int32_t ReplyState = 0;
    // A wait timed out since the last frame: the next one purges the port first, so that
    // a reply that comes late is not taken as the answer to the next request.
    bool PurgeBeforeSend = false;
    // Bit rate of the open port, for the bound of a write.
    uint32_t OpenRate = 0;
    // The three events of a wait; setting one quits the waits in progress.
    bool ReplyEvent = false;
    bool TimeOutEvent = false;
    // Counts Close calls: a wait that sees it change was interrupted by Close (-2).
    uint64_t CloseCount = 0;
    // Identifies the open session; chunks posted by an earlier session's thread are dropped.
    uint64_t Session = 0;
    std::vector<class QEventLoop*> ActiveWaits;
};

// Closes the port and opens it again at BaudRate; nothing for a null component. Whether
// the port opened shows in the exchanges that follow.
void ReopenPortAt(TKestComms* Comms, uint32_t BaudRate);
