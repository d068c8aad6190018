// What the window's log list holds after a complete run of this build's product against
// a sound unit, a line a stage.
#pragma once

#include <QStringList>

QStringList CompleteRunLog();
