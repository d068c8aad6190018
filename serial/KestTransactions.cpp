// The transaction side of TKestComms: the ring buffer the received chunks are stored in,
// the matching against the attached receive conditions, the reply timer, the wait for a
// reply and the copy of a reply out of the buffer.
#include "serial/KestComms.h"

#include "serial/ExchangeTrace.h"
#include "serial/ResultCodes.h"
#include "serial/RxCondition.h"
#include "serial/SerialDevice.h"
#include "serial/SerialLog.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace {

// A write may wait this long for the driver, plus twice the frame's time on the line.
constexpr int WriteBaseMs = 2000;
constexpr uint16_t NeverExpires = 65535;

} // namespace

void TKestComms::SetRxCondition(TRxCondition* Condition) {
    RxCondition = Condition;
}

void TKestComms::ClearRxCondition() {
    RxCondition = nullptr;
}

void TKestComms::ResetRxCondition() {
    MatchedIndex = -1;
    if (RxCondition != nullptr) {
        RxCondition->Reset();
    }
}

void TKestComms::ClearRxBuffer() {
    RxReadPos = 0;
    RxWritePos = 0;
    RxStoredCount = 0;
}

bool TKestComms::SendFrame(const uint8_t* Data, uint16_t Length, uint16_t TimeOut) {
    if (ReplyState == TxResult::PortClosed || !IsOpen()) {
        return false;
    }
    if (PurgeBeforeSend) {
        PurgeBeforeSend = false;
        Device->Purge();
    }
    ClearRxBuffer();
    ReplyEvent = false;
    TimeOutEvent = false;
    TimeOutTicks = TimeOut;
    ReplyState = -1;
    // The first tick is not counted, so the time-out is at least TimeOut ticks even when
    // the timer is still running from the last exchange.
    TickSeen = 0;
    if (!ReplyTimer->isActive()) {
        ReplyTimer->start();
    }
    if (Data != nullptr) {
        qCDebug(lcSerial).noquote() << "tx" << HexBytes(Data, Length);
    }
    const uint64_t lineMs = OpenRate == 0 ? 0 : uint64_t{Length} * 11 * 1000 / OpenRate;
    const int boundMs = static_cast<int>(std::min<uint64_t>(WriteBaseMs + 2 * lineMs, 60000));
    TExchangeTrace::Mark(TExchangeStep::FrameSent);
    const bool written = Device->Write(Data, Length, boundMs);
    TExchangeTrace::Mark(TExchangeStep::WriteReturned);
    return written;
}

void TKestComms::TimerTick() {
    if (!ReplyTimer->isActive() || ReplyState != -1) {
        ReplyTimer->stop();
        return;
    }
    if (TickSeen >= 1) {
        if (TimeOutTicks > 0 && TimeOutTicks < NeverExpires) {
            --TimeOutTicks;
        }
        TickSeen = 0;
    }
    if (TimeOutTicks == 0) {
        ReplyTimer->stop();
        PurgeBeforeSend = true;
        SetTimeOutEvent();
        if (OnTimeOut) {
            QPointer<TKestComms> self(this);
            const TTimeOutEvent handler = OnTimeOut;
            handler();
            if (!self) {
                return;
            }
        }
    }
    ++TickSeen;
}

int32_t TKestComms::WaitForReply() {
    if (!IsOpen()) {
        return ReplyState;
    }
    const uint64_t closesBefore = CloseCount;
    QPointer<TKestComms> self(this);
    QEventLoop loop;
    ActiveWaits.push_back(&loop);
    int32_t result = TxResult::Failed;
    for (;;) {
        if (CloseCount != closesBefore) {
            result = TxResult::PortClosed;
            break;
        }
        if (ReplyEvent) {
            result = ReplyState;
            break;
        }
        if (TimeOutEvent) {
            ReplyState = TxResult::TimedOut;
            result = TxResult::TimedOut;
            break;
        }
        // No reply timer and no event: nothing armed (no SendFrame since Open, or the
        // event style took the reply), so nothing but Close could end the wait.
        if (!ReplyTimer->isActive()) {
            result = ReplyState;
            break;
        }
        // Our events quit the loop with 0; -1 means the application is shutting down
        // and no loop will run any more: the wait fails.
        const int loopResult = loop.exec();
        if (!self) {
            return TxResult::PortClosed;
        }
        if (loopResult == -1 && CloseCount == closesBefore && !ReplyEvent && !TimeOutEvent) {
            result = ReplyState;
            break;
        }
    }
    std::erase(ActiveWaits, &loop);
    TExchangeTrace::Mark(TExchangeStep::WaitReturned);
    return result;
}

