// What the unplug and re-entrancy tests share: a unit whose port is a stable link (so it
// can come back at the same path), the window on it, and hooks into the log list.
#pragma once

#include "CompleteRun.h"
#include "tests/upgrade/FormHarness.h"
#include "tools/unitsim/UnitSim.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <ctime>
#include <functional>
#include <memory>

class TLinkedUnit {
public:
    explicit TLinkedUnit(TUnitSimConfig Config = {});
    TUnitSim& Unit() { return *Sim; }
    TFormHarness& Harness() { return *Window; }
    TMainForm& Form() { return Window->Form(); }
    bool Started() const { return StartedOk; }
    // The unit's flash holds the window's image over the program range.
    bool FlashHoldsImage();

private:
    QTemporaryDir LinkDir;
    std::unique_ptr<TUnitSim> Sim;
    std::unique_ptr<TFormHarness> Window;
    bool StartedOk = false;
};

// Runs Action once, from the event loop, when the last log line is rewritten to Text
// (a progress percentage, say): while the step that rewrote it waits for the unit.
void WhenLineReads(TMainForm& Form, const QString& Text, std::function<void()> Action);

// CPU time this process has used, in milliseconds.
double ProcessCpuMs();
