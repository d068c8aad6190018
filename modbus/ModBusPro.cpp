// The Modbus RTU transactions: build the request with its CRC, describe the normal and
// the exception reply as two receive conditions, send, wait, and for a read check the
// reply's CRC and copy the register values out.
#include "modbus/ModBusPro.h"

#include "modbus/ModbusCrc.h"
#include "serial/KestComms.h"
#include "serial/ResultCodes.h"
#include "serial/RxCondition.h"
#include "serial/RxConditionScope.h"

#include <algorithm>

#include <vector>

namespace {

constexpr uint8_t ExceptionBit = 0x80;
constexpr uint16_t MaxWriteCount = 20; // the request buffer holds 2 x 20 + 9 bytes
constexpr size_t WriteBufferSize = 50;

void PutWord(uint8_t* At, uint16_t Value) {
    At[0] = static_cast<uint8_t>(Value >> 8);
    At[1] = static_cast<uint8_t>(Value & 0xFF);
}

// Stores the CRC of the Length - 2 bytes before it in the frame's last two bytes.
void PutCrc(uint8_t* Frame, uint16_t Length) {
    PutWord(Frame + Length - 2, ModbusCrc(Frame, 0, static_cast<uint16_t>(Length - 3)));
}

// Normal reply first (TxResult::Ok), exception reply second (TxResult::ExceptionReply).
void AddReplyConditions(TRxCondition& Condition, uint8_t Slave, uint8_t Function,
                        uint16_t NormalMinAfter) {
    const char slavePattern[2] = {static_cast<char>(Slave), 0};
    const char normalPattern[2] = {static_cast<char>(Function), 0};
    const char exceptionPattern[2] = {static_cast<char>(Function | ExceptionBit), 0};
    Condition.Clear();
    Condition.AddItem(1, slavePattern, false, 1, normalPattern, false, 0, 1, NormalMinAfter);
    Condition.AddItem(1, slavePattern, false, 1, exceptionPattern, false, 0, 1, 4);
}

// Sends the request with the conditions attached through Scope and returns what the
// wait yields; the list stays attached for the caller's ReadReply until Scope ends.
int32_t Exchange(const TRxConditionScope& Scope, const uint8_t* Request, uint16_t Length,
                 uint16_t TimeOut) {
    TKestComms* port = Scope.Get();
    port->SendFrame(Request, Length, TimeOut);
    return port->WaitForReply();
}

int32_t WriteFrame(TKestComms* Comms, uint8_t Slave, uint8_t Function, const uint8_t* Request,
                   uint16_t Length, uint16_t TimeOut) {
    TRxCondition condition;
    AddReplyConditions(condition, Slave, Function, 7);
    const TRxConditionScope scope(*Comms, condition);
    return Exchange(scope, Request, Length, TimeOut);
}

} // namespace

int32_t ReadRegisters(TKestComms*& Comms, uint8_t Slave, uint8_t Function, uint16_t FirstRegister,
                      uint16_t Count, uint16_t TimeOut, uint16_t* Values) {
    if (Comms == nullptr) {
        return TxResult::Failed;
    }
    uint8_t request[8] = {Slave, Function};
    PutWord(request + 2, FirstRegister);
    PutWord(request + 4, Count);
    PutCrc(request, sizeof request);

    TRxCondition condition;
    AddReplyConditions(condition, Slave, Function, static_cast<uint16_t>(2 * Count + 4));
    const TRxConditionScope scope(*Comms, condition);
    int32_t result = Exchange(scope, request, sizeof request, TimeOut);
    TKestComms* port = scope.Get();
    if (result == TxResult::Ok && port != nullptr) {
        const uint16_t maxLen = port->RxBufferSize;
        std::vector<uint8_t> reply(size_t{maxLen} + 1, 0);
        const uint16_t n = port->ReadReply(1, reply.data(), maxLen, 0, -1, -1);
        // Slave, function and byte count, then the data, then the CRC low byte first.
        const bool crcGood = n >= 5 && ModbusCrc(reply.data(), 0, n - 3) ==
                                           static_cast<uint16_t>(reply[n - 2] << 8 | reply[n - 1]);
        if (!crcGood) {
            result = TxResult::Failed;
        } else if (Values != nullptr) {
            // Never more words than were asked for, nor than the reply carries.
            const size_t announced = reply[2] / 2;
            const size_t carried = (size_t{n} - 5) / 2;
            const size_t words = std::min({announced, carried, size_t{Count}});
            for (size_t i = 0; i < words; ++i) {
                Values[i] = static_cast<uint16_t>(reply[3 + 2 * i] << 8 | reply[4 + 2 * i]);
            }
        }
    }
    return result;
}

int32_t WriteRegister(TKestComms*& Comms, uint8_t Slave, uint8_t Function, uint16_t Register,
                      uint16_t Value, uint16_t TimeOut) {
    if (Comms == nullptr) {
        return TxResult::Failed;
    }
    uint8_t request[8] = {Slave, Function};
    PutWord(request + 2, Register);
    PutWord(request + 4, Value);
    PutCrc(request, sizeof request);
    return WriteFrame(Comms, Slave, Function, request, sizeof request, TimeOut);
}

int32_t WriteRegisters(TKestComms*& Comms, uint8_t Slave, uint8_t Function, uint16_t FirstRegister,
                       uint16_t Count, const uint16_t* Values, uint16_t TimeOut) {
    if (Comms == nullptr || Count > MaxWriteCount || (Values == nullptr && Count > 0)) {
        return TxResult::Failed;
    }
    uint8_t request[WriteBufferSize] = {Slave, Function};
    PutWord(request + 2, FirstRegister);
    PutWord(request + 4, Count);
    request[6] = static_cast<uint8_t>(2 * Count);
    for (uint16_t i = 0; i < Count; ++i) {
        PutWord(request + 7 + 2 * i, Values[i]);
    }
    const auto length = static_cast<uint16_t>(2 * Count + 9);
    PutCrc(request, length);
    return WriteFrame(Comms, Slave, Function, request, length, TimeOut);
}
