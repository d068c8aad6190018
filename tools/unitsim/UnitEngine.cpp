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
    uint8_t Sum = 0;
    for (uint8_t Byte : Body) {
        Sum = static_cast<uint8_t>(Sum + Byte);
    }
    return Sum;
}

template <typename TQueue, typename TItem> void InsertByDue(TQueue& Queue, TItem Item) {
    const auto Place =
        std::upper_bound(Queue.begin(), Queue.end(), Item.Due,
                         [](const TTime& Due, const auto& Queued) { return Due < Queued.Due; });
    Queue.insert(Place, std::move(Item));
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
    const bool Fast = Config.ModelNumber == 5466;
    if (Mode == TUnitMode::Running) {
        return Fast ? 800000 : 9600;
    }
    return Fast ? 92160 : 115200;
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
    std::vector<uint8_t> Held = ModbusFrames.Clear();
    std::vector<uint8_t> HeldBoot = BootFrames.Clear();
    Held.insert(Held.end(), HeldBoot.begin(), HeldBoot.end());
    if (!Held.empty()) {
        Log(Now, true, Rate, std::move(Held), "partial request dropped: " + Why);
    }
}

void TUnitEngine::Receive(const uint8_t* Bytes, size_t Length, uint32_t LineRate, TTime Now) {
    LastHeard = Now;
    std::vector<uint8_t> Chunk(Bytes, Bytes + Length);
    if (Restarting) {
        Log(Now, true, LineRate, std::move(Chunk), "unit restarting: not heard");
        return;
    }
    if (!RatesMatch(LineRate, ModeRate())) {
        DropHeld(Now, LineRate, "bytes at the wrong rate followed");
        Log(Now, true, LineRate, std::move(Chunk),
            "wrong rate: the unit listens at " + std::to_string(ModeRate()));
        return;
    }
    // With pacing the unit has the bytes only once they have crossed the line.
    TTime Heard = Now;
    if (Config.Pacing) {
        InboundLineFree =
            After(std::max(InboundLineFree, Now), Length * 10000.0 / std::max(LineRate, 1u));
        Heard = InboundLineFree;
    }
    if (CurrentMode == TUnitMode::Running) {
        TakeModbusPieces(ModbusFrames.Feed(Bytes, Length), LineRate, Heard);
    } else {
        TakeBootPieces(BootFrames.Feed(Bytes, Length), LineRate, Heard);
    }
}

void TUnitEngine::TakeModbusPieces(std::vector<TModbusPiece> Pieces, uint32_t Rate, TTime Heard) {
    for (TModbusPiece& Piece : Pieces) {
        if (!Piece.IsFrame) {
            Log(Heard, true, Rate, std::move(Piece.Bytes),
                Piece.AtSilence ? "no request: dropped after a silence"
                                : "no request: bad CRC or garbage, skipped");
            continue;
        }
        Log(Heard, true, Rate, Piece.Bytes, "ok");
        Accept(true, std::move(Piece.Bytes), Frames.size() - 1, Heard);
    }
}

