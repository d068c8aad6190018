// Random byte streams, random condition lists and random Before/Middle/After/MaxLen
// values through the ring buffer and ReadReply: nothing is read outside the buffer,
// nothing written past MaxLen + 1, and the copy agrees with a plain model of the
// sections (the buffer's first bytes after a clear, the last position overwritten).
#include "KestCommsTestAccess.h"
#include "serial/KestComms.h"
#include "serial/RxCondition.h"

#include <gtest/gtest.h>
#include <random>

namespace {

// The bytes the buffer holds after a clear and Stream, and its write position.
struct TModelBuffer {
    std::vector<uint8_t> Held;
    int64_t WritePos = 0;
};

TModelBuffer FillModel(const std::vector<uint8_t>& Stream, size_t Size) {
    TModelBuffer model;
    for (const uint8_t byte : Stream) {
        if (model.Held.size() < Size) {
            model.Held.push_back(byte);
        } else {
            model.Held.back() = byte;
        }
    }
    model.WritePos =
        Stream.size() < Size ? static_cast<int64_t>(Stream.size()) : static_cast<int64_t>(Size) - 1;
    return model;
}

std::vector<uint8_t> ModelCopy(const TModelBuffer& Model, int64_t B, int64_t M, int32_t Before,
                               int32_t Middle, int32_t After, uint16_t MaxLen) {
    std::vector<uint8_t> out;
    const auto held = static_cast<int64_t>(Model.Held.size());
    auto slice = [&](int64_t From, int64_t Count) {
        for (int64_t p = From; p < From + Count && p < held; ++p) {
            out.push_back(Model.Held[static_cast<size_t>(p)]);
        }
    };
    const int64_t first = Before < 0 ? 0 : std::max<int64_t>(0, B - Before);
    slice(first, B - first);
    int64_t p = B;
    if (Middle != 0) {
        slice(B, Middle > 0 ? Middle : M);
        p = B + M;
    }
    if (After > 0) {
        slice(p, After);
    } else if (After < 0) {
        slice(p, Model.WritePos - p);
    }
    if (out.size() > MaxLen) {
        out.resize(MaxLen);
    }
    return out;
}

// Patterns from a small alphabet, so that conditions do complete now and then.
std::string RandomPattern(std::mt19937& Random, int Length) {
    std::string pattern;
    for (int i = 0; i < Length; ++i) {
        pattern.push_back(static_cast<char>(1 + Random() % 4));
    }
    return pattern;
}

int32_t RandomSection(std::mt19937& Random) {
    switch (Random() % 6) {
    case 0:
        return -1;
    case 1:
        return 0;
    case 2:
        return static_cast<int32_t>(Random() % 8);
    case 3:
        return static_cast<int32_t>(Random() % 70000);
    case 4:
        return std::numeric_limits<int32_t>::max();
    default:
        return std::numeric_limits<int32_t>::min() + static_cast<int32_t>(Random() % 3);
    }
}

} // namespace

TEST(ReadReplyRandom, StaysInsideTheBufferAndAgreesWithTheSectionModel) {
    std::mt19937 random(12345);
    constexpr uint16_t Canary = 0xA5;
    int completed = 0;
    for (int round = 0; round < 3000; ++round) {
        TKestComms comms;
        const uint16_t size = static_cast<uint16_t>(1 + random() % (random() % 4 == 0 ? 300 : 24));
        TKestCommsTestAccess::PrepareBuffer(comms, size);

        TRxCondition condition;
        const int items = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < items; ++i) {
            const int startLen = static_cast<int>(random() % 4);
            const int endLen = static_cast<int>(random() % 4);
            const std::string start = RandomPattern(random, startLen);
            const std::string end = RandomPattern(random, endLen);
            condition.AddItem(startLen, start.c_str(), random() % 2 == 0, endLen, end.c_str(),
                              random() % 2 == 0, random() % 3, random() % 3, random() % 40);
        }
        comms.SetRxCondition(&condition);
        comms.ResetRxCondition();

        std::vector<uint8_t> stream(random() % (random() % 5 == 0 ? 700 : 40));
        for (uint8_t& byte : stream) {
            byte = static_cast<uint8_t>(random() % 5 == 0 ? random() : random() % 5);
        }
        // In a few chunks, as the port delivers them.
        size_t fed = 0;
        while (fed < stream.size()) {
            const size_t part = std::min<size_t>(1 + random() % 50, stream.size() - fed);
            TKestCommsTestAccess::Feed(
                comms, std::vector<uint8_t>(stream.begin() + fed, stream.begin() + fed + part));
            fed += part;
        }
        if (comms.ReplyStateValue() >= 1) {
            ++completed;
        }
        const TModelBuffer model = FillModel(stream, size);

        for (int query = 0; query < 4; ++query) {
            const uint16_t condnum = static_cast<uint16_t>(random() % (items + 2));
            const uint16_t maxLen =
                static_cast<uint16_t>(random() % 3 == 0 ? random() % 8 : random() % 800);
            const int32_t before = RandomSection(random);
            const int32_t middle = RandomSection(random);
            const int32_t after = RandomSection(random);
            std::vector<uint8_t> dest(maxLen + 1u + 16u, Canary);
            const uint16_t n = comms.ReadReply(condnum, dest.data(), maxLen, before, middle, after);
            ASSERT_LE(n, maxLen);
            ASSERT_EQ(dest[n], 0);
            for (size_t i = maxLen + 1u; i < dest.size(); ++i) {
                ASSERT_EQ(dest[i], Canary) << "written past MaxLen + 1";
            }
            std::vector<uint8_t> expected;
            if (const TRxConditionItem* item = condition.GetItem(condnum);
                item != nullptr && condnum >= 1) {
                expected = ModelCopy(model, item->BeforeCount, item->MiddleCount, before, middle,
                                     after, maxLen);
            }
            ASSERT_EQ(std::vector<uint8_t>(dest.begin(), dest.begin() + n), expected)
                << "round " << round << " size " << size << " condnum " << condnum << " B/M/A "
                << before << "/" << middle << "/" << after << " MaxLen " << maxLen;
        }
        comms.ClearRxCondition();
    }
    EXPECT_GT(completed, 50) << "the streams should complete conditions now and then";
}
