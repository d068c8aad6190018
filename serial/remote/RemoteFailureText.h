// The operator's text for a remote port that did not open, the same on every system.
#pragma once

#include "serial/OpenFailure.h"

#include <QString>

// The reason Failure of a remote port gives, naming the port as Port ("COM7
// (rfc2217://line3-a.plant:4001)" or the name alone).
QString RemoteReason(const TOpenFailure& Failure, const QString& Port);
