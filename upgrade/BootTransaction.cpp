// placeholder until the bootloader exchange lands.
#include "shell/Main1.h"

int32_t TMainForm::BootTransaction(TKestComms*, uint8_t, uint8_t, uint8_t, const uint8_t*,
                                   uint16_t, uint8_t*) {
    return -1;
}
