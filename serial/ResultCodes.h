// The result codes of one exchange with the unit (a Modbus transaction, a bootloader
// exchange, the wait for a reply) and of the operations built on them. Callers compare
// plain integers, so these are the integers themselves.
#pragma once

#include <cstdint>

namespace TxResult {

// A normal reply: for a read, its CRC is good and the values are copied.
constexpr int32_t Ok = 1;
// No reply within the time-out.
constexpr int32_t TimedOut = 0;
// Bad CRC or checksum, no open port, or a wait that failed.
constexpr int32_t Failed = -1;
// The port was closed (or its component released) during the wait.
constexpr int32_t PortClosed = -2;
// A Modbus exception reply.
constexpr int32_t ExceptionReply = 2;
// The settings backup and restore: the unit keeps its settings across this update, so
// nothing was read or written.
constexpr int32_t NoSettingsToCarry = 99;

} // namespace TxResult
