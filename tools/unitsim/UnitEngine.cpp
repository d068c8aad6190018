#include "tools/unitsim/UnitEngine.h"

#include "tools/unitsim/LineRate.h"

#include <algorithm>

namespace {

using TTime = TUnitEngine::TTime;

TTime After(TTime At, double Ms) {
    return At + std::chrono::duration_cast<TUnitEngine::TClock::duration>(
                    std::chrono::duration<double, std::milli>(Ms));
}

uint8_t BodySum(const std::vector<uint8_t>& Body) {
    uint8_t sum = 0;
    for (uint8_t byte : Body) {
        sum = static_cast<uint8_t>(sum + byte);
    }
    return sum;
}

template <typename TQueue, typename TItem> void InsertByDue(TQueue& Queue, TItem Item) {
    const auto place =
        std::upper_bound(Queue.begin(), Queue.end(), Item.Due,
                         [](const TTime& Due, const auto& Queued) { return Due < Queued.Due; });
    Queue.insert(place, std::move(Item));
}

} // namespace

TUnitEngine::TUnitEngine(const TUnitSimConfig& GivenConfig, TTime StartTime)
    : Config(GivenConfig), Start(StartTime),
      CurrentMode(Config.StartMode.value_or(Config.ModelNumber == 5479 ? TUnitMode::Boot
                                                                       : TUnitMode::Running)),
      Flash(Config.InitialFlash), Boot(Config, Flash), Modbus(Config), Noise(Config.NoiseSeed),
      LastHeard(StartTime), InboundLineFree(StartTime), FirmwareVersion(Config.FirmwareVersion) {
    if (CurrentMode == TUnitMode::Boot) {
        ++BootEntries;
        Boot.BeginSession();
    }
}

uint32_t TUnitEngine::RateOf(TUnitMode Mode) const {
    const bool fast = Config.ModelNumber == 5466;
    if (Mode == TUnitMode::Running) {
        return fast ? 800000 : 9600;
    }
    return fast ? 92160 : 115200;
}

uint32_t TUnitEngine::ModeRate() const {
    return RateOf(CurrentMode);
}

double TUnitEngine::MsSinceStart(TTime At) const {
    return std::chrono::duration<double, std::milli>(At - Start).count();
}

void TUnitEngine::Log(TTime At, bool FromUpdater, uint32_t Rate, std::vector<uint8_t> Bytes,
                      std::string Verdict) {
    Frames.push_back(
        {MsSinceStart(At), FromUpdater, Rate, CurrentMode, std::move(Bytes), std::move(Verdict)});
}

void TUnitEngine::DropHeld(TTime Now, uint32_t Rate, const std::string& Why) {
    std::vector<uint8_t> held = ModbusFrames.Clear();
    std::vector<uint8_t> heldBoot = BootFrames.Clear();
    held.insert(held.end(), heldBoot.begin(), heldBoot.end());
    if (!held.empty()) {
        Log(Now, true, Rate, std::move(held), "partial request dropped: " + Why);
    }
}

void TUnitEngine::Receive(const uint8_t* Bytes, size_t Length, uint32_t LineRate, TTime Now) {
    LastHeard = Now;
    std::vector<uint8_t> chunk(Bytes, Bytes + Length);
    if (Restarting) {
        Log(Now, true, LineRate, std::move(chunk), "unit restarting: not heard");
        return;
    }
    if (!RatesMatch(LineRate, ModeRate())) {
        DropHeld(Now, LineRate, "bytes at the wrong rate followed");
        Log(Now, true, LineRate, std::move(chunk),
            "wrong rate: the unit listens at " + std::to_string(ModeRate()));
        return;
    }
    // With pacing the unit has the bytes only once they have crossed the line.
    TTime heard = Now;
    if (Config.Pacing) {
        InboundLineFree =
            After(std::max(InboundLineFree, Now), Length * 10000.0 / std::max(LineRate, 1u));
        heard = InboundLineFree;
    }
    if (CurrentMode == TUnitMode::Running) {
        TakeModbusPieces(ModbusFrames.Feed(Bytes, Length), LineRate, heard);
    } else {
        TakeBootPieces(BootFrames.Feed(Bytes, Length), LineRate, heard);
    }
}

void TUnitEngine::TakeModbusPieces(std::vector<TModbusPiece> Pieces, uint32_t Rate, TTime Heard) {
    for (TModbusPiece& piece : Pieces) {
        if (!piece.IsFrame) {
            Log(Heard, true, Rate, std::move(piece.Bytes),
                piece.AtSilence ? "no request: dropped after a silence"
                                : "no request: bad CRC or garbage, skipped");
            continue;
        }
        Log(Heard, true, Rate, piece.Bytes, "ok");
        Accept(true, std::move(piece.Bytes), Frames.size() - 1, Heard);
    }
}

