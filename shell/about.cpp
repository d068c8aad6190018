// placeholder until the about box lands.
#include "shell/about.h"

TAboutBox::TAboutBox(QWidget* Parent) : QDialog(Parent) {}
void TAboutBox::ReadVersionInfo() {}
