// placeholder until the upgrade sequence lands.
#include "shell/Main1.h"

void TMainForm::Button6Click() {}
void TMainForm::RunUpgrade(int) {}
void TMainForm::PostUpgradeStep(int) {}
bool TMainForm::QueryCloseDuringRun() { return true; }
