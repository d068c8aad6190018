// The bootloader's frames byte for byte: building and stuffing requests, unstuffing and
// checking replies, and how the reply condition frames them.
#include "upgrade/BootFrame.h"
#include "serial/RxCondition.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using TBytes = std::vector<uint8_t>;

TBytes Build(uint8_t Command, uint8_t Count, const TBytes& Payload) {
    return BuildBootFrame(Command, Count, Payload.data(), Payload.size());
}

// Unstuffs and decodes a received frame into a reply buffer pre-filled with 0xAA.
struct TDecoded {
    int32_t Result;
    TBytes Reply;
};
TDecoded Decode(const TBytes& Frame, uint8_t Count) {
    const TBytes unstuffed = UnstuffBootFrame(Frame.data(), Frame.size());
    TDecoded d{0, TBytes(Count, 0xAA)};
    d.Result = DecodeBootReply(unstuffed.data(), unstuffed.size(), Count, d.Reply.data());
    return d;
}

TEST(BootFrameRequests, GoOutByteForByte) {
    EXPECT_EQ(Build(0x00, 2, {}), (TBytes{0x10, 0x02, 0x00, 0x02, 0xFE, 0x10, 0x03}));
    EXPECT_EQ(Build(0x03, 8, {0x00, 0x08, 0x00}),
              (TBytes{0x10, 0x02, 0x03, 0x08, 0x00, 0x08, 0x00, 0xED, 0x10, 0x03}));
    EXPECT_EQ(Build(0x03, 8, {0x00, 0x10, 0x00}),
              (TBytes{0x10, 0x02, 0x03, 0x08, 0x00, 0x10, 0x10, 0x00, 0xE5, 0x10, 0x03}));
    EXPECT_EQ(Build(0x00, 0, {}), (TBytes{0x10, 0x02, 0x00, 0x00, 0x00, 0x10, 0x03}));
}

TEST(BootFrameRequests, DoubleOnlyDleIncludingTheChecksum) {
    // Body F0 00 sums to F0: checksum 0x10, sent twice; STX and ETX in the body stay single.
    EXPECT_EQ(Build(0xF0, 0x00, {}), (TBytes{0x10, 0x02, 0xF0, 0x00, 0x10, 0x10, 0x10, 0x03}));
    EXPECT_EQ(Build(0x02, 0x03, {0x10}),
              (TBytes{0x10, 0x02, 0x02, 0x03, 0x10, 0x10, 0xEB, 0x10, 0x03}));
}

TEST(BootFrameRequests, LargestAllDleBodyFitsTheWorstCaseBuffer) {
    const TBytes frame = Build(0x10, 0x10, TBytes(MaxBootPayload, 0x10));
    EXPECT_LE(frame.size(), 272u);
    EXPECT_EQ(frame.size(), 4u + 2 * 133 + 1); // the checksum 0xB0 is not doubled
    EXPECT_EQ(frame[frame.size() - 3], 0xB0);
}

TEST(BootFrameReplies, ModelNumberReplyYieldsItsTwoDataBytes) {
    const TDecoded d = Decode({0x10, 0x02, 0x00, 0x02, 0x15, 0x8C, 0x5D, 0x10, 0x03}, 2);
    EXPECT_EQ(d.Result, 1);
    EXPECT_EQ(d.Reply, (TBytes{0x15, 0x8C}));
}

TEST(BootFrameReplies, ChecksumOffByOneLeavesTheReplyUntouched) {
    for (uint8_t checksum : {0x5C, 0x5E}) {
        const TDecoded d = Decode({0x10, 0x02, 0x00, 0x02, 0x15, 0x8C, checksum, 0x10, 0x03}, 2);
        EXPECT_EQ(d.Result, -1);
        EXPECT_EQ(d.Reply, (TBytes{0xAA, 0xAA}));
    }
}

