// placeholder until the port and about commands land.
#include "shell/Main1.h"

void TMainForm::CommsPort1Click() {}
void TMainForm::About1Click() {}
