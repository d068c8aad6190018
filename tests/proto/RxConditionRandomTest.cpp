// Random condition lists and byte streams through the product's matching and through an
// independent model of the rules; both must agree on every byte. Seeded and bounded.
#include "tests/proto/RxConditionModel.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Bytes that the conditions of this system use, plus zero, so matches are frequent.
constexpr uint8_t Alphabet[] = {0x00, 0x10, 0x02, 0x03, 0x13, 0x83, 'A', 'B', 0xFF};

class TRandom {
public:
    explicit TRandom(uint32_t Seed) : Engine(Seed) {}
    uint32_t Below(uint32_t n) { return Engine() % n; }
    uint8_t Byte() {
        return Below(8) == 0 ? static_cast<uint8_t>(Below(256)) : Alphabet[Below(sizeof(Alphabet))];
    }
    uint16_t Minimum() {
        switch (Below(8)) {
        case 0:
            return static_cast<uint16_t>(Below(65536));
        case 1:
            return static_cast<uint16_t>(Below(40));
        default:
            return static_cast<uint16_t>(Below(4));
        }
    }

private:
    std::mt19937 Engine;
};

struct TPatternText {
    char Text[9] = {};
};

TPatternText RandomText(TRandom& Random) {
    TPatternText t;
    const uint32_t length = Random.Below(9);
    for (uint32_t i = 0; i < length; ++i) {
        t.Text[i] = static_cast<char>(Random.Byte());
    }
    return t;
}

void AddRandomItems(TRandom& Random, TRxCondition& Real, rxmodel::TModelList& Model) {
    const uint32_t items = Random.Below(13);
    for (uint32_t i = 0; i < items; ++i) {
        const auto startLen = static_cast<uint16_t>(Random.Below(8));
        const auto endLen = static_cast<uint16_t>(Random.Below(8));
        const TPatternText start = RandomText(Random);
        const TPatternText end = RandomText(Random);
        const bool startExact = Random.Below(2) == 0;
        const bool endExact = Random.Below(2) == 0;
        const uint16_t minBefore = Random.Minimum();
        const uint16_t minMiddle = Random.Minimum();
        const uint16_t minAfter = Random.Minimum();
        Real.AddItem(startLen, start.Text, startExact, endLen, end.Text, endExact, minBefore,
                     minMiddle, minAfter);
        Model.Add(startLen, start.Text, startExact, endLen, end.Text, endExact, minBefore,
                  minMiddle, minAfter);
    }
}

TEST(RxConditionRandomized, AgreesWithTheReferenceModelOnEveryByte) {
    TRandom random(20240611);
    int completions = 0;
    for (int round = 0; round < 3000; ++round) {
        TRxCondition real;
        rxmodel::TModelList model;
        AddRandomItems(random, real, model);
        bool matched = false;
        const uint32_t length = random.Below(160);
        for (uint32_t i = 0; i < length; ++i) {
            if (random.Below(64) == 0) {
                real.Reset();
                model.Reset();
                matched = false;
            }
            const uint8_t c = random.Byte();
            int32_t index = -1;
            if (matched) {
                real.CountByte();
            } else {
                index = real.MatchByte(c);
                matched = index != -1;
            }
            ASSERT_EQ(index, model.Feed(c)) << "round " << round << " byte " << i;
            const std::string difference = rxmodel::Compare(real, model);
            ASSERT_EQ(difference, "") << "round " << round << " byte " << i;
        }
        completions += model.FirstComplete() != 0 ? 1 : 0;
    }
    // The generator must actually reach completed conditions, not only idle lists.
    EXPECT_GT(completions, 300);
}

} // namespace
