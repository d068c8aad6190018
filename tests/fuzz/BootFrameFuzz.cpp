// Bootloader frames from the fuzzer's input: unstuffing and reply decoding must stay inside
// their buffers and keep their promises, and any body must survive a build, the reply
// condition and a decode unchanged.
//
// Input: the reply count byte, then the received bytes. The same bytes also serve as a
// request (command, count, payload) for the round trip.
#include "serial/RxCondition.h"
#include "upgrade/BootFrame.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* What) {
    std::fprintf(stderr, "%s\n", What);
    std::abort();
}

void CheckDecode(const uint8_t* Received, size_t Length, uint8_t Count) {
    const std::vector<uint8_t> unstuffed = UnstuffBootFrame(Received, Length);
    if (unstuffed.size() > Length) {
        Fail("unstuffing grew the frame");
    }
    // Exactly Count bytes on the heap, so that a write past them is caught.
    constexpr uint8_t Fill = 0xA5;
    std::unique_ptr<uint8_t[]> reply(new uint8_t[Count]);
    std::fill_n(reply.get(), Count, Fill);
    const int32_t result = DecodeBootReply(unstuffed.data(), unstuffed.size(), Count, reply.get());
    const bool untouched =
        std::all_of(reply.get(), reply.get() + Count, [](uint8_t b) { return b == Fill; });
    if (result == -1) {
        if (!untouched) {
            Fail("rejected reply wrote the reply buffer");
        }
        return;
    }
    if (result != 1) {
        Fail("result neither 1 nor -1");
    }
    if (unstuffed.size() < 5) {
        Fail("accepted a frame without command, count and checksum");
    }
    uint8_t sum = 0;
    for (size_t i = 1; i + 1 < unstuffed.size(); ++i) {
        sum = static_cast<uint8_t>(sum + unstuffed[i]);
    }
    if (sum != 0) {
        Fail("accepted a bad checksum");
    }
    const size_t carried = std::min<size_t>(Count, unstuffed.size() - 5);
    if (!std::equal(reply.get(), reply.get() + carried, unstuffed.begin() + 3)) {
        Fail("data bytes not copied from after command and count");
    }
    if (!std::all_of(reply.get() + carried, reply.get() + Count,
                     [](uint8_t b) { return b == Fill; })) {
        Fail("wrote more than the frame carries");
    }
}

void CheckRoundTrip(const uint8_t* Data, size_t Size) {
    if (Size < 2) {
        return;
    }
    const size_t payloadLength = std::min(Size - 2, MaxBootPayload);
    const std::vector<uint8_t> frame = BuildBootFrame(Data[0], Data[1], Data + 2, payloadLength);
    if (frame.size() > 4 + 2 * (payloadLength + 3)) {
        Fail("frame larger than the worst case");
    }
    TRxCondition list;
    list.AddItem(2, "\x10\x02", true, 2, "\x10\x03", true, 0, 1, 0);
    for (size_t i = 0; i < frame.size(); ++i) {
        if ((list.MatchByte(frame[i]) == 0) != (i + 1 == frame.size())) {
            Fail("reply condition did not end at the frame's last byte");
        }
    }
    if (!list.IsComplete(1) || list.GetItem(1)->BeforeCount != 1) {
        Fail("reply condition not complete after the frame");
    }
    const std::vector<uint8_t> unstuffed = UnstuffBootFrame(frame.data(), frame.size());
    std::vector<uint8_t> reply(payloadLength);
    if (DecodeBootReply(unstuffed.data(), unstuffed.size(), static_cast<uint8_t>(payloadLength),
                        reply.data()) != 1 ||
        !std::equal(reply.begin(), reply.end(), Data + 2)) {
        Fail("round trip lost the payload");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size == 0) {
        return 0;
    }
    CheckDecode(Data + 1, Size - 1, Data[0]);
    CheckRoundTrip(Data, Size);
    return 0;
}
