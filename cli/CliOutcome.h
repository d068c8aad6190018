// How a run of the command-line program ends, and the exit status that says so. A run's
// outcome is read from its final log lines, whose texts are fixed; the statuses are part
// of the program's interface (its manual and README list them) and never change meaning.
#pragma once

#include <QString>
#include <QStringList>

enum class TCliStatus : int {
    Complete = 0,            // the image is written, the unit restarted and finalised
    Unknown = 1,             // the run ended without one of the outcomes below
    BadArguments = 2,        // nothing was started
    PortNotOpened = 3,       // the port cannot be opened (absent, no rights, in use)
    NoReply = 4,             // the unit did not answer (no model number)
    IncompatibleModel = 5,   // the unit is another model than the image's
    EraseError = 6,          // erasing program memory failed: its program is partly erased
    WriteError = 7,          // writing the image failed: its program is partly written
    SettingsNotSaved = 8,    // the unit's settings could not be read: the unit is untouched
    SettingsNotRestored = 9, // written and restarted, but its settings are not back
    Stopped = 10,            // stopped by a signal before the erase
    ReportNotWritten = 11,   // complete (or identified), but the JSON report is not written
    SomeUnitsFailed = 12,    // several units: not every one complete, current or identified
};

struct TCliOutcome {
    TCliStatus Status = TCliStatus::Unknown;
    QString Name; // "complete", "no reply", ...
};

// The outcome of a run from the log lines it ended with (the last one decides).
TCliOutcome OutcomeOfRun(const QStringList& FinalLines);

// The outcome a status stands for (its name).
TCliOutcome OutcomeOfStatus(TCliStatus Status);
