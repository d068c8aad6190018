#include "RunJudge.h"

#include "modbus/ModbusCrc.h"
#include "upgrade/BootFrame.h"
#include "upgrade/ProgramRange.h"

#include <QRegularExpression>

#include <optional>
#include <sstream>

namespace {

// The stages of a run in order: the line's fixed start and, after it, what the line may
// end with when the run went on past it (Passed) or stopped there (Stopped).
struct TStage {
    const char* Prefix;
    const char* Passed;  // a regular expression for the rest of the line
    const char* Stopped; // the same for the stage's error; nullptr: it never stops a run
    TRunOutcome Outcome = TRunOutcome::Unrecognised;
};

const TStage Stages[] = {
    {"Initialising Upgrade.....", R"(Done \([01]\))", "Error", TRunOutcome::InitError},
    {"Enabling BootLoader.....", "Done", nullptr},
    {"Retrieving Bootloader Info......", R"(RM\d+ v\d+\.\d\d|Info Unavailable)", nullptr},
    {"Retrieving Model Number......", "OK", R"(Error \((No Reply|Incompatible Model)\))",
     TRunOutcome::NoReply},
    {"Erasing Program Memory......", "100%", "Error Detected", TRunOutcome::EraseError},
    {"Sending New Program Data......", "100%", "Error Detected", TRunOutcome::WriteError},
    {"Disabling Boot Mode......", "Done", nullptr},
    {"Restarting Unit......", "Done", nullptr},
    {"Finalising Upgrade.....", "Done", nullptr},
};
constexpr int StageCount = static_cast<int>(std::size(Stages));

bool WholeMatch(const QString& Text, const char* Pattern) {
    const QRegularExpression expression(QStringLiteral("^(?:%1)$").arg(QLatin1String(Pattern)));
    return expression.match(Text).hasMatch();
}

// One request the program sent, as the unit heard it.
struct TSent {
    bool IsBoot = false;
    uint8_t Command = 0;
    uint8_t Count = 0;
    uint32_t Address = 0;
};

// A whole Modbus request: its CRC, low byte first, closes it.
bool IsModbusFrame(const std::vector<uint8_t>& Bytes) {
    const size_t n = Bytes.size();
    if (n < 8 || n > 256) {
        return false;
    }
    const uint16_t crc = ModbusCrc(Bytes.data(), 0, static_cast<uint16_t>(n - 3));
    return ((Bytes[n - 2] << 8) | Bytes[n - 1]) == crc;
}

std::vector<TSent> SentRequests(const TRunRecord& Run) {
    std::vector<TSent> sent;
    const std::vector<TSimFrame>& frames = Run.Report.Frames;
    for (size_t i = Run.FirstFrame; i < frames.size(); ++i) {
        const TSimFrame& frame = frames[i];
        if (!frame.FromUpdater || frame.Bytes.empty()) {
            continue;
        }
        TSent request;
        const std::vector<uint8_t>& b = frame.Bytes;
        if (b.size() >= 2 && b[0] == DLE && b[1] == STX) {
            const std::vector<uint8_t> body =
                UnstuffBootFrame(frame.Bytes.data(), frame.Bytes.size());
            if (body.size() < 5) {
                continue; // a piece of a frame, not a request
            }
            request.IsBoot = true;
            request.Command = body[1];
            request.Count = body[2];
            if (body.size() >= 8) {
                request.Address = body[3] | (body[4] << 8) | (body[5] << 16);
            }
        } else if (!IsModbusFrame(b)) {
            continue; // bytes the unit could not make a request of
        }
        sent.push_back(request);
    }
    return sent;
}

bool IsRestart(const TSent& Request) {
    return Request.IsBoot && Request.Command == 0x00 && Request.Count == 0;
}

// The requests of a whole run, in order, as the program must send them whatever the
// replies say (the Modbus ones aside).
std::vector<TSent> CanonicalBootRequests(uint32_t LastProgramAddress) {
    std::vector<TSent> requests = {
        {true, 0x08, 4, 0}, {true, 0x08, 4, 0}, {true, 0x00, 2, 0}, {true, 0x00, 2, 0}};
    for (uint32_t a = FirstProgramAddress; a <= LastProgramAddress; a += ProgramPageSize) {
        requests.push_back({true, 0x03, 8, a});
    }
    for (uint32_t a = FirstProgramAddress; a <= LastProgramAddress; a += ProgramBlockSize) {
        requests.push_back({true, 0x02, 2, a});
    }
    requests.push_back({true, 0x05, 1, 0x3FF});
    requests.push_back({true, 0x00, 0, 0});
    return requests;
}

std::string Hex(uint32_t Value) {
    std::ostringstream text;
    text << "0x" << std::hex << Value;
    return text.str();
}

class TJudge {
public:
    TJudge(const TCampaignPlan& Drawn, const TRunRecord& Record, TRunVerdict& Outcome)
        : Plan(Drawn), Run(Record), Verdict(Outcome), Sent(SentRequests(Record)) {}

