// Random condition lists and byte streams, from the fuzzer's input, through the product's
// matching and the reference model; any disagreement or memory fault is a finding.
//
// Input: item count, then per item StartLen, 7 start-text bytes, mode flags, EndLen,
// 7 end-text bytes and three minimum bytes; the rest is the received stream, in which
// the byte after an 0xFA marker byte says whether to reset (odd) before going on.
#include "tests/proto/RxConditionModel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr size_t ItemBytes = 1 + 7 + 1 + 1 + 7 + 3;

uint16_t Minimum(uint8_t b) {
    // Mostly small, so that conditions complete; sometimes large.
    return b < 0xE0 ? static_cast<uint16_t>(b % 12) : static_cast<uint16_t>((b - 0xE0) * 2048);
}

[[noreturn]] void Fail(const std::string& What, size_t At) {
    std::fprintf(stderr, "mismatch at stream byte %zu: %s\n", At, What.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size == 0) {
        return 0;
    }
    size_t at = 0;
    const size_t items = Data[at++] % 13;
    TRxCondition real;
    rxmodel::TModelList model;
    for (size_t i = 0; i < items && at + ItemBytes <= Size; ++i, at += ItemBytes) {
        const uint8_t* p = Data + at;
        char start[8] = {};
        char end[8] = {};
        std::copy(p + 1, p + 8, start);
        std::copy(p + 10, p + 17, end);
        const uint16_t startLen = p[0] % 8;
        const uint16_t endLen = p[9] % 8;
        const bool startExact = (p[8] & 1) != 0;
        const bool endExact = (p[8] & 2) != 0;
        real.AddItem(startLen, start, startExact, endLen, end, endExact, Minimum(p[17]),
                     Minimum(p[18]), Minimum(p[19]));
        model.Add(startLen, start, startExact, endLen, end, endExact, Minimum(p[17]),
                  Minimum(p[18]), Minimum(p[19]));
    }
    std::string difference = rxmodel::Compare(real, model);
    if (!difference.empty()) {
        Fail(difference, 0);
    }

    bool matched = false;
    for (size_t i = at; i < Size; ++i) {
        if (Data[i] == 0xFA && i + 1 < Size) {
            if ((Data[++i] & 1) != 0) {
                real.Reset();
                model.Reset();
                matched = false;
            }
            continue;
        }
        int32_t index = -1;
        if (matched) {
            real.CountByte();
        } else {
            index = real.MatchByte(Data[i]);
            matched = index != -1;
        }
        if (index != model.Feed(Data[i])) {
            Fail("MatchByte result", i);
        }
        difference = rxmodel::Compare(real, model);
        if (!difference.empty()) {
            Fail(difference, i);
        }
    }
    return 0;
}
