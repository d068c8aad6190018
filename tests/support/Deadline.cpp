#include "Deadline.h"

#include <algorithm>
#include <cstdint>

int MsLeft(std::chrono::steady_clock::time_point Deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        Deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<int64_t>(0, left.count()));
}
