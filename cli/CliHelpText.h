// The parts of bootload-cli's help text that differ by system: how a port is named and
// what stops a run.
#pragma once

#include <QString>

// The description of --port, each line after the first indented to the options' column.
QString PortOptionHelp();
// The paragraph on stopping a run, ending in a newline.
QString StopRequestHelp();
// What stopped a run of exit status 10: "a signal (SIGINT, SIGTERM, ...)".
QString StopRequestPhrase();
