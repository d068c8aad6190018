// One exchange with the bootloader: the request goes out as a DLE-framed body with its
// checksum, one receive condition recognises the reply frame (DLE STX ... DLE ETX), and
// the reply is unstuffed and its checksum tested before its data bytes are handed back.
#include "serial/ExchangeTrace.h"
#include "serial/KestComms.h"
#include "serial/ResultCodes.h"
#include "serial/RxCondition.h"
#include "serial/RxConditionScope.h"
#include "shell/Main1.h"
#include "upgrade/BootFrame.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

// At most this many bytes of a reply are read back; replies are far shorter.
constexpr uint16_t MaxBootReply = 200;

} // namespace

int32_t TMainForm::BootTransaction(TKestComms* Port, uint8_t Command, uint8_t Count,
                                   uint8_t PayloadLength, const uint8_t* Payload, uint16_t TimeOut,
                                   uint8_t* Reply) {
    if (Port == nullptr || (PayloadLength > 0 && Payload == nullptr)) {
        return TxResult::Failed;
    }
    TExchangeTrace::Mark(TExchangeStep::NextRequest);
    const size_t length = std::min<size_t>(PayloadLength, MaxBootPayload);
    const std::vector<uint8_t> frame = BuildBootFrame(Command, Count, Payload, length);

    TRxCondition condition;
    condition.Clear();
    const char start[] = {static_cast<char>(DLE), static_cast<char>(STX), 0};
    const char end[] = {static_cast<char>(DLE), static_cast<char>(ETX), 0};
    condition.AddItem(2, start, true, 2, end, true, 0, 1, 0);
    const TRxConditionScope scope(*Port, condition);

    Port->SendFrame(frame.data(), static_cast<uint16_t>(frame.size()), TimeOut);
    const int32_t result = Port->WaitForReply();
    if (result != TxResult::Ok || scope.Get() == nullptr) {
        return result == TxResult::Ok ? TxResult::PortClosed : result;
    }

    std::array<uint8_t, MaxBootReply + 1> received{};
    const uint16_t got = Port->ReadReply(1, received.data(), MaxBootReply, 1, -1, -1);
    const std::vector<uint8_t> unstuffed =
        UnstuffBootFrame(received.data(), std::min<uint16_t>(got, MaxBootReply));
    // A caller that wants no data may pass no buffer.
    std::array<uint8_t, 256> scratch{};
    const int32_t decoded = DecodeBootReply(unstuffed.data(), unstuffed.size(), Count,
                                            Reply != nullptr ? Reply : scratch.data());
    TExchangeTrace::Mark(TExchangeStep::ReplyDecoded);
    return decoded;
}
