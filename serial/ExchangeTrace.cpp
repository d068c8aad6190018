#include "serial/ExchangeTrace.h"

#include <algorithm>
#include <chrono>

namespace {

// A mark is one word: the step in the top byte, the time in the 56 bits below (2.2 years
// of nanoseconds since boot).
constexpr int StepShift = 56;
constexpr uint64_t TimeMask = (uint64_t{1} << StepShift) - 1;

} // namespace

void TExchangeTrace::Begin(size_t MarkCapacity) {
    On.store(false);
    Slots = std::make_unique<std::atomic<uint64_t>[]>(MarkCapacity);
    Capacity = MarkCapacity;
    Next.store(0);
    On.store(true);
}

std::vector<TExchangeMark> TExchangeTrace::End() {
    On.store(false);
    std::vector<TExchangeMark> marks;
    const size_t count = std::min(Next.load(), Capacity);
    marks.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint64_t word = Slots[i].load(std::memory_order_relaxed);
        marks.push_back(
            {static_cast<TExchangeStep>(word >> StepShift), static_cast<int64_t>(word & TimeMask)});
    }
    return marks;
}

void TExchangeTrace::Keep(TExchangeStep Step) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count();
    const size_t slot = Next.fetch_add(1, std::memory_order_relaxed);
    if (slot < Capacity) {
        Slots[slot].store((uint64_t{static_cast<uint8_t>(Step)} << StepShift) |
                              (static_cast<uint64_t>(ns) & TimeMask),
                          std::memory_order_relaxed);
    }
}