    void Judge() {
        if (!Run.ErrorBoxes.empty()) {
            Verdict.Outcome = TRunOutcome::PortErrorBox;
            if (!Plan.HangUp) {
                Problem("error box without a lost line: " + Run.ErrorBoxes.front().toStdString());
            }
            return;
        }
        Verdict.Outcome = ReadOutcome(Run.LogLines, Verdict.Problems);
        switch (Verdict.Outcome) {
        case TRunOutcome::Complete:
            JudgeComplete();
            break;
        case TRunOutcome::InitError:
            // This build's unit needs no settings saved, so nothing can fail there.
            Problem("the first step reported an error");
            NothingFrom(0x08, "bootloader request");
            break;
        case TRunOutcome::NoReply:
        case TRunOutcome::WrongModel:
            JudgeModelStop();
            break;
        case TRunOutcome::EraseError:
            JudgeEraseStop();
            break;
        case TRunOutcome::WriteError:
            JudgeWriteStop();
            break;
        default:
            break;
        }
        if (Plan.WrongModel && Verdict.Outcome == TRunOutcome::Complete) {
            Problem("complete although the bootloader reports another model");
        }
        if (Plan.NoAnswer && Verdict.Outcome != TRunOutcome::NoReply) {
            Problem("a unit that answers nothing did not end at the model number");
        }
        if (Plan.FaultCount == 0) {
            if (Verdict.Outcome != TRunOutcome::Complete) {
                Problem("a run without faults did not complete");
            }
            for (const std::string& fault : Run.Report.UpdaterFaults) {
                Problem("the unit saw a fault of the updater: " + fault);
            }
        }
    }

private:
    void Problem(const std::string& Text) { Verdict.Problems.push_back(Text); }

    size_t CountOf(uint8_t Command) const {
        size_t count = 0;
        for (const TSent& request : Sent) {
            count += request.IsBoot && request.Command == Command && !IsRestart(request) ? 1 : 0;
        }
        return count;
    }

    size_t Restarts() const {
        size_t count = 0;
        for (const TSent& request : Sent) {
            count += IsRestart(request) ? 1 : 0;
        }
        return count;
    }

    // Nothing of a later step went out: no request with Command (0x00 stands for the
    // restart), and no Modbus request after the first bootloader request.
    void NothingFrom(uint8_t Command, const std::string& What) {
        const size_t count = Command == 0x00 ? Restarts() : CountOf(Command);
        if (count != 0) {
            Problem(std::to_string(count) + " " + What + "(s) after the failing step");
        }
    }

    void NoModbusAfterBoot() {
        bool boot = false;
        for (const TSent& request : Sent) {
            boot = boot || request.IsBoot;
            if (boot && !request.IsBoot) {
                Problem("a Modbus request after the bootloader steps of a failed run");
                return;
            }
        }
    }

    // The addresses of Command's requests run from 0x0800 in steps of Step.
    void ExpectAscending(uint8_t Command, uint32_t Step, const char* What) {
        uint32_t expected = FirstProgramAddress;
        for (const TSent& request : Sent) {
            if (!request.IsBoot || request.Command != Command) {
                continue;
            }
            if (request.Address != expected) {
                Problem(std::string(What) + " at " + Hex(request.Address) + ", expected " +
                        Hex(expected));
                return;
            }
            expected += Step;
        }
    }

    void JudgeComplete() {
        const std::vector<uint8_t>& flash = Run.Report.Flash;
        if (flash.size() != ProgramMemorySize || Run.Image == nullptr) {
            Problem("no flash or image to compare");
            return;
        }
        for (uint32_t a = FirstProgramAddress; a <= Run.LastProgramAddress; ++a) {
            if (flash[a] != Run.Image[a]) {
                Problem("reported complete, but flash differs from the image at " + Hex(a));
                break;
            }
        }
        if (Plan.HangUp) {
            return; // requests sent on a dead line never reached the unit
        }
        std::vector<TSent> boot;
        for (const TSent& request : Sent) {
            if (request.IsBoot) {
                boot.push_back(request);
            }
        }
        const std::vector<TSent> canonical = CanonicalBootRequests(Run.LastProgramAddress);
        if (boot.size() != canonical.size()) {
            Problem(std::to_string(boot.size()) + " bootloader requests, expected " +
                    std::to_string(canonical.size()));
            return;
        }
        for (size_t i = 0; i < boot.size(); ++i) {
            const TSent& a = boot[i];
            const TSent& b = canonical[i];
            if (a.Command != b.Command || a.Count != b.Count ||
                ((b.Command == 0x02 || b.Command == 0x03) && a.Address != b.Address)) {
                Problem("bootloader request " + std::to_string(i + 1) + " out of order");
                return;
            }
        }
    }

