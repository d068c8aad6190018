// The stages of an upgrade, one per step message. Each runs to its end on the GUI thread
// and names the step to post next; the sequence (UpgradeSequence.cpp) does the posting,
// the start and the end of a run.
#pragma once

class TMainForm;

constexpr int FirstUpgradeStep = 20;
constexpr int FinalUpgradeStep = 99;
constexpr int NoNextUpgradeStep = -1;

// True for the step numbers a run visits (20, 0, 7, 1, 2, 3, 4, 5, 6, 21 and 99).
bool IsUpgradeStep(int Step);

// Steps that only finish an update whose program is already written (leave boot mode,
// restart, put the settings back): a run asked to stop still completes them.
bool IsWrapUpStep(int Step);

// Runs the stage of Step (not the final step) and gives the step to post next.
int RunUpgradeStage(TMainForm& Form, int Step);
