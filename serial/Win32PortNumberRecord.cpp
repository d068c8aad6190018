// Windows numbers its adapters itself, and keeps each one's number: nothing is numbered or
// recorded here.
#include "serial/PortNumbering.h"

TPortNumbering RecordNewAdapters(const QString&, const QList<TPresentPort>&, TSessionPortMap&) {
    return {};
}
