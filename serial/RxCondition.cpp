// placeholder until the receive conditions land.
#include "serial/RxCondition.h"

bool TRxConditionItem::MatchByte(uint8_t) { return false; }
void TRxConditionItem::CountByte() {}
TRxCondition::~TRxCondition() { Clear(); }
void TRxCondition::AddItem(uint16_t, const char*, bool, uint16_t, const char*, bool, uint16_t,
                           uint16_t, uint16_t) {}
void TRxCondition::Clear() { Count = 0; }
void TRxCondition::Reset() {}
int32_t TRxCondition::MatchByte(uint8_t) { return -1; }
void TRxCondition::CountByte() {}
bool TRxCondition::IsComplete(int32_t) const { return false; }
TRxConditionItem* TRxCondition::GetItem(int32_t) const { return nullptr; }
