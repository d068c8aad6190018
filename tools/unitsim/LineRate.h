// The line settings of a pty as a serial port would have them: raw bytes at a bit rate.
// Any rate goes through termios2 (BOTHER), so 92,160 and 800,000 work as well as the
// standard ones.
#pragma once

#include <cstdint>

// The output rate the slave side of the pty is set to, read through either side (on
// the master, the kernel answers with the slave's settings). 0 when it cannot be read.
uint32_t ReadLineRate(int Fd);
// Both rates as the kernel reports them. False when they cannot be read.
bool ReadLineRates(int Fd, uint32_t& Output, uint32_t& Input);

// Raw mode (no echo, no line editing, no translation), 8 data bits, no parity, one stop
// bit, receiver on, modem lines ignored, at Rate. False when the settings were refused
// or the rate read back differs from Rate.
bool SetRawLine(int Fd, uint32_t Rate);

// Whether a UART listening at Expected makes sense of bytes sent at Actual: within 1 %.
bool RatesMatch(uint32_t Actual, uint32_t Expected);