    void JudgeModelStop() {
        if (Verdict.Outcome == TRunOutcome::WrongModel && !Plan.WrongModel && !Plan.Desync) {
            Problem("another model reported by a unit that reports its own");
        }
        NothingFrom(0x03, "erase");
        NothingFrom(0x02, "write");
        NothingFrom(0x05, "leave-boot-mode request");
        NothingFrom(0x00, "restart");
        NoModbusAfterBoot();
    }

    void JudgeEraseStop() {
        NothingFrom(0x02, "write");
        NothingFrom(0x05, "leave-boot-mode request");
        NothingFrom(0x00, "restart");
        NoModbusAfterBoot();
        ExpectAscending(0x03, ProgramPageSize, "erase");
        const std::vector<TBlockFault>& faults = Plan.Config.EraseFaults;
        if (Plan.FaultCount == 1 && faults.size() == 1 && CountOf(0x03) != faults[0].Number) {
            Problem(std::to_string(CountOf(0x03)) + " erase requests for a failure at page " +
                    std::to_string(faults[0].Number));
        }
    }

    void JudgeWriteStop() {
        NothingFrom(0x05, "leave-boot-mode request");
        NothingFrom(0x00, "restart");
        NoModbusAfterBoot();
        ExpectAscending(0x03, ProgramPageSize, "erase");
        ExpectAscending(0x02, ProgramBlockSize, "write");
        const std::vector<TBlockFault>& faults = Plan.Config.WriteFaults;
        if (Plan.FaultCount == 1 && faults.size() == 1 && CountOf(0x02) != faults[0].Number) {
            Problem(std::to_string(CountOf(0x02)) + " write requests for a failure at block " +
                    std::to_string(faults[0].Number));
        }
    }

    const TCampaignPlan& Plan;
    const TRunRecord& Run;
    TRunVerdict& Verdict;
    const std::vector<TSent> Sent;
};

} // namespace

const char* OutcomeName(TRunOutcome Outcome) {
    switch (Outcome) {
    case TRunOutcome::Complete:
        return "complete";
    case TRunOutcome::InitError:
        return "init-error";
    case TRunOutcome::NoReply:
        return "model-no-reply";
    case TRunOutcome::WrongModel:
        return "model-incompatible";
    case TRunOutcome::EraseError:
        return "erase-error";
    case TRunOutcome::WriteError:
        return "write-error";
    case TRunOutcome::PortErrorBox:
        return "port-error-box";
    case TRunOutcome::Unrecognised:
        return "unrecognised";
    }
    return "unrecognised";
}

TRunOutcome ReadOutcome(const QStringList& Lines, std::vector<std::string>& Problems) {
    if (Lines.isEmpty() || Lines.size() > StageCount) {
        Problems.push_back("log of " + std::to_string(Lines.size()) + " lines");
        return TRunOutcome::Unrecognised;
    }
    for (int i = 0; i < Lines.size(); ++i) {
        const TStage& stage = Stages[i];
        const QString& line = Lines[i];
        const QString prefix = QLatin1String(stage.Prefix);
        if (!line.startsWith(prefix)) {
            Problems.push_back("line " + std::to_string(i + 1) + " is \"" + line.toStdString() +
                               "\"");
            return TRunOutcome::Unrecognised;
        }
        const QString rest = line.mid(prefix.size());
        const bool last = i == Lines.size() - 1;
        if (WholeMatch(rest, stage.Passed)) {
            if (last && i != StageCount - 1) {
                Problems.push_back("the run stopped after a stage that passed: \"" +
                                   line.toStdString() + "\"");
                return TRunOutcome::Unrecognised;
            }
            continue;
        }
        if (last && stage.Stopped != nullptr && WholeMatch(rest, stage.Stopped)) {
            if (stage.Outcome == TRunOutcome::NoReply && rest.contains(QLatin1String("Model"))) {
                return TRunOutcome::WrongModel;
            }
            return stage.Outcome;
        }
        Problems.push_back("line " + std::to_string(i + 1) + " is \"" + line.toStdString() + "\"");
        return TRunOutcome::Unrecognised;
    }
    return TRunOutcome::Complete;
}

TRunVerdict JudgeRun(const TCampaignPlan& Plan, const TRunRecord& Run) {
    TRunVerdict verdict;
    TJudge(Plan, Run, verdict).Judge();
    return verdict;
}
