// The receive conditions on the replies the Modbus master and the bootloader exchange
// expect, and on the corner cases of the matching rules.
#include "serial/RxCondition.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

namespace {

constexpr uint8_t Slave = 0x13;
constexpr uint8_t Function = 0x03;

// Drives a list the way the serial component does: MatchByte until an item takes a byte,
// then only CountByte until the next reset. Remembers what each MatchByte returned.
struct TFeeder {
    explicit TFeeder(TRxCondition& Conditions) : List(Conditions) {}

    TRxCondition& List;
    bool Matched = false;
    std::vector<int32_t> Results;

    void Feed(const std::vector<uint8_t>& Bytes) {
        for (uint8_t c : Bytes) {
            if (Matched) {
                List.CountByte();
                Results.push_back(-1);
            } else {
                const int32_t index = List.MatchByte(c);
                Matched = index != -1;
                Results.push_back(index);
            }
        }
    }
    int FirstComplete() const {
        for (int n = 1; n <= List.Count; ++n) {
            if (List.IsComplete(n)) {
                return n;
            }
        }
        return 0;
    }
};

void AddModbusItems(TRxCondition& List, uint8_t FunctionCode, uint16_t NormalAfter) {
    const char s[2] = {static_cast<char>(Slave), 0};
    const char f[2] = {static_cast<char>(FunctionCode), 0};
    const char e[2] = {static_cast<char>(FunctionCode | 0x80), 0};
    List.AddItem(1, s, false, 1, f, false, 0, 1, NormalAfter);
    List.AddItem(1, s, false, 1, e, false, 0, 1, 4);
}

void AddBootItem(TRxCondition& List) {
    List.AddItem(2, "\x10\x02", true, 2, "\x10\x03", true, 0, 1, 0);
}

void ExpectCounts(const TRxConditionItem* Item, uint16_t Before, uint16_t Middle, uint16_t After) {
    ASSERT_NE(Item, nullptr);
    EXPECT_EQ(Item->BeforeCount, Before);
    EXPECT_EQ(Item->MiddleCount, Middle);
    EXPECT_EQ(Item->AfterCount, After);
}

TEST(ModbusConditions, WriteReplyAfterStrayByteCompletesAsNumberOneAtItsLastByte) {
    TRxCondition list;
    AddModbusItems(list, 0x06, 7);
    TFeeder feeder{list};

    feeder.Feed({0x55}); // stray
    ExpectCounts(list.GetItem(1), 1, 0, 0);
    ExpectCounts(list.GetItem(2), 1, 0, 0);
    feeder.Feed({Slave});
    ExpectCounts(list.GetItem(1), 1, 1, 0);
    ExpectCounts(list.GetItem(2), 1, 1, 0);
    feeder.Feed({0x06});
    EXPECT_EQ(feeder.Results.back(), 0);
    ExpectCounts(list.GetItem(1), 1, 1, 1);
    ExpectCounts(list.GetItem(2), 1, 1, 0); // item 2 never saw the function byte
    EXPECT_FALSE(list.GetItem(2)->EndFound);

    feeder.Feed({0x00, 0x14, 0x00, 0x02, 0xAA});
    EXPECT_EQ(feeder.FirstComplete(), 0);
    feeder.Feed({0xBB});
    EXPECT_EQ(feeder.FirstComplete(), 1);
    ExpectCounts(list.GetItem(1), 1, 1, 7);
    ExpectCounts(list.GetItem(2), 1, 7, 0); // only counted, in its middle section, after the match
    feeder.Feed({0xCC});
    EXPECT_TRUE(list.IsComplete(1)); // stays complete as bytes keep arriving
    EXPECT_EQ(list.GetItem(1)->AfterCount, 8);
}

TEST(ModbusConditions, ExceptionReplyCompletesAsNumberTwo) {
    TRxCondition list;
    AddModbusItems(list, Function, 2 * 2 + 4);
    TFeeder feeder{list};
    feeder.Feed({Slave, Function | 0x80});
    EXPECT_EQ(feeder.Results.back(), 1);
    EXPECT_FALSE(list.GetItem(1)->EndFound);
    feeder.Feed({0x02, 0xC1});
    EXPECT_EQ(feeder.FirstComplete(), 0);
    feeder.Feed({0xC2});
    EXPECT_EQ(feeder.FirstComplete(), 2);
    ExpectCounts(list.GetItem(2), 0, 1, 4);
    EXPECT_FALSE(list.IsComplete(1));
}

TEST(ModbusConditions, ReadReplyForNRegistersCompletesAtByteTwoNPlusFive) {
    for (uint16_t n : {1, 2, 20, 125}) {
        TRxCondition list;
        AddModbusItems(list, Function, 2 * n + 4);
        TFeeder feeder{list};
        std::vector<uint8_t> reply = {Slave, Function, static_cast<uint8_t>(2 * n)};
        reply.resize(2 * n + 5, Slave); // data and CRC that repeat the slave address
        reply.back() = Function;
        for (size_t i = 0; i < reply.size(); ++i) {
            feeder.Feed({reply[i]});
            EXPECT_EQ(feeder.FirstComplete(), i + 1 == reply.size() ? 1 : 0)
                << "N " << n << " byte " << i;
        }
    }
}

TEST(ModbusConditions, StrayByteBetweenSlaveAndFunctionStillCompletes) {
    TRxCondition list;
    AddModbusItems(list, 0x06, 7);
    TFeeder feeder{list};
    feeder.Feed({Slave, 0x77, 0x06, 1, 2, 3, 4, 5, 6});
    EXPECT_EQ(feeder.FirstComplete(), 1);
    ExpectCounts(list.GetItem(1), 0, 2, 7);
}

TEST(BootFrameCondition, StuffedFrameCompletesOnlyAtTheFinalEtx) {
    TRxCondition list;
    AddBootItem(list);
    TFeeder feeder{list};
    const std::vector<uint8_t> frame = {0x10, 0x02, 0x41, 0x10, 0x10, 0x03, 0x10, 0x03};
    for (size_t i = 0; i < frame.size(); ++i) {
        feeder.Feed({frame[i]});
        EXPECT_EQ(feeder.FirstComplete(), i + 1 == frame.size() ? 1 : 0) << "byte " << i;
    }
    EXPECT_EQ(feeder.Results.back(), 0);
    ExpectCounts(list.GetItem(1), 1, 6, 1);
}

TEST(BootFrameCondition, TripleDleThenEtxEndsTheFrame) {
    TRxCondition list;
    AddBootItem(list);
    TFeeder feeder{list};
    feeder.Feed({0x10, 0x02, 0x10, 0x10, 0x03});
    EXPECT_EQ(feeder.FirstComplete(), 0); // DLE DLE 03: a stuffed data DLE, then 03
    feeder.Feed({0x10, 0x10, 0x10, 0x03});
    EXPECT_EQ(feeder.FirstComplete(), 1);
}

TEST(BootFrameCondition, NoiseEndingInDleHidesTheFrameStart) {
    // The restart rule drops the mismatching byte, so the DLE of DLE STX is lost after a
    // stray DLE: the transaction then times out rather than taking a misaligned frame.
    TRxCondition list;
    AddBootItem(list);
    TFeeder feeder{list};
    feeder.Feed({0x10, 0x10, 0x02, 0x00, 0x10, 0x03});
    EXPECT_FALSE(list.GetItem(1)->StartFound);
    EXPECT_EQ(list.GetItem(1)->BeforeCount, 6);
}

// One item with the given start pattern and no end pattern; minimums 0.
TRxCondition& WithStart(TRxCondition& List, uint16_t Len, const char* Pattern, bool Exact) {
    List.AddItem(Len, Pattern, Exact, 0, "", false, 0, 0, 0);
    return List;
}

TEST(ExactPatterns, TheRestartRuleDoesNotRetryTheMismatchingByte) {
    struct TCase {
        std::vector<uint8_t> Input;
        int FoundAt; // index of the byte that completes the pattern, -1 for never
    };
    const TCase cases[] = {
        {{'A', 'A', 'B'}, -1},          {{'A', 'B'}, 1},           {{'A', 'B', 'A', 'B'}, 1},
        {{'x', 'A', 'A', 'A', 'B'}, 4}, {{'A', 'x', 'A', 'B'}, 3},
    };
    for (const TCase& c : cases) {
        TRxCondition list;
        WithStart(list, 2, "AB", true);
        int foundAt = -1;
        for (size_t i = 0; i < c.Input.size() && foundAt < 0; ++i) {
            if (list.MatchByte(c.Input[i]) == 0) {
                foundAt = static_cast<int>(i);
            }
        }
        EXPECT_EQ(foundAt, c.FoundAt) << "input of " << c.Input.size() << " bytes";
    }
}

TEST(ExactPatterns, ZeroAtAPatternPositionMatchesAZeroByte) {
    // Length 3 with text "A" stored as A 0 0: the zero positions match received zeros.
    TRxCondition list;
    WithStart(list, 3, "A", true);
    EXPECT_EQ(list.MatchByte('A'), -1);
    EXPECT_EQ(list.MatchByte(0), -1);
    EXPECT_EQ(list.GetItem(1)->StartPos, 2);
    EXPECT_EQ(list.MatchByte(0), 0);
}

TEST(AnyOnePatterns, StartOnWhicheverCharacterComesFirst) {
    for (uint8_t first : {'X', 'Y', 'Z'}) {
        TRxCondition list;
        WithStart(list, 3, "XYZ", false);
        EXPECT_EQ(list.MatchByte('W'), -1);
        EXPECT_EQ(list.MatchByte(first), 0);
        ExpectCounts(list.GetItem(1), 1, 1, 0);
    }
}

TEST(AnyOnePatterns, ZeroByteNeverMatches) {
    TRxCondition list;
    WithStart(list, 3, "A", false); // stored as A 0 0
    EXPECT_EQ(list.MatchByte(0), -1);
    EXPECT_EQ(list.MatchByte(0), -1);
    EXPECT_FALSE(list.GetItem(1)->StartFound);
    EXPECT_EQ(list.MatchByte('A'), 0);
}

TEST(AnyOnePatterns, OnlyCharactersWithinTheLengthTakePart) {
    TRxCondition list;
    WithStart(list, 2, "XYZ", false);
    EXPECT_EQ(list.MatchByte('Z'), -1);
    EXPECT_EQ(list.MatchByte('Y'), 0);
}

TEST(Sections, TheByteThatCompletesTheStartIsNeverExaminedForTheEnd) {
    TRxCondition list;
    list.AddItem(1, "S", false, 1, "S", false, 0, 0, 0);
    EXPECT_EQ(list.MatchByte('S'), -1);
    EXPECT_FALSE(list.GetItem(1)->EndFound);
    EXPECT_EQ(list.MatchByte('S'), 0);
    ExpectCounts(list.GetItem(1), 0, 1, 1);
}

TEST(Minimums, MinMiddleThreeLooksForTheEndOnlyFromTheThirdMiddleByte) {
    TRxCondition list;
    list.AddItem(1, "S", false, 1, "X", false, 0, 3, 0);
    TFeeder feeder{list};
    feeder.Feed({'S', 'X', 'X'});
    EXPECT_FALSE(list.GetItem(1)->EndFound);
    ExpectCounts(list.GetItem(1), 0, 3, 0);
    feeder.Feed({'X'});
    EXPECT_EQ(feeder.Results.back(), 0);
    EXPECT_EQ(feeder.FirstComplete(), 1);
}

TEST(Minimums, MinMiddleSkipsEndBytesThatArriveTooEarly) {
    // The end step is skipped while the middle is short, and EndPos keeps its value.
    TRxCondition list;
    list.AddItem(1, "S", false, 2, "AB", true, 0, 2, 0);
    TFeeder feeder{list};
    feeder.Feed({'S', 'A', 'B'});
    EXPECT_FALSE(list.GetItem(1)->EndFound);
    EXPECT_EQ(list.GetItem(1)->EndPos, 0);
    feeder.Feed({'A'});
    EXPECT_EQ(list.GetItem(1)->EndPos, 1);
    feeder.Feed({'B'});
    EXPECT_EQ(feeder.FirstComplete(), 1);
}

TEST(Minimums, NoEndPatternCompletesAtTheStartByteWithMinAfterZero) {
    TRxCondition list;
    WithStart(list, 1, "S", false);
    EXPECT_EQ(list.MatchByte('S'), 0);
    EXPECT_TRUE(list.GetItem(1)->EndFound);
    EXPECT_TRUE(list.IsComplete(1));
    ExpectCounts(list.GetItem(1), 0, 1, 0);
}

TEST(Minimums, NoEndPatternWithMinMiddleTwoNeverCompletes) {
    TRxCondition list;
    list.AddItem(1, "S", false, 0, "", false, 0, 2, 0);
    TFeeder feeder{list};
    feeder.Feed({'S', 1, 2, 3});
    EXPECT_FALSE(list.IsComplete(1));
    ExpectCounts(list.GetItem(1), 0, 1, 3);
}

TEST(Minimums, FixedLengthReplyWithoutEndPattern) {
    TRxCondition list;
    list.AddItem(1, "S", false, 0, "", false, 0, 1, 4);
    TFeeder feeder{list};
    feeder.Feed({'x', 'S', 1, 2, 3});
    EXPECT_FALSE(list.IsComplete(1));
    feeder.Feed({4});
    EXPECT_TRUE(list.IsComplete(1));
}

TEST(Minimums, StartTooEarlyForMinBeforeBlocksEveryItemUntilReset) {
    TRxCondition list;
    list.AddItem(1, "S", false, 0, "", false, 2, 0, 0);
    list.AddItem(1, "S", false, 0, "", false, 0, 0, 0); // never reached: item 1 took the byte
    TFeeder feeder{list};
    feeder.Feed({'S', 'S', 'S', 'S'});
    EXPECT_EQ(feeder.Results.front(), 0);
    EXPECT_EQ(feeder.FirstComplete(), 0);
    EXPECT_FALSE(list.GetItem(2)->StartFound);
}

TEST(Counters, WrapAt65536) {
    TRxCondition list;
    list.AddItem(1, "S", false, 1, "E", false, 0, 0, 0);
    TFeeder feeder{list};
    feeder.Feed(std::vector<uint8_t>(65535, 'x'));
    EXPECT_EQ(list.GetItem(1)->BeforeCount, 65535);
    feeder.Feed({'x'});
    EXPECT_EQ(list.GetItem(1)->BeforeCount, 0);
    feeder.Feed({'S', 'E'});
    feeder.Feed(std::vector<uint8_t>(65536, 'y'));
    ExpectCounts(list.GetItem(1), 0, 1, 1);
}

TEST(StartLenZero, EveryByteCountsBeforeAndTheItemNeverCompletes) {
    TRxCondition list;
    list.AddItem(0, "S", false, 1, "E", false, 0, 0, 0);
    list.AddItem(1, "S", false, 1, "E", false, 0, 0, 0);
    TFeeder feeder{list};
    feeder.Feed({'E', 'S'});
    const TRxConditionItem* first = list.GetItem(1);
    EXPECT_FALSE(first->StartFound);
    ExpectCounts(first, 2, 0, 0);
    feeder.Feed({'E'});
    EXPECT_EQ(feeder.Results.back(), 1); // the item after it still works
    EXPECT_EQ(feeder.FirstComplete(), 2);
    EXPECT_FALSE(list.IsComplete(1));
}

TEST(ListManagement, AddItemClipsLengthsAndStopsCopyingAtZero) {
    TRxCondition list;
    list.AddItem(9, "ABCDEFG", true, 4, "Z\0Q", false, 1, 2, 3);
    const TRxConditionItem* item = list.GetItem(1);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->StartLen, 5);
    EXPECT_STREQ(item->StartPattern, "ABCDE");
    EXPECT_EQ(item->EndLen, 4);
    const char expectedEnd[6] = {'Z', 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(item->EndPattern, expectedEnd, 6), 0);
    EXPECT_TRUE(item->StartExact);
    EXPECT_FALSE(item->EndExact);
    EXPECT_EQ(item->MinBefore, 1);
    EXPECT_EQ(item->MinMiddle, 2);
    EXPECT_EQ(item->MinAfter, 3);
}