void TUnitEngine::TakeBootPieces(std::vector<TBootPiece> Pieces, uint32_t Rate, TTime Heard) {
    for (TBootPiece& piece : Pieces) {
        if (!piece.IsFrame) {
            Log(Heard, true, Rate, std::move(piece.Wire), "no request: " + piece.Why);
            continue;
        }
        if (piece.Body.size() < 3 || BodySum(piece.Body) != 0) {
            const std::string why =
                piece.Body.size() < 3 ? "frame too short for a request" : "bad checksum";
            Faults.push_back("bootloader request with a " + why);
            Log(Heard, true, Rate, std::move(piece.Wire), why + ": ignored");
            continue;
        }
        Log(Heard, true, Rate, std::move(piece.Wire), "ok");
        Accept(false, std::move(piece.Body), Frames.size() - 1, Heard);
    }
}

void TUnitEngine::Accept(bool IsModbus, std::vector<uint8_t> Bytes, size_t LogIndex, TTime Heard) {
    ++ValidFrames;
    if (Config.HangUp && !HangUpFired && ValidFrames >= Config.HangUp->AfterFrames) {
        HangUpFired = true;
        HangUpDue = true;
        Frames[LogIndex].Verdict = "ok, but the line hangs up (injected) before it is acted on";
        return;
    }
    if (Config.NoAnswer) {
        Frames[LogIndex].Verdict = "ok, but the unit does not answer (injected)";
        return;
    }
    uint32_t workMs = Config.OtherMs;
    if (!IsModbus && Bytes[0] == 0x03) {
        workMs = Config.EraseMs;
    } else if (!IsModbus && Bytes[0] == 0x02) {
        workMs = Config.WriteMs;
    }
    InsertByDue(Requests, TRequest{After(Heard, workMs), IsModbus, std::move(Bytes), LogIndex});
}

void TUnitEngine::Advance(uint32_t LineRate, TTime Now) {
    while (true) {
        const bool switchDue = Pending && Pending->At <= Now;
        const bool requestDue = !Requests.empty() && Requests.front().Due <= Now;
        if (switchDue && (!requestDue || Pending->At <= Requests.front().Due)) {
            const TSwitch due = *Pending;
            Pending.reset();
            ApplySwitch(due);
        } else if (requestDue) {
            const TRequest request = std::move(Requests.front());
            Requests.pop_front();
            Process(request, LineRate);
        } else {
            break;
        }
    }
    const bool holding =
        CurrentMode == TUnitMode::Running ? ModbusFrames.Holding() : BootFrames.Holding();
    if (holding && After(LastHeard, Config.FrameGapMs) <= Now) {
        if (CurrentMode == TUnitMode::Running) {
            TakeModbusPieces(ModbusFrames.Silence(), LineRate, Now);
        } else {
            TakeBootPieces(BootFrames.Silence(), LineRate, Now);
        }
        Advance(LineRate, Now); // a request ended by the silence may be due at once
    }
}

void TUnitEngine::Process(const TRequest& Request, uint32_t LineRate) {
    std::string& verdict = Frames[Request.LogIndex].Verdict;
    if (Request.IsModbus) {
        TModbusOutcome outcome = Modbus.Handle(Request.Bytes);
        verdict = "ok: " + outcome.Verdict;
        Faults.insert(Faults.end(), outcome.Faults.begin(), outcome.Faults.end());
        if (outcome.Committed) {
            ++Commits;
            CommittedSettings = Modbus.Settings();
        }
        TTime end = Request.Due;
        if (!outcome.Reply.empty()) {
            end = SendReply(std::move(outcome.Reply), true, false, Request.Due, LineRate);
        }
        if (outcome.SwitchToBoot) {
            Pending = TSwitch{end, TSwitchKind::EnterBoot};
        }
        return;
    }
    TBootOutcome outcome = Boot.Handle(Request.Bytes);
    verdict = "ok: " + outcome.Verdict;
    Faults.insert(Faults.end(), outcome.Faults.begin(), outcome.Faults.end());
    TTime end = Request.Due;
    if (!outcome.Reply.empty()) {
        end = SendReply(std::move(outcome.Reply), false, outcome.SpoilChecksum, Request.Due,
                        LineRate);
    }
    if (outcome.Restart) {
        Pending = TSwitch{end, TSwitchKind::BeginRestart};
    }
}

TTime TUnitEngine::SendReply(std::vector<uint8_t> Content, bool IsModbus, bool Spoil, TTime StartAt,
                             uint32_t LineRate) {
    TReplyContext context;
    context.IsModbus = IsModbus;
    context.AnyOrdinal = ++AnyReplies;
    context.KindOrdinal = IsModbus ? ++ModbusReplies : ++BootReplies;
    context.UnitRate = ModeRate();
    context.OtherRate =
        RateOf(CurrentMode == TUnitMode::Running ? TUnitMode::Boot : TUnitMode::Running);
    context.LineRate = LineRate;
    bool badCheck = Spoil;
    for (const TReplyPick& pick : Config.BadCheck) {
        badCheck = badCheck || Picks(pick, context);
    }
    std::vector<uint8_t> wire;
    std::string notes;
    if (IsModbus) {
        wire = std::move(Content);
        if (badCheck) {
            wire[wire.size() - 2] ^= 0xFF;
            notes = "; bad CRC (injected)";
        }
    } else {
        wire = FrameReply(Content, badCheck);
        if (badCheck) {
            notes = "; bad checksum (injected)";
        }
    }
    TShapedReply shaped = ShapeReply(std::move(wire), context, Config, Noise);
    for (TReplyPiece& piece : shaped.Pieces) {
        InsertByDue(Output, TOutput{After(StartAt, piece.AtMs), std::move(piece.Bytes)});
    }
    Log(StartAt, false, context.UnitRate, std::move(shaped.Wire), "reply" + notes + shaped.Notes);
    return After(StartAt, shaped.EndMs);
}

