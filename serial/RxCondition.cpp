#include "serial/RxCondition.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr uint16_t MaxPatternLen = 5;
constexpr int PatternFieldSize = 6;

// One step of pattern matching, shared by the start and the end pattern. Returns the new
// "found" state. In exact mode a mismatch restarts the pattern with the next byte: the
// mismatching byte is not compared with the first character again, which is what keeps a
// doubled DLE from being taken for the start of DLE ETX.
bool MatchPattern(const char (&Pattern)[PatternFieldSize], bool Exact, uint16_t Len, uint16_t& Pos,
                  uint8_t c) {
    if (!Exact) {
        if (c == 0) {
            return false;
        }
        for (int i = 0; i < PatternFieldSize && Pattern[i] != 0; ++i) {
            if (static_cast<uint8_t>(Pattern[i]) == c) {
                return true;
            }
        }
        return false;
    }
    // The fields are public: never index past the pattern, whatever Len and Pos hold.
    const uint16_t length = std::min(Len, MaxPatternLen);
    if (Pos < length && static_cast<uint8_t>(Pattern[Pos]) == c) {
        ++Pos;
        return Pos >= length;
    }
    Pos = 0;
    return false;
}

// Copies at most Len characters, stopping at a zero; the rest of the field stays zero.
void CopyPattern(char (&Field)[PatternFieldSize], const char* Text, uint16_t Len) {
    std::fill(std::begin(Field), std::end(Field), '\0');
    if (Text == nullptr) {
        return;
    }
    for (uint16_t i = 0; i < Len && Text[i] != '\0'; ++i) {
        Field[i] = Text[i];
    }
}

} // namespace

bool TRxConditionItem::MatchByte(uint8_t c) {
    if (StartLen > 0 && !StartFound) {
        StartFound = MatchPattern(StartPattern, StartExact, StartLen, StartPos, c);
    } else if (MiddleCount >= MinMiddle && EndLen > 0 && !EndFound) {
        EndFound = MatchPattern(EndPattern, EndExact, EndLen, EndPos, c);
    }
    CountByte();
    if (StartFound && EndLen == 0) {
        EndFound = true;
    }
    return StartFound && EndFound;
}

void TRxConditionItem::CountByte() {
    // Unsigned 16-bit counters: they wrap at 65536 and never saturate.
    if (!StartFound) {
        ++BeforeCount;
    } else if (EndFound) {
        ++AfterCount;
    } else {
        ++MiddleCount;
    }
}

TRxCondition::~TRxCondition() {
    Clear();
}

void TRxCondition::AddItem(uint16_t StartLen, const char* StartPattern, bool StartExact,
                           uint16_t EndLen, const char* EndPattern, bool EndExact,
                           uint16_t MinBefore, uint16_t MinMiddle, uint16_t MinAfter) {
    if (Count >= MaxItems) {
        return;
    }
    auto* item = new TRxConditionItem;
    item->StartLen = std::min(StartLen, MaxPatternLen);
    CopyPattern(item->StartPattern, StartPattern, item->StartLen);
    item->StartExact = StartExact;
    item->EndLen = std::min(EndLen, MaxPatternLen);
    CopyPattern(item->EndPattern, EndPattern, item->EndLen);
    item->EndExact = EndExact;
    item->MinBefore = MinBefore;
    item->MinMiddle = MinMiddle;
    item->MinAfter = MinAfter;
    Items[Count] = item;
    ++Count;
}

void TRxCondition::Clear() {
    for (int i = std::min<int>(Count, MaxItems) - 1; i >= 0; --i) {
        delete Items[i];
        Items[i] = nullptr;
    }
    Count = 0;
}

void TRxCondition::Reset() {
    for (int i = 0; i < Count && i < MaxItems; ++i) {
        TRxConditionItem& item = *Items[i];
        item.StartPos = 0;
        item.EndPos = 0;
        item.StartFound = false;
        item.EndFound = false;
        item.BeforeCount = 0;
        item.MiddleCount = 0;
        item.AfterCount = 0;
    }
}

int32_t TRxCondition::MatchByte(uint8_t c) {
    // The first item to find both patterns takes the byte; the items after it never see it.
    for (int i = 0; i < Count && i < MaxItems; ++i) {
        if (Items[i]->MatchByte(c)) {
            return i;
        }
    }
    return -1;
}

void TRxCondition::CountByte() {
    for (int i = 0; i < Count && i < MaxItems; ++i) {
        Items[i]->CountByte();
    }
}

bool TRxCondition::IsComplete(int32_t n) const {
    const TRxConditionItem* item = GetItem(n);
    return item != nullptr && item->StartFound && item->EndFound &&
           item->BeforeCount >= item->MinBefore && item->MiddleCount >= item->MinMiddle &&
           item->AfterCount >= item->MinAfter;
}

TRxConditionItem* TRxCondition::GetItem(int32_t n) const {
    if (n < 1 || n > Count || n > MaxItems) {
        return nullptr;
    }
    return Items[n - 1];
}