TEST(ListManagement, NullPatternTextIsAnEmptyPattern) {
    TRxCondition list;
    list.AddItem(2, nullptr, true, 1, nullptr, false, 0, 0, 0);
    const TRxConditionItem* item = list.GetItem(1);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->StartPattern[0], 0);
    EXPECT_EQ(list.MatchByte(0), -1);
    EXPECT_EQ(list.MatchByte(0), -1); // completes the exact start 0 0; the end is still open
    EXPECT_TRUE(item->StartFound);
}

TEST(ListManagement, EleventhAddItemIsIgnoredAndNumbersOutsideTheListGiveNothing) {
    TRxCondition list;
    EXPECT_EQ(list.GetItem(1), nullptr);
    for (int i = 0; i < 10; ++i) {
        const char p[2] = {static_cast<char>('a' + i), 0};
        list.AddItem(1, p, false, 0, "", false, 0, 0, 0);
    }
    TRxConditionItem* tenth = list.GetItem(10);
    list.AddItem(1, "k", false, 0, "", false, 0, 0, 0);
    EXPECT_EQ(list.Count, 10);
    EXPECT_EQ(list.GetItem(10), tenth);
    EXPECT_EQ(list.GetItem(10)->StartPattern[0], 'j');
    EXPECT_EQ(list.MatchByte('k'), -1);
    EXPECT_EQ(list.MatchByte('j'), 9);
    for (int32_t n : {0, -1, 11, 1000, INT32_MIN}) {
        EXPECT_EQ(list.GetItem(n), nullptr) << n;
        EXPECT_FALSE(list.IsComplete(n)) << n;
    }
    EXPECT_TRUE(list.IsComplete(10));
}