TEST(BootFrameReplies, StuffedDleCountsAsOneDataByte) {
    const TDecoded d = Decode({0x10, 0x02, 0x00, 0x01, 0x10, 0x10, 0xEF, 0x10, 0x03}, 1);
    EXPECT_EQ(d.Result, 1);
    EXPECT_EQ(d.Reply, (TBytes{0x10}));
}

TEST(BootFrameReplies, DifferentCommandAndCountWithGoodChecksumAreAccepted) {
    const TDecoded d = Decode(Build(0x7E, 0x33, {0x01, 0x02}), 2);
    EXPECT_EQ(d.Result, 1);
    EXPECT_EQ(d.Reply, (TBytes{0x01, 0x02}));
}

TEST(BootFrameReplies, ShortFrameWithGoodChecksumCopiesOnlyWhatItCarries) {
    const TDecoded d = Decode(Build(0x00, 0x02, {0x15, 0x8C}), 6);
    EXPECT_EQ(d.Result, 1);
    EXPECT_EQ(d.Reply, (TBytes{0x15, 0x8C, 0xAA, 0xAA, 0xAA, 0xAA}));
    // No data at all: command, count and checksum only.
    const TDecoded empty = Decode(Build(0x00, 0x02, {}), 2);
    EXPECT_EQ(empty.Result, 1);
    EXPECT_EQ(empty.Reply, (TBytes{0xAA, 0xAA}));
}

TEST(BootFrameReplies, FrameTooShortForCommandCountAndChecksumIsRejected) {
    // Each of these sums to 0 over the bytes between the first and the last.
    for (const TBytes& unstuffed : {TBytes{}, TBytes{0x02}, TBytes{0x02, 0x03},
                                    TBytes{0x02, 0x00, 0x03}, TBytes{0x02, 0x00, 0x00, 0x03}}) {
        uint8_t reply[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        EXPECT_EQ(DecodeBootReply(unstuffed.data(), unstuffed.size(), 4, reply), -1)
            << unstuffed.size() << " bytes";
        EXPECT_EQ(reply[0], 0xAA);
    }
}

TEST(BootFrameUnstuffing, KeepsTheByteAfterEveryDleAndDropsATrailingDle) {
    const TBytes in = {0x10, 0x02, 0x10, 0x10, 0x41, 0x10, 0x03, 0x10};
    EXPECT_EQ(UnstuffBootFrame(in.data(), in.size()), (TBytes{0x02, 0x10, 0x41, 0x03}));
    EXPECT_TRUE(UnstuffBootFrame(nullptr, 0).empty());
}

TEST(BootFrameRoundTrip, RandomBodiesSurviveAndTheReplyConditionEndsAtTheLastByte) {
    std::mt19937 random(31337);
    for (int round = 0; round < 2000; ++round) {
        TBytes payload(random() % (MaxBootPayload + 1));
        for (uint8_t& b : payload) {
            b = random() % 3 == 0 ? 0x10 : static_cast<uint8_t>(random()); // plenty of DLEs
        }
        const auto command = static_cast<uint8_t>(random());
        const auto count = static_cast<uint8_t>(random());
        const TBytes frame = Build(command, count, payload);
        ASSERT_LE(frame.size(), 4 + 2 * (payload.size() + 3));

        TRxCondition list;
        list.AddItem(2, "\x10\x02", true, 2, "\x10\x03", true, 0, 1, 0);
        for (size_t i = 0; i < frame.size(); ++i) {
            const int32_t index = list.MatchByte(frame[i]);
            ASSERT_EQ(index, i + 1 == frame.size() ? 0 : -1) << "round " << round << " byte " << i;
        }
        ASSERT_TRUE(list.IsComplete(1));
        ASSERT_EQ(list.GetItem(1)->BeforeCount, 1);

        const TDecoded d = Decode(frame, static_cast<uint8_t>(payload.size()));
        ASSERT_EQ(d.Result, 1);
        ASSERT_EQ(d.Reply, payload);
    }
}

} // namespace
