#include "cli/CliUnitProcess.h"

#include <QProcess>

void SetUpUnitProcess(QProcess&) {
    // Nothing: the unit's program shares this console and gets its control events.
}

bool PassStopOn(QProcess&, const QString&) {
    return false;
}
