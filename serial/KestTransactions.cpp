// placeholder until the transactions land.
#include "serial/KestComms.h"

void TKestComms::SetRxCondition(TRxCondition* Condition) { RxCondition = Condition; }
void TKestComms::ClearRxCondition() { RxCondition = nullptr; }
void TKestComms::ResetRxCondition() {}
void TKestComms::ClearRxBuffer() {}
bool TKestComms::SendFrame(const uint8_t*, uint16_t, uint16_t) { return false; }
int32_t TKestComms::WaitForReply() { return ReplyState; }
uint16_t TKestComms::ReadReply(uint16_t, uint8_t* Dest, uint16_t, int32_t, int32_t, int32_t) {
    Dest[0] = 0;
    return 0;
}
