#include "serial/RateTolerance.h"

bool RateWithinTolerance(uint32_t Asked, uint32_t Actual) {
    if (Asked == 0 || Actual == 0) {
        return false;
    }
    const uint64_t gap = Asked > Actual ? uint64_t{Asked} - Actual : uint64_t{Actual} - Asked;
    return gap * 50 <= Asked;
}
