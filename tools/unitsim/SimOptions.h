// The command line of the unitsim program.
#pragma once

#include "tools/unitsim/UnitSim.h"

#include <string>
#include <vector>

struct TSimOptions {
    TUnitSimConfig Config;
    std::string IniDir; // write Bootload.Ini there
    int ComNumber = 1;
    std::string ReportPath; // "-" for standard output
    std::vector<TFlashRange> Digests;
    bool Help = false;
};

// False with Error set when an option is unknown or its value does not parse.
bool ParseSimOptions(const std::vector<std::string>& Arguments, TSimOptions& Options,
                     std::string& Error);

std::string SimHelpText();
