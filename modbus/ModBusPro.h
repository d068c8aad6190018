// The Modbus RTU master: one request/reply exchange per call, over the serial component.
//
// Result codes (serial/ResultCodes.h): 1 normal reply (for a read, CRC good and values
// copied), 2 exception reply, 0 time-out, -1 bad CRC / no open port / failed wait, -2 port
// closed during the wait.
#pragma once

#include <cstdint>

class TKestComms;

// Comms is the owner's variable holding its component, read afresh at each call; a null
// component gives -1. Values receives at most Count words, whatever the reply announces.
int32_t ReadRegisters(TKestComms*& Comms, uint8_t Slave, uint8_t Function, uint16_t FirstRegister,
                      uint16_t Count, uint16_t TimeOut, uint16_t* Values);
int32_t WriteRegister(TKestComms*& Comms, uint8_t Slave, uint8_t Function, uint16_t Register,
                      uint16_t Value, uint16_t TimeOut);
// Count is at most 20 (the request is built in a 50-byte buffer); more gives -1, nothing sent.
int32_t WriteRegisters(TKestComms*& Comms, uint8_t Slave, uint8_t Function, uint16_t FirstRegister,
                       uint16_t Count, const uint16_t* Values, uint16_t TimeOut);
