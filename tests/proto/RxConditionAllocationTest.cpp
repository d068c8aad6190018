// Matching runs on every received byte: it must never touch the heap.
#include "serial/RxCondition.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> Counting{false};
std::atomic<long> Allocations{0};
} // namespace

// Counts the program's allocations while Counting is set.
void* operator new(std::size_t Size) {
    if (Counting.load()) {
        ++Allocations;
    }
    if (void* p = std::malloc(Size == 0 ? 1 : Size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t Size) {
    return operator new(Size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

TEST(RxConditionAllocation, MatchingCountingAndCheckingAllocateNothing) {
    TRxCondition list;
    // The count sees the list's own allocations: adding an item takes one.
    Counting = true;
    list.AddItem(1, "\x13", false, 1, "\x03", false, 0, 1, 8);
    Counting = false;
    ASSERT_EQ(Allocations.exchange(0), 1);
    list.AddItem(2, "\x10\x02", true, 2, "\x10\x03", true, 0, 1, 0);
    Counting = true;
    int completed = 0;
    for (int reply = 0; reply < 200; ++reply) {
        list.Reset();
        bool matched = false;
        for (int i = 0; i < 50; ++i) {
            const auto c = static_cast<uint8_t>((reply * 7 + i * 13) % 24);
            if (matched) {
                list.CountByte();
            } else {
                matched = list.MatchByte(c) != -1;
            }
            completed += list.IsComplete(1) || list.IsComplete(2) ? 1 : 0;
        }
    }
    Counting = false;
    EXPECT_EQ(Allocations.load(), 0);
    EXPECT_GT(completed, 0); // the stream does complete conditions
}

} // namespace
