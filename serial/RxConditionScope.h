// Attaches a receive condition list to a port for one exchange and detaches it on every
// way out. The port is watched: a component released during the wait (a handler inside
// it may destroy it) is not touched again.
#pragma once

#include "serial/KestComms.h"

#include <QPointer>

class TRxCondition;

class TRxConditionScope {
public:
    TRxConditionScope(TKestComms& Comms, TRxCondition& Condition) : Port(&Comms) {
        Comms.SetRxCondition(&Condition);
        Comms.ResetRxCondition();
    }
    ~TRxConditionScope() {
        if (Port) {
            Port->ClearRxCondition();
        }
    }
    TRxConditionScope(const TRxConditionScope&) = delete;
    TRxConditionScope& operator=(const TRxConditionScope&) = delete;

    // The port, or null once its component has been released.
    TKestComms* Get() const { return Port.data(); }

private:
    QPointer<TKestComms> Port;
};
