// placeholder until the Modbus master lands.
#include "modbus/ModBusPro.h"

int32_t ReadRegisters(TKestComms*&, uint8_t, uint8_t, uint16_t, uint16_t, uint16_t, uint16_t*) {
    return -1;
}
int32_t WriteRegister(TKestComms*&, uint8_t, uint8_t, uint16_t, uint16_t, uint16_t) { return -1; }
int32_t WriteRegisters(TKestComms*&, uint8_t, uint8_t, uint16_t, uint16_t, const uint16_t*,
                       uint16_t) {
    return -1;
}
