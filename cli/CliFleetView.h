// What a command running several units prints while they run. On a console that takes
// it, a line a unit (port, stage, percent, state), rewritten in place; elsewhere each
// line that ends one of a unit's stages, after its port; with --quiet nothing. Messages
// go to standard error, each after its unit's port.
#pragma once

#include "cli/CliConsole.h"

#include <QString>

#include <cstdio>
#include <optional>
#include <vector>

class TCliUnitRun;

class TCliFleetView {
public:
    // Progress: print the units' progress (not for --quiet, nor for a survey).
    TCliFleetView(const std::vector<TCliUnitRun*>& Shown, FILE* Stream, bool ShowProgress);
    void Changed();
    void Line(const TCliUnitRun& Unit, const QString& Text);
    // Unit: null for a message of the whole command.
    void Message(const TCliUnitRun* Unit, const QString& Text);
    // The units have ended: the lines in place are left as they are.
    void Finish();

private:
    QString UnitLine(const TCliUnitRun& Unit) const;
    void Draw();
    void Erase();

    std::vector<TCliUnitRun*> Units;
    FILE* Out;
    bool Progress;
    std::optional<TConsoleSize> Console; // set: lines rewritten in place
    int PortWidth = 0;
    bool Drawn = false;
};