void TUnitEngine::TakeBootPieces(std::vector<TBootPiece> Pieces, uint32_t Rate, TTime Heard) {
    for (TBootPiece& Piece : Pieces) {
        if (!Piece.IsFrame) {
            Log(Heard, true, Rate, std::move(Piece.Wire), "no request: " + Piece.Why);
            continue;
        }
        if (Piece.Body.size() < 3 || BodySum(Piece.Body) != 0) {
            const std::string Why =
                Piece.Body.size() < 3 ? "frame too short for a request" : "bad checksum";
            Faults.push_back("bootloader request with a " + Why);
            Log(Heard, true, Rate, std::move(Piece.Wire), Why + ": ignored");
            continue;
        }
        Log(Heard, true, Rate, std::move(Piece.Wire), "ok");
        Accept(false, std::move(Piece.Body), Frames.size() - 1, Heard);
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
    uint32_t WorkMs = Config.OtherMs;
    if (!IsModbus && Bytes[0] == 0x03) {
        WorkMs = Config.EraseMs;
    } else if (!IsModbus && Bytes[0] == 0x02) {
        WorkMs = Config.WriteMs;
    }
    InsertByDue(Requests, TRequest{After(Heard, WorkMs), IsModbus, std::move(Bytes), LogIndex});
}

void TUnitEngine::Advance(uint32_t LineRate, TTime Now) {
    while (true) {
        const bool SwitchDue = Pending && Pending->At <= Now;
        const bool RequestDue = !Requests.empty() && Requests.front().Due <= Now;
        if (SwitchDue && (!RequestDue || Pending->At <= Requests.front().Due)) {
            const TSwitch Switch = *Pending;
            Pending.reset();
            ApplySwitch(Switch);
        } else if (RequestDue) {
            const TRequest Request = std::move(Requests.front());
            Requests.pop_front();
            Process(Request, LineRate);
        } else {
            break;
        }
    }
    const bool Holding =
        CurrentMode == TUnitMode::Running ? ModbusFrames.Holding() : BootFrames.Holding();
    if (Holding && After(LastHeard, Config.FrameGapMs) <= Now) {
        if (CurrentMode == TUnitMode::Running) {
            TakeModbusPieces(ModbusFrames.Silence(), LineRate, Now);
        } else {
            TakeBootPieces(BootFrames.Silence(), LineRate, Now);
        }
        Advance(LineRate, Now); // a request ended by the silence may be due at once
    }
}

void TUnitEngine::Process(const TRequest& Request, uint32_t LineRate) {
    std::string& Verdict = Frames[Request.LogIndex].Verdict;
    if (Request.IsModbus) {
        TModbusOutcome Outcome = Modbus.Handle(Request.Bytes);
        Verdict = "ok: " + Outcome.Verdict;
        Faults.insert(Faults.end(), Outcome.Faults.begin(), Outcome.Faults.end());
        if (Outcome.Committed) {
            ++Commits;
            CommittedSettings = Modbus.Settings();
        }
        TTime End = Request.Due;
        if (!Outcome.Reply.empty()) {
            End = SendReply(std::move(Outcome.Reply), true, false, Request.Due, LineRate);
        }
        if (Outcome.SwitchToBoot) {
            Pending = TSwitch{End, TSwitchKind::EnterBoot};
        }
        return;
    }
    TBootOutcome Outcome = Boot.Handle(Request.Bytes);
    Verdict = "ok: " + Outcome.Verdict;
    Faults.insert(Faults.end(), Outcome.Faults.begin(), Outcome.Faults.end());
    TTime End = Request.Due;
    if (!Outcome.Reply.empty()) {
        End = SendReply(std::move(Outcome.Reply), false, Outcome.SpoilChecksum, Request.Due,
                        LineRate);
    }
    if (Outcome.Restart) {
        Pending = TSwitch{End, TSwitchKind::BeginRestart};
    }
}

TTime TUnitEngine::SendReply(std::vector<uint8_t> Content, bool IsModbus, bool Spoil, TTime StartAt,
                             uint32_t LineRate) {
    TReplyContext Context;
    Context.IsModbus = IsModbus;
    Context.AnyOrdinal = ++AnyReplies;
    Context.KindOrdinal = IsModbus ? ++ModbusReplies : ++BootReplies;
    Context.UnitRate = ModeRate();
    Context.OtherRate =
        RateOf(CurrentMode == TUnitMode::Running ? TUnitMode::Boot : TUnitMode::Running);
    Context.LineRate = LineRate;
    bool BadCheck = Spoil;
    for (const TReplyPick& Pick : Config.BadCheck) {
        BadCheck = BadCheck || Picks(Pick, Context);
    }
    std::vector<uint8_t> Wire;
    std::string Notes;
    if (IsModbus) {
        Wire = std::move(Content);
        if (BadCheck) {
            Wire[Wire.size() - 2] ^= 0xFF;
            Notes = "; bad CRC (injected)";
        }
    } else {
        Wire = FrameReply(Content, BadCheck);
        if (BadCheck) {
            Notes = "; bad checksum (injected)";
        }
    }
    TShapedReply Shaped = ShapeReply(std::move(Wire), Context, Config, Noise);
    for (TReplyPiece& Piece : Shaped.Pieces) {
        InsertByDue(Output, TOutput{After(StartAt, Piece.AtMs), std::move(Piece.Bytes)});
    }
    Log(StartAt, false, Context.UnitRate, std::move(Shaped.Wire), "reply" + Notes + Shaped.Notes);
    return After(StartAt, Shaped.EndMs);
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
            const bool Crossing = Config.ModelNumber == 5468 && FirmwareVersion < 110 &&
                                  Config.FirmwareVersionAfter >= 110;
            if (Config.ResetSettingsOnUpdate.value_or(Crossing)) {
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
    std::optional<TTime> Due;
    auto Consider = [&](TTime At) {
        if (!Due || At < *Due) {
            Due = At;
        }
    };
    if (Pending) {
        Consider(Pending->At);
    }
    if (!Requests.empty()) {
        Consider(Requests.front().Due);
    }
    if (!Output.empty()) {
        Consider(Output.front().Due);
    }
    const bool Holding =
        CurrentMode == TUnitMode::Running ? ModbusFrames.Holding() : BootFrames.Holding();
    if (Holding) {
        Consider(After(LastHeard, Config.FrameGapMs));
    }
    return Due;
}

std::vector<uint8_t> TUnitEngine::TakeDueOutput(TTime Now) {
    std::vector<uint8_t> Bytes;
    while (!Output.empty() && Output.front().Due <= Now) {
        Bytes.insert(Bytes.end(), Output.front().Bytes.begin(), Output.front().Bytes.end());
        Output.pop_front();
    }
    return Bytes;
}

bool TUnitEngine::TakeHangUp() {
    const bool Due = HangUpDue;
    HangUpDue = false;
    return Due;
}

void TUnitEngine::LineLost(TTime Now, const std::string& Why) {
    ++HangUps;
    DropHeld(Now, ModeRate(), Why);
    std::vector<uint8_t> Lost;
    for (const TOutput& Queued : Output) {
        Lost.insert(Lost.end(), Queued.Bytes.begin(), Queued.Bytes.end());
    }
    Output.clear();
    Discard(std::move(Lost), Now);
}

void TUnitEngine::Discard(std::vector<uint8_t> Bytes, TTime Now) {
    if (!Bytes.empty()) {
        Log(Now, false, ModeRate(), std::move(Bytes), "lost: no line to send on");
    }
}

TUnitSimReport TUnitEngine::Snapshot() const {
    TUnitSimReport Report;
    Report.Mode = CurrentMode;
    Report.Restarting = Restarting;
    Report.FirmwareVersion = FirmwareVersion;
    Report.Flash.assign(Flash.Bytes().begin(), Flash.Bytes().end());
    Report.Erases = Boot.Erases();
    Report.Writes = Boot.Writes();
    Report.BootEntries = BootEntries;
    Report.Restarts = Restarts;
    Report.BootModeLeft = Boot.BootModeLeft();
    Report.UpdaterFaults = Faults;
    Report.Registers = Modbus.Registers();
    Report.Commits = Commits;
    Report.CommittedSettings = CommittedSettings;
    Report.Frames = Frames;
    Report.HangUps = HangUps;
    return Report;
}
