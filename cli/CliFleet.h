// Several units in one command: each unit's run in a program of its own (this one,
// started again for its port), at most so many at once, the requests to stop passed on
// to every unit, and at the end one summary table and one report.
#pragma once

#include "cli/CliOptions.h"

#include <cstdio>

class TMainForm;

// Runs Options.Ports (Options.Many) to their end and gives the exit status: 0 when every
// unit ended complete or current (identified, for a survey), else 12; 2 when nothing was
// started.
int RunFleet(const TMainForm& Form, const TCliOptions& Options, FILE* Out);
