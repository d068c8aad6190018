// placeholder until the bootloader commands land.
#include "shell/Main1.h"

int32_t TMainForm::GetBootloaderInfo() { return -1; }
uint32_t TMainForm::GetModelNumber() { return 0xFFFF0000u; }
bool TMainForm::EraseProgramMemory() { return false; }
bool TMainForm::SendProgramData() { return false; }
bool TMainForm::DisableBootMode() { return false; }
int32_t TMainForm::RestartUnit() { return -1; }
