// The Modbus RTU frame check. Needs neither Qt nor a port: the master, the simulated unit
// and the tests frame with the same function.
#pragma once

#include <cstdint>

// CRC-16/MODBUS over Buffer[First..Last] (both inclusive), returned with its two bytes
// swapped: the CRC's low byte is in the high half, so storing the value high half first
// puts the CRC on the wire low byte first. Last below First gives 0xFFFF.
uint16_t ModbusCrc(const uint8_t* Buffer, uint16_t First, uint16_t Last);
