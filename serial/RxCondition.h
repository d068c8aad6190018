// Receive conditions: what a complete reply looks like, matched byte by byte.
//
// A condition item has a start and an end pattern of up to 5 characters, each matched as
// an exact sequence or as any one of its characters, and minimum byte counts before the
// start, between start and end, and from the end on. A list holds up to 10 alternatives,
// numbered from 1 in the order they were added. The section counts also tell where the
// reply lies in the receive buffer (the component clears the buffer with every reset).
#pragma once

#include <cstdint>

class TRxConditionItem {
public:
    char StartPattern[6] = {};
    bool StartExact = false;
    char EndPattern[6] = {};
    bool EndExact = false;
    bool StartFound = false;
    bool EndFound = false;
    uint16_t MinBefore = 0;
    uint16_t MinMiddle = 0;
    uint16_t MinAfter = 0;
    uint16_t MiddleCount = 0;
    uint16_t StartLen = 0;
    uint16_t StartPos = 0;
    uint16_t EndLen = 0;
    uint16_t EndPos = 0;
    uint16_t BeforeCount = 0;
    uint16_t AfterCount = 0;

    // Runs one received byte through the item; true when both patterns have been found.
    bool MatchByte(uint8_t c);
    // Counts one more byte in the section the item is in.
    void CountByte();
};

class TRxCondition {
public:
    static constexpr int MaxItems = 10;

    TRxCondition() = default;
    ~TRxCondition();
    TRxCondition(const TRxCondition&) = delete;
    TRxCondition& operator=(const TRxCondition&) = delete;

    TRxConditionItem* Items[MaxItems] = {};
    uint16_t Count = 0;

    // Appends an item; does nothing when the list already holds 10.
    void AddItem(uint16_t StartLen, const char* StartPattern, bool StartExact, uint16_t EndLen,
                 const char* EndPattern, bool EndExact, uint16_t MinBefore, uint16_t MinMiddle,
                 uint16_t MinAfter);
    void Clear();
    void Reset();
    // 0-based index of the first item that now has both patterns, or -1.
    int32_t MatchByte(uint8_t c);
    void CountByte();
    // n is 1-based; false for a number outside 1..Count.
    bool IsComplete(int32_t n) const;
    // n is 1-based; nullptr for a number outside 1..Count.
    TRxConditionItem* GetItem(int32_t n) const;
};
