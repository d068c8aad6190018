// Bit rates through the kernel's termios2 interface: any rate, not only the standard
// ones, and the rate the driver actually accepted.
#pragma once

#include <cstdint>

// Sets input and output rate to Rate with BOTHER, keeping every other setting.
// False with errno set when the driver refuses.
bool SetArbitraryLineRate(int Handle, uint32_t Rate);
// The output and input rates the driver holds now. False with errno set when the
// driver cannot say.
bool GetLineRate(int Handle, uint32_t& OutputRate, uint32_t& InputRate);
// Whether the rate a driver runs at serves for the one asked for: many USB adapters run
// at what their divisor gives, and a UART tolerates a 2 % gap between the two ends.
// Nothing serves for a rate of 0, and 0 serves for nothing.
bool RateWithinTolerance(uint32_t Asked, uint32_t Actual);
