#include "modbus/ModbusCrc.h"

uint16_t ModbusCrc(const uint8_t* Buffer, uint16_t First, uint16_t Last) {
    uint16_t crc = 0xFFFF;
    if (Last < First) {
        return crc;
    }
    for (uint32_t i = First; i <= Last; ++i) {
        crc ^= Buffer[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool carry = (crc & 1) != 0;
            crc >>= 1;
            if (carry) {
                crc ^= 0xA001;
            }
        }
    }
    return static_cast<uint16_t>((crc << 8) | (crc >> 8));
}