TEST(ListManagement, ResetForgetsProgressButKeepsTheConditions) {
    TRxCondition list;
    AddBootItem(list);
    TFeeder feeder{list};
    feeder.Feed({0x10, 0x02, 0x41, 0x10, 0x03, 0x99});
    ASSERT_TRUE(list.IsComplete(1));
    list.Reset();
    EXPECT_FALSE(list.IsComplete(1));
    const TRxConditionItem* item = list.GetItem(1);
    ExpectCounts(item, 0, 0, 0);
    EXPECT_FALSE(item->StartFound || item->EndFound);
    EXPECT_EQ(item->StartPos + item->EndPos, 0);
    EXPECT_STREQ(item->StartPattern, "\x10\x02");
    EXPECT_EQ(item->MinMiddle, 1);
    TFeeder again{list};
    again.Feed({0x10, 0x02, 0x41, 0x10, 0x03});
    EXPECT_EQ(again.FirstComplete(), 1);
}

TEST(ListManagement, ClearEmptiesTheListForReuse) {
    TRxCondition list;
    AddModbusItems(list, Function, 8);
    list.Clear();
    EXPECT_EQ(list.Count, 0);
    EXPECT_EQ(list.GetItem(1), nullptr);
    EXPECT_EQ(list.MatchByte(Slave), -1);
    list.Clear();
    AddBootItem(list);
    EXPECT_EQ(list.Count, 1);
    EXPECT_EQ(list.GetItem(1)->StartLen, 2);
}

} // namespace