void TKestComms::ProcessRxBytes(const uint8_t* Block, int n) {
    QPointer<TKestComms> self(this);
    const uint64_t closesBefore = CloseCount;
    for (int i = 0; i < n; ++i) {
        if (RxBuffer.empty()) {
            return;
        }
        const uint8_t c = Block[i];
        const auto size = static_cast<uint16_t>(RxBuffer.size());
        RxBuffer[RxWritePos] = c;
        RxStoredCount = std::min<uint32_t>(RxStoredCount + 1, size);
        ++RxWritePos;
        if (RxWritePos >= size) {
            RxWritePos = 0;
        }
        // Full: every later byte overwrites the last position.
        if (RxWritePos == RxReadPos) {
            RxWritePos = RxWritePos == 0 ? size - 1 : RxWritePos - 1;
        }
        if (MatchedIndex == -1) {
            MatchedIndex = RxCondition != nullptr ? RxCondition->MatchByte(c) : -1;
        } else if (RxCondition != nullptr) {
            RxCondition->CountByte();
        }
        if (OnReceiveMsg) {
            const int32_t k = FindCompleteCondition();
            if (k != -1) {
                ReplyTimer->stop();
                NoteReply();
                const TReceiveMsgEvent handler = OnReceiveMsg;
                handler(k);
                // The handler may have closed the port or destroyed the component.
                if (!self || CloseCount != closesBefore) {
                    return;
                }
                ResetRxCondition();
                ClearRxBuffer();
                QuitWaits(); // a wait in progress now has nothing left to wait for
            }
        }
    }
    if (ReplyState == -1) {
        const int32_t k = FindCompleteCondition();
        if (k != -1) {
            TExchangeTrace::Mark(TExchangeStep::ReplyMatched);
            ReplyState = k;
            // The timer is left running for the next request (it stops itself at its next
            // tick if none has been sent): stopping and starting it for every exchange
            // would cost two calls into the event loop between a reply and the next write.
            NoteReply();
            SetReplyEvent();
        }
    }
}

int32_t TKestComms::FindCompleteCondition() const {
    if (RxCondition == nullptr) {
        return -1;
    }
    for (int32_t n = 1; n <= RxCondition->Count && n <= TRxCondition::MaxItems; ++n) {
        if (RxCondition->IsComplete(n)) {
            return n;
        }
    }
    return -1;
}

uint16_t TKestComms::ReadReply(uint16_t condnum, uint8_t* Dest, uint16_t MaxLen, int32_t Before,
                               int32_t Middle, int32_t After) {
    if (Dest == nullptr) {
        return 0;
    }
    const TRxConditionItem* item = nullptr;
    if (RxCondition != nullptr && condnum >= 1 && condnum <= RxCondition->Count) {
        item = RxCondition->GetItem(condnum);
    }
    if (item == nullptr) {
        Dest[0] = 0;
        return 0;
    }
    const int64_t b = item->BeforeCount;
    const int64_t m = item->MiddleCount;
    // Only positions written since the last clear hold this exchange's bytes.
    const int64_t stored = std::min<int64_t>(RxStoredCount, static_cast<int64_t>(RxBuffer.size()));
    uint16_t j = 0;
    // Copies Count bytes from position From on, stopping at MaxLen and at the stored bytes.
    auto copy = [&](int64_t From, int64_t Count) {
        for (int64_t p = From; p < From + Count && p < stored && j < MaxLen; ++p) {
            Dest[j++] = RxBuffer[static_cast<size_t>(p)];
        }
    };

    // Before section: all of it, or only its last Before bytes.
    const int64_t first = Before < 0 ? 0 : std::max<int64_t>(0, b - Before);
    copy(first, b - first);
    int64_t p = b;
    // Middle section.
    if (Middle > 0) {
        copy(p, Middle);
        p = b + m;
    } else if (Middle < 0) {
        copy(b, m);
        p = b + m;
    }
    // After section: After bytes, or everything up to the write position.
    if (After > 0) {
        copy(p, After);
    } else if (After < 0) {
        copy(p, std::max<int64_t>(0, int64_t{RxWritePos} - p));
    }
    Dest[j] = 0;
    return j;
}
