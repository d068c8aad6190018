#include "tools/unitsim/SimOptions.h"

#include <QFile>

#include <charconv>
#include <functional>
#include <limits>
#include <map>

namespace {

// Decimal, or hexadecimal after 0x.
bool ParseNumber(const std::string& Text, uint64_t Limit, uint64_t& Value) {
    int Base = 10;
    size_t Skip = 0;
    if (Text.size() > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) {
        Base = 16;
        Skip = 2;
    }
    const char* First = Text.data() + Skip;
    const char* Last = Text.data() + Text.size();
    const auto [End, Error] = std::from_chars(First, Last, Value, Base);
    return First != Last && Error == std::errc() && End == Last && Value <= Limit;
}

template <typename T> bool Number(const std::string& Text, T& Value) {
    uint64_t Parsed = 0;
    if (!ParseNumber(Text, std::numeric_limits<T>::max(), Parsed)) {
        return false;
    }
    Value = static_cast<T>(Parsed);
    return true;
}

std::vector<std::string> Split(const std::string& Text, char Separator) {
    std::vector<std::string> Parts;
    size_t From = 0;
    while (true) {
        const size_t At = Text.find(Separator, From);
        Parts.push_back(Text.substr(From, At == std::string::npos ? std::string::npos : At - From));
        if (At == std::string::npos) {
            return Parts;
        }
        From = At + 1;
    }
}

// N, mN, bN; * or 0 for every one.
bool ParsePick(std::string Text, TReplyPick& Pick) {
    Pick = {};
    if (!Text.empty() && (Text[0] == 'm' || Text[0] == 'b')) {
        Pick.Kind = Text[0] == 'm' ? TReplyPick::TKind::Modbus : TReplyPick::TKind::Boot;
        Text.erase(0, 1);
    }
    if (Text == "*") {
        Pick.Index = 0;
        return true;
    }
    return Number(Text, Pick.Index);
}

bool ParseBlockFault(const std::string& Text, TBlockFault& Fault) {
    const std::vector<std::string> Parts = Split(Text, ':');
    if (Parts.size() > 2 || !Number(Parts[0], Fault.Number) || Fault.Number == 0) {
        return false;
    }
    Fault.Kind = TFailKind::NoReply;
    if (Parts.size() == 2) {
        if (Parts[1] == "checksum") {
            Fault.Kind = TFailKind::BadChecksum;
        } else if (Parts[1] != "noreply") {
            return false;
        }
    }
    return true;
}

bool ParseSettings(const std::string& Text, std::map<TRegisterKey, uint16_t>& Settings) {
    const size_t Colon = Text.find(':');
    const size_t Equals = Text.find('=');
    uint8_t Slave = 0;
    uint16_t Register = 0;
    if (Colon == std::string::npos || Equals == std::string::npos || Equals < Colon ||
        !Number(Text.substr(0, Colon), Slave) ||
        !Number(Text.substr(Colon + 1, Equals - Colon - 1), Register)) {
        return false;
    }
    for (const std::string& Part : Split(Text.substr(Equals + 1), ',')) {
        uint16_t Value = 0;
        if (!Number(Part, Value)) {
            return false;
        }
        Settings[{Slave, Register++}] = Value;
    }
    return true;
}

bool ParseRange(const std::string& Text, TFlashRange& Range) {
    const std::vector<std::string> Parts = Split(Text, '-');
    return Parts.size() == 2 && Number(Parts[0], Range.First) && Number(Parts[1], Range.Last) &&
           Range.First <= Range.Last && Range.Last <= 0xFFFF;
}

bool ReadFlashFile(const std::string& Path, std::vector<uint8_t>& Flash) {
    QFile File(QString::fromStdString(Path));
    if (!File.open(QIODevice::ReadOnly) || File.size() != 0x10000) {
        return false;
    }
    const QByteArray Bytes = File.readAll();
    Flash.assign(Bytes.begin(), Bytes.end());
    return Flash.size() == 0x10000;
}

} // namespace

