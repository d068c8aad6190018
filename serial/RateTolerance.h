// Whether the rate a serial driver runs at serves for the one asked for: many USB adapters
// run at what their divisor gives, and a UART tolerates a 2 % gap between the two ends.
#pragma once

#include <cstdint>

// Nothing serves for a rate of 0, and 0 serves for nothing.
bool RateWithinTolerance(uint32_t Asked, uint32_t Actual);
