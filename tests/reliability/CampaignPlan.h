// The faults of one campaign run, drawn from its seed, and the time the run may take.
//
// The unit is this build's product (model 5516, program range 0x0800..0xBFFF): a complete
// run sees 2 Modbus replies (identity, switch) and 466 bootloader replies, numbered from 1:
// identity 1-2, model number 3-4, erase pages 5-96, write blocks 97-464, leave boot mode
// 465, restart 466.
//
// Time bound of a run, in milliseconds:
//
//   Bound = Base + 1.2 x (min(sum of C(f), W) + sum of L(f))
//
//   Base     what a run without faults may take on a loaded machine (no pacing);
//   C(f)     the time-outs fault f can cost: W for a unit that stops answering (no
//            answer, hang-up), else one bootloader time-out TB (a Modbus try costs less);
//   L(f)     the delay of a late reply, which an exchange that still succeeds can add;
//   W        every time-out a run can meet on any path: identity read 2 TM, switch TM,
//            bootloader identity 2 TB, model number 2 TB, one failing erase or write TB,
//            leave boot mode TB, restart TB = 2 x 2.1 + 2.1 + 7 x 3.1 = 28.0 s;
//   TM, TB   a Modbus (20 ticks) and a bootloader (30 ticks) time-out, (T + 1) x 100 ms;
//   1.2      the 100 ms tick's granularity and scheduling on a shared machine.
//
// A run that follows one which stopped in the bootloader meets a unit that no longer
// answers Modbus: its bound has 1.2 x 3 TM more (identity read twice, switch once).
#pragma once

#include "tools/unitsim/UnitSim.h"

#include <cstdint>
#include <string>

constexpr uint32_t ModbusTimeOutMs = 2100;
constexpr uint32_t BootTimeOutMs = 3100;
constexpr uint32_t AllTimeOutsMs = 3 * ModbusTimeOutMs + 7 * BootTimeOutMs;
constexpr uint32_t BootRepliesInARun = 466;
constexpr uint32_t ErasePagesInARun = 92;
constexpr uint32_t WriteBlocksInARun = 368;
constexpr uint32_t ValidRequestsInARun = 2 + BootRepliesInARun;

struct TCampaignPlan {
    uint32_t Seed = 0;
    TUnitSimConfig Config;
    std::string Faults; // readable, one word a fault, "" for none
    uint32_t FaultCount = 0;
    uint32_t BoundMs = 0;
    uint32_t BoundAfterStopMs = 0; // of a run after one that stopped in the bootloader
    // Faults the outcome checks need to know about.
    bool HangUp = false;     // the line goes dead at some frame
    bool Desync = false;     // a reply may arrive after its exchange gave up
    bool WrongModel = false; // the bootloader reports another model
    bool NoAnswer = false;
};

// The run's faults and bound; LinkPath is where the unit's port appears (and comes back).
TCampaignPlan DrawCampaignPlan(uint32_t Seed, const std::string& LinkPath, uint32_t BaseMs);
