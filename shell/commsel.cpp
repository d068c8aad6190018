// placeholder until the port dialog lands.
#include "shell/commsel.h"

TCommSelFrm::TCommSelFrm(QWidget* Parent) : QDialog(Parent) {}