bool ParseSimOptions(const std::vector<std::string>& Arguments, TSimOptions& Options,
                     std::string& Error) {
    TUnitSimConfig& C = Options.Config;
    using THandler = std::function<bool(const std::string&)>;
    const std::map<std::string, THandler> WithValue = {
        {"--model", [&](auto& V) { return Number(V, C.ModelNumber); }},
        {"--boot-model", [&](auto& V) { return Number(V, C.BootModelNumber.emplace()); }},
        {"--boot-rm", [&](auto& V) { return Number(V, C.BootRmNumber.emplace()); }},
        {"--boot-version", [&](auto& V) { return Number(V, C.BootVersion); }},
        {"--firmware-version", [&](auto& V) { return Number(V, C.FirmwareVersion); }},
        {"--version-after", [&](auto& V) { return Number(V, C.FirmwareVersionAfter); }},
        {"--operator-slave", [&](auto& V) { return Number(V, C.OperatorSlave); }},
        {"--start-mode",
         [&](auto& V) {
             C.StartMode = V == "boot" ? TUnitMode::Boot : TUnitMode::Running;
             return V == "boot" || V == "running";
         }},
        {"--set", [&](auto& V) { return ParseSettings(V, C.Settings); }},
        {"--reset-settings-on-update",
         [&](auto& V) {
             C.ResetSettingsOnUpdate = V == "yes";
             return V == "yes" || V == "no";
         }},
        {"--flash", [&](auto& V) { return ReadFlashFile(V, C.InitialFlash); }},
        {"--link", [&](auto& V) { return !(C.LinkPath = V).empty(); }},
        {"--ini-dir", [&](auto& V) { return !(Options.IniDir = V).empty(); }},
        {"--com", [&](auto& V) { return Number(V, Options.ComNumber) && Options.ComNumber >= 1; }},
        {"--erase-ms", [&](auto& V) { return Number(V, C.EraseMs); }},
        {"--write-ms", [&](auto& V) { return Number(V, C.WriteMs); }},
        {"--other-ms", [&](auto& V) { return Number(V, C.OtherMs); }},
        {"--restart-ms", [&](auto& V) { return Number(V, C.RestartMs); }},
        {"--frame-gap-ms", [&](auto& V) { return Number(V, C.FrameGapMs) && C.FrameGapMs > 0; }},
        {"--fail-erase", [&](auto& V) { return ParseBlockFault(V, C.EraseFaults.emplace_back()); }},
        {"--fail-write", [&](auto& V) { return ParseBlockFault(V, C.WriteFaults.emplace_back()); }},
        {"--bad-crc",
         [&](auto& V) {
             TReplyPick& Pick = C.BadCheck.emplace_back();
             const bool Parsed = ParsePick(V, Pick);
             Pick.Kind = TReplyPick::TKind::Modbus;
             return Parsed;
         }},
        {"--bad-checksum",
         [&](auto& V) {
             TReplyPick& Pick = C.BadCheck.emplace_back();
             const bool Parsed = ParsePick(V, Pick);
             Pick.Kind = TReplyPick::TKind::Boot;
             return Parsed;
         }},
        {"--drop-bytes",
         [&](auto& V) {
             const auto Parts = Split(V, ':');
             TDropFault& Fault = C.Drops.emplace_back();
             return Parts.size() <= 3 && ParsePick(Parts[0], Fault.Pick) &&
                    (Parts.size() < 2 || Number(Parts[1], Fault.Count)) &&
                    (Parts.size() < 3 || Number(Parts[2], Fault.Offset));
         }},
        {"--noise",
         [&](auto& V) {
             const auto Parts = Split(V, ':');
             TNoiseFault& Fault = C.Noise.emplace_back();
             return Parts.size() <= 2 && ParsePick(Parts[0], Fault.Pick) &&
                    (Parts.size() < 2 || Number(Parts[1], Fault.Count));
         }},
        {"--chunks",
         [&](auto& V) {
             const auto Parts = Split(V, ':');
             TChunkFault& Fault = C.Chunks.emplace_back();
             return Parts.size() >= 2 && Parts.size() <= 3 && ParsePick(Parts[0], Fault.Pick) &&
                    Number(Parts[1], Fault.Size) && Fault.Size > 0 &&
                    (Parts.size() < 3 || Number(Parts[2], Fault.GapMs));
         }},
        {"--late",
         [&](auto& V) {
             const auto Parts = Split(V, ':');
             TLateFault& Fault = C.Late.emplace_back();
             return Parts.size() == 2 && ParsePick(Parts[0], Fault.Pick) &&
                    Number(Parts[1], Fault.Ms);
         }},
        {"--wrong-rate",
         [&](auto& V) {
             const auto Parts = Split(V, ':');
             TWrongRateFault& Fault = C.WrongRate.emplace_back();
             return Parts.size() <= 2 && ParsePick(Parts[0], Fault.Pick) &&
                    (Parts.size() < 2 || Number(Parts[1], Fault.Rate));
         }},
        {"--hang-up",
         [&](auto& V) {
             const auto Parts = Split(V, ':');
             THangUpFault& Fault = C.HangUp.emplace();
             return Parts.size() <= 2 && Number(Parts[0], Fault.AfterFrames) &&
                    Fault.AfterFrames > 0 &&
                    (Parts.size() < 2 || Number(Parts[1], Fault.BackAfterMs.emplace()));
         }},
        {"--noise-seed", [&](auto& V) { return Number(V, C.NoiseSeed); }},
        {"--report", [&](auto& V) { return !(Options.ReportPath = V).empty(); }},
        {"--digest", [&](auto& V) { return ParseRange(V, Options.Digests.emplace_back()); }},
    };
    for (size_t Index = 0; Index < Arguments.size(); ++Index) {
        const std::string& Name = Arguments[Index];
        if (Name == "--help" || Name == "-h") {
            Options.Help = true;
        } else if (Name == "--pacing") {
            C.Pacing = true;
        } else if (Name == "--no-answer") {
            C.NoAnswer = true;
        } else if (const auto Found = WithValue.find(Name); Found != WithValue.end()) {
            if (Index + 1 >= Arguments.size()) {
                Error = Name + " needs a value";
                return false;
            }
            const std::string& Value = Arguments[++Index];
            if (!Found->second(Value)) {
                Error = std::string("bad value for ").append(Name).append(": ").append(Value);
                return false;
            }
        } else {
            Error = "unknown option " + Name + " (see --help)";
            return false;
        }
    }
    return true;
}