void TUnitEngine::ApplySwitch(const TSwitch& Switch) {
    switch (Switch.Kind) {
    case TSwitchKind::EnterBoot:
        DropHeld(Switch.At, ModeRate(), "the unit switched to its bootloader");
        Modbus.Disarm();
        CurrentMode = TUnitMode::Boot;
        ++BootEntries;
        Boot.BeginSession();
        return;
    case TSwitchKind::BeginRestart:
        DropHeld(Switch.At, ModeRate(), "the unit restarted");
        Restarting = true;
        if (!Boot.BootModeLeft()) {
            Faults.push_back("restart without leaving boot mode first: the unit comes back "
                             "in its bootloader");
        }
        Pending = TSwitch{After(Switch.At, Config.RestartMs), Boot.BootModeLeft()
                                                                  ? TSwitchKind::RunFirmware
                                                                  : TSwitchKind::RestartBootloader};
        return;
    case TSwitchKind::RunFirmware: {
        Restarting = false;
        CurrentMode = TUnitMode::Running;
        ++Restarts;
        if (Flash.WrittenThisSession()) {
            const bool crossing = Config.ModelNumber == 5468 && FirmwareVersion < 110 &&
                                  Config.FirmwareVersionAfter >= 110;
            if (Config.ResetSettingsOnUpdate.value_or(crossing)) {
                Modbus.ResetSettings();
            }
            FirmwareVersion = Config.FirmwareVersionAfter;
            Modbus.SetFirmwareVersion(FirmwareVersion);
        }
        return;
    }
    case TSwitchKind::RestartBootloader:
        Restarting = false;
        ++BootEntries;
        Boot.BeginSession();
        return;
    }
}

std::optional<TTime> TUnitEngine::NextDue() const {
    std::optional<TTime> due;
    auto consider = [&](TTime At) {
        if (!due || At < *due) {
            due = At;
        }
    };
    if (Pending) {
        consider(Pending->At);
    }
    if (!Requests.empty()) {
        consider(Requests.front().Due);
    }
    if (!Output.empty()) {
        consider(Output.front().Due);
    }
    const bool holding =
        CurrentMode == TUnitMode::Running ? ModbusFrames.Holding() : BootFrames.Holding();
    if (holding) {
        consider(After(LastHeard, Config.FrameGapMs));
    }
    return due;
}

std::vector<uint8_t> TUnitEngine::TakeDueOutput(TTime Now) {
    std::vector<uint8_t> bytes;
    while (!Output.empty() && Output.front().Due <= Now) {
        bytes.insert(bytes.end(), Output.front().Bytes.begin(), Output.front().Bytes.end());
        Output.pop_front();
    }
    return bytes;
}

bool TUnitEngine::TakeHangUp() {
    const bool due = HangUpDue;
    HangUpDue = false;
    return due;
}

void TUnitEngine::LineLost(TTime Now, const std::string& Why) {
    ++HangUps;
    DropHeld(Now, ModeRate(), Why);
    std::vector<uint8_t> lost;
    for (const TOutput& queued : Output) {
        lost.insert(lost.end(), queued.Bytes.begin(), queued.Bytes.end());
    }
    Output.clear();
    Discard(std::move(lost), Now);
}

void TUnitEngine::Discard(std::vector<uint8_t> Bytes, TTime Now) {
    if (!Bytes.empty()) {
        Log(Now, false, ModeRate(), std::move(Bytes), "lost: no line to send on");
    }
}

TUnitSimReport TUnitEngine::Snapshot() const {
    TUnitSimReport report;
    report.Mode = CurrentMode;
    report.Restarting = Restarting;
    report.FirmwareVersion = FirmwareVersion;
    report.Flash.assign(Flash.Bytes().begin(), Flash.Bytes().end());
    report.Erases = Boot.Erases();
    report.Writes = Boot.Writes();
    report.BootEntries = BootEntries;
    report.Restarts = Restarts;
    report.ClockStartNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Start.time_since_epoch()).count();
    report.BootModeLeft = Boot.BootModeLeft();
    report.UpdaterFaults = Faults;
    report.Registers = Modbus.Registers();
    report.Commits = Commits;
    report.CommittedSettings = CommittedSettings;
    report.Frames = Frames;
    report.HangUps = HangUps;
    return report;
}
