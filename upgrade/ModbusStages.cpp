// placeholder until the Modbus stages land.
#include "shell/Main1.h"

int32_t TMainForm::ReadUnitRegisters(uint8_t, uint8_t, uint16_t, uint16_t, uint16_t*) { return -1; }
int32_t TMainForm::WriteUnitRegister(uint8_t, uint8_t, uint16_t, uint16_t) { return -1; }
int32_t TMainForm::WriteUnitRegisters(uint8_t, uint8_t, uint16_t, uint16_t, const uint16_t*) {
    return -1;
}
int32_t TMainForm::ReadUnitIdentity() { return -1; }
int32_t TMainForm::BackupUnitSettings() { return 99; }
int32_t TMainForm::RestoreUnitSettings() { return 99; }
void TMainForm::CommitUnitSettings() {}
int32_t TMainForm::EnableBootLoader() { return -1; }
void TMainForm::Delay(int32_t) {}
