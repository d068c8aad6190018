// The rule for the rate a driver reports back: within 2 % of the one asked for, never 0,
// and exact at the edges of the 32-bit range (a pty cannot round, so the rule is pinned
// here rather than on a device).
#include "serial/LineRate.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(LineRateTolerance, AcceptsUpToTwoPercentEitherWayAndNothingMore) {
    struct TCase {
        uint32_t Asked;
        uint32_t Actual;
        bool Accepted;
    };
    constexpr uint32_t Max = UINT32_MAX;
    const TCase cases[] = {
        {115200, 115200, true},
        {100000, 102000, true},  // exactly 2 % above
        {100000, 98000, true},   // exactly 2 % below
        {100000, 102001, false}, // just over
        {100000, 97999, false},
        {92160, 90000, false}, // 2.34 % off: a divisor this far out garbles frames
        {92160, 93750, true},  // 1.73 %
        {4000000, 4080000, true},
        {4000000, 4080001, false},
        {4000000, 3920000, true},
        {0, 0, false}, // a rate of 0 hangs the line up: never accepted
        {0, 9600, false},
        {9600, 0, false},
        {1, 1, true},
        {1, 2, false},
        {Max, Max, true},
        {Max, 0, false},
        {Max, 1, false},             // a wrapping difference would call this a match
        {Max - 84215045, Max, true}, // the lowest rate that Max is within 2 % of
        {Max - 84215046, Max, false},
        {Max, Max - 85899345, true},
        {Max, Max - 85899346, false},
        {2000000000, Max, false},
    };
    for (const TCase& row : cases) {
        EXPECT_EQ(RateWithinTolerance(row.Asked, row.Actual), row.Accepted)
            << "asked " << row.Asked << ", driver gives " << row.Actual;
    }
}
