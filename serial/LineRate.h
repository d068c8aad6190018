// Bit rates through the kernel's termios2 interface: any rate, not only the standard
// ones, and the rate the driver actually accepted.
#pragma once

#include "serial/RateTolerance.h"

#include <cstdint>

// Sets input and output rate to Rate with BOTHER, keeping every other setting.
// False with errno set when the driver refuses.
bool SetArbitraryLineRate(int Handle, uint32_t Rate);
// The output and input rates the driver holds now. False with errno set when the
// driver cannot say.
bool GetLineRate(int Handle, uint32_t& OutputRate, uint32_t& InputRate);
