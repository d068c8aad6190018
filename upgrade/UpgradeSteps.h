// The stages of an upgrade, one per step message. Each runs to its end on the GUI thread
// and names the step to post next; the sequence (UpgradeSequence.cpp) does the posting,
// the start and the end of a run.
#pragma once

class TMainForm;

// The step numbers, in the order a run visits them. One table in UpgradeSteps.cpp gives
// each its stage, its log line, whether it is a wrap-up step and the step after it.
namespace UpgradeStep {
constexpr int Initialise = 20;
constexpr int EnableBootMode = 0; // switches the unit into its bootloader
constexpr int BootloaderInfo = 7;
constexpr int CheckModel = 1;
constexpr int Erase = 2; // the first step that changes the unit's program memory
constexpr int SendProgram = 3;
constexpr int LeaveBootMode = 4;
constexpr int Restart = 5;
constexpr int ReportRestart = 6;
constexpr int Finalise = 21;
constexpr int Final = 99; // gives the controls back
} // namespace UpgradeStep

constexpr int FirstUpgradeStep = UpgradeStep::Initialise;
constexpr int FinalUpgradeStep = UpgradeStep::Final;
constexpr int NoNextUpgradeStep = -1;

// True for the step numbers a run visits (20, 0, 7, 1, 2, 3, 4, 5, 6, 21 and 99).
bool IsUpgradeStep(int Step);

// Steps that only finish an update whose program is already written (leave boot mode,
// restart, put the settings back): a run asked to stop still completes them.
bool IsWrapUpStep(int Step);

// Runs the stage of Step (not the final step) and gives the step to post next.
int RunUpgradeStage(TMainForm& Form, int Step);
