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
    TModelBuffer Model;
    for (const uint8_t Byte : Stream) {
        if (Model.Held.size() < Size) {
            Model.Held.push_back(Byte);
        } else {
            Model.Held.back() = Byte;
        }
    }
    Model.WritePos =
        Stream.size() < Size ? static_cast<int64_t>(Stream.size()) : static_cast<int64_t>(Size) - 1;
    return Model;
}

std::vector<uint8_t> ModelCopy(const TModelBuffer& Model, int64_t B, int64_t M, int32_t Before,
                               int32_t Middle, int32_t After, uint16_t MaxLen) {
    std::vector<uint8_t> Out;
    const auto Held = static_cast<int64_t>(Model.Held.size());
    auto Slice = [&](int64_t From, int64_t Count) {
        for (int64_t p = From; p < From + Count && p < Held; ++p) {
            Out.push_back(Model.Held[static_cast<size_t>(p)]);
        }
    };
    const int64_t First = Before < 0 ? 0 : std::max<int64_t>(0, B - Before);
    Slice(First, B - First);
    int64_t p = B;
    if (Middle != 0) {
        Slice(B, Middle > 0 ? Middle : M);
        p = B + M;
    }
    if (After > 0) {
        Slice(p, After);
    } else if (After < 0) {
        Slice(p, Model.WritePos - p);
    }
    if (Out.size() > MaxLen) {
        Out.resize(MaxLen);
    }
    return Out;
}

// Patterns from a small alphabet, so that conditions do complete now and then.
std::string RandomPattern(std::mt19937& Random, int Length) {
    std::string Pattern;
    for (int i = 0; i < Length; ++i) {
        Pattern.push_back(static_cast<char>(1 + Random() % 4));
    }
    return Pattern;
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
    std::mt19937 Random(12345);
    constexpr uint16_t Canary = 0xA5;
    int Completed = 0;
    for (int Round = 0; Round < 3000; ++Round) {
        TKestComms Comms;
        const uint16_t Size = static_cast<uint16_t>(1 + Random() % (Random() % 4 == 0 ? 300 : 24));
        TKestCommsTestAccess::PrepareBuffer(Comms, Size);

        TRxCondition Condition;
        const int Items = 1 + static_cast<int>(Random() % 4);
        for (int i = 0; i < Items; ++i) {
            const int StartLen = static_cast<int>(Random() % 4);
            const int EndLen = static_cast<int>(Random() % 4);
            const std::string Start = RandomPattern(Random, StartLen);
            const std::string End = RandomPattern(Random, EndLen);
            Condition.AddItem(StartLen, Start.c_str(), Random() % 2 == 0, EndLen, End.c_str(),
                              Random() % 2 == 0, Random() % 3, Random() % 3, Random() % 40);
        }
        Comms.SetRxCondition(&Condition);
        Comms.ResetRxCondition();

        std::vector<uint8_t> Stream(Random() % (Random() % 5 == 0 ? 700 : 40));
        for (uint8_t& Byte : Stream) {
            Byte = static_cast<uint8_t>(Random() % 5 == 0 ? Random() : Random() % 5);
        }
        // In a few chunks, as the port delivers them.
        size_t Fed = 0;
        while (Fed < Stream.size()) {
            const size_t Part = std::min<size_t>(1 + Random() % 50, Stream.size() - Fed);
            TKestCommsTestAccess::Feed(
                Comms, std::vector<uint8_t>(Stream.begin() + Fed, Stream.begin() + Fed + Part));
            Fed += Part;
        }
        if (Comms.ReplyStateValue() >= 1) {
            ++Completed;
        }
        const TModelBuffer Model = FillModel(Stream, Size);

        for (int Query = 0; Query < 4; ++Query) {
            const uint16_t condnum = static_cast<uint16_t>(Random() % (Items + 2));
            const uint16_t MaxLen =
                static_cast<uint16_t>(Random() % 3 == 0 ? Random() % 8 : Random() % 800);
            const int32_t Before = RandomSection(Random);
            const int32_t Middle = RandomSection(Random);
            const int32_t After = RandomSection(Random);
            std::vector<uint8_t> Dest(MaxLen + 1u + 16u, Canary);
            const uint16_t n = Comms.ReadReply(condnum, Dest.data(), MaxLen, Before, Middle, After);
            ASSERT_LE(n, MaxLen);
            ASSERT_EQ(Dest[n], 0);
            for (size_t i = MaxLen + 1u; i < Dest.size(); ++i) {
                ASSERT_EQ(Dest[i], Canary) << "written past MaxLen + 1";
            }
            std::vector<uint8_t> Expected;
            if (const TRxConditionItem* Item = Condition.GetItem(condnum);
                Item != nullptr && condnum >= 1) {
                Expected = ModelCopy(Model, Item->BeforeCount, Item->MiddleCount, Before, Middle,
                                     After, MaxLen);
            }
            ASSERT_EQ(std::vector<uint8_t>(Dest.begin(), Dest.begin() + n), Expected)
                << "round " << Round << " size " << Size << " condnum " << condnum << " B/M/A "
                << Before << "/" << Middle << "/" << After << " MaxLen " << MaxLen;
        }
        Comms.ClearRxCondition();
    }
    EXPECT_GT(Completed, 50) << "the streams should complete conditions now and then";
}
