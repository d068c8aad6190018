// Whether a finished run's log agrees with what the unit saw: a run reported complete
// wrote the image, and a run that stopped with an error line sent nothing that belongs to
// a later step.
#pragma once

#include "CampaignPlan.h"

#include "tools/unitsim/UnitSim.h"

#include <QStringList>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class TRunOutcome {
    Complete,
    InitError,
    NoReply,    // model number step, no valid reply
    WrongModel, // model number step, another model
    EraseError,
    WriteError,
    PortErrorBox, // a failure raised by the port ended the run
    Unrecognised,
};

const char* OutcomeName(TRunOutcome Outcome);

struct TRunRecord {
    QStringList LogLines;
    std::vector<QString> ErrorBoxes; // texts of the critical boxes shown during the run
    TUnitSimReport Report;
    size_t FirstFrame = 0; // the run's frames are Report.Frames[FirstFrame..]
    const uint8_t* Image = nullptr;
    uint32_t LastProgramAddress = 0;
};

struct TRunVerdict {
    TRunOutcome Outcome = TRunOutcome::Unrecognised;
    std::vector<std::string> Problems;
};

TRunVerdict JudgeRun(const TCampaignPlan& Plan, const TRunRecord& Run);

// The outcome the log lines tell, with what is wrong with their shape.
TRunOutcome ReadOutcome(const QStringList& Lines, std::vector<std::string>& Problems);
