// What a UART listening at one rate makes of bytes sent back to back at another: 8 data
// bits, no parity, one stop bit each. The receiver waits for a falling edge, samples the
// middle of each of its own bit times, and delivers the byte; a stop bit read as 0 is a
// framing error, delivered as 0x00 as a raw tty does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

std::vector<uint8_t> ReceiveAtRate(const std::vector<uint8_t>& Sent, uint32_t SentRate,
                                   uint32_t ReceiverRate);
