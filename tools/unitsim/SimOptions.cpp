#include "tools/unitsim/SimOptions.h"

#include <QFile>

#include <charconv>
#include <functional>
#include <limits>
#include <map>

namespace {

// Decimal, or hexadecimal after 0x.
bool ParseNumber(const std::string& Text, uint64_t Limit, uint64_t& Value) {
    int base = 10;
    size_t skip = 0;
    if (Text.size() > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) {
        base = 16;
        skip = 2;
    }
    const char* first = Text.data() + skip;
    const char* last = Text.data() + Text.size();
    const auto [End, Error] = std::from_chars(first, last, Value, base);
    return first != last && Error == std::errc() && End == last && Value <= Limit;
}

template <typename T> bool Number(const std::string& Text, T& Value) {
    uint64_t parsed = 0;
    if (!ParseNumber(Text, std::numeric_limits<T>::max(), parsed)) {
        return false;
    }
    Value = static_cast<T>(parsed);
    return true;
}

std::vector<std::string> Split(const std::string& Text, char Separator) {
    std::vector<std::string> parts;
    size_t from = 0;
    while (true) {
        const size_t at = Text.find(Separator, from);
        parts.push_back(Text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) {
            return parts;
        }
        from = at + 1;
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
    const std::vector<std::string> parts = Split(Text, ':');
    if (parts.size() > 2 || !Number(parts[0], Fault.Number) || Fault.Number == 0) {
        return false;
    }
    Fault.Kind = TFailKind::NoReply;
    if (parts.size() == 2) {
        if (parts[1] == "checksum") {
            Fault.Kind = TFailKind::BadChecksum;
        } else if (parts[1] != "noreply") {
            return false;
        }
    }
    return true;
}

bool ParseSettings(const std::string& Text, std::map<TRegisterKey, uint16_t>& Settings) {
    const size_t colon = Text.find(':');
    const size_t equals = Text.find('=');
    uint8_t slave = 0;
    uint16_t address = 0;
    if (colon == std::string::npos || equals == std::string::npos || equals < colon ||
        !Number(Text.substr(0, colon), slave) ||
        !Number(Text.substr(colon + 1, equals - colon - 1), address)) {
        return false;
    }
    for (const std::string& part : Split(Text.substr(equals + 1), ',')) {
        uint16_t value = 0;
        if (!Number(part, value)) {
            return false;
        }
        Settings[{slave, address++}] = value;
    }
    return true;
}

bool ParseRange(const std::string& Text, TFlashRange& Range) {
    const std::vector<std::string> parts = Split(Text, '-');
    return parts.size() == 2 && Number(parts[0], Range.First) && Number(parts[1], Range.Last) &&
           Range.First <= Range.Last && Range.Last <= 0xFFFF;
}

bool ReadFlashFile(const std::string& Path, std::vector<uint8_t>& Flash) {
    QFile file(QString::fromStdString(Path));
    if (!file.open(QIODevice::ReadOnly) || file.size() != 0x10000) {
        return false;
    }
    const QByteArray bytes = file.readAll();
    Flash.assign(bytes.begin(), bytes.end());
    return Flash.size() == 0x10000;
}

} // namespace

bool ParseSimOptions(const std::vector<std::string>& Arguments, TSimOptions& Options,
                     std::string& Error) {
    TUnitSimConfig& c = Options.Config;
    using THandler = std::function<bool(const std::string&)>;
    const std::map<std::string, THandler> withValue = {
        {"--model", [&](auto& V) { return Number(V, c.ModelNumber); }},
        {"--boot-model", [&](auto& V) { return Number(V, c.BootModelNumber.emplace()); }},
        {"--boot-rm", [&](auto& V) { return Number(V, c.BootRmNumber.emplace()); }},
        {"--boot-version", [&](auto& V) { return Number(V, c.BootVersion); }},
        {"--firmware-version", [&](auto& V) { return Number(V, c.FirmwareVersion); }},
        {"--version-after", [&](auto& V) { return Number(V, c.FirmwareVersionAfter); }},
        {"--operator-slave", [&](auto& V) { return Number(V, c.OperatorSlave); }},
        {"--start-mode",
         [&](auto& V) {
             c.StartMode = V == "boot" ? TUnitMode::Boot : TUnitMode::Running;
             return V == "boot" || V == "running";
         }},
        {"--set", [&](auto& V) { return ParseSettings(V, c.Settings); }},
        {"--reset-settings-on-update",
         [&](auto& V) {
             c.ResetSettingsOnUpdate = V == "yes";
             return V == "yes" || V == "no";
         }},
        {"--flash", [&](auto& V) { return ReadFlashFile(V, c.InitialFlash); }},
        {"--link", [&](auto& V) { return !(c.LinkPath = V).empty(); }},
        {"--ini-dir", [&](auto& V) { return !(Options.IniDir = V).empty(); }},
        {"--com", [&](auto& V) { return Number(V, Options.ComNumber) && Options.ComNumber >= 1; }},
        {"--erase-ms", [&](auto& V) { return Number(V, c.EraseMs); }},
        {"--write-ms", [&](auto& V) { return Number(V, c.WriteMs); }},
        {"--other-ms", [&](auto& V) { return Number(V, c.OtherMs); }},
        {"--restart-ms", [&](auto& V) { return Number(V, c.RestartMs); }},
        {"--frame-gap-ms", [&](auto& V) { return Number(V, c.FrameGapMs) && c.FrameGapMs > 0; }},
        {"--fail-erase", [&](auto& V) { return ParseBlockFault(V, c.EraseFaults.emplace_back()); }},
        {"--fail-write", [&](auto& V) { return ParseBlockFault(V, c.WriteFaults.emplace_back()); }},
        {"--bad-crc",
         [&](auto& V) {
             TReplyPick& pick = c.BadCheck.emplace_back();
             const bool parsed = ParsePick(V, pick);
             pick.Kind = TReplyPick::TKind::Modbus;
             return parsed;
         }},
        {"--bad-checksum",
         [&](auto& V) {
             TReplyPick& pick = c.BadCheck.emplace_back();
             const bool parsed = ParsePick(V, pick);
             pick.Kind = TReplyPick::TKind::Boot;
             return parsed;
         }},
        {"--drop-bytes",
         [&](auto& V) {
             const auto parts = Split(V, ':');
             TDropFault& fault = c.Drops.emplace_back();
             return parts.size() <= 3 && ParsePick(parts[0], fault.Pick) &&
                    (parts.size() < 2 || Number(parts[1], fault.Count)) &&
                    (parts.size() < 3 || Number(parts[2], fault.Offset));
         }},
        {"--noise",
         [&](auto& V) {
             const auto parts = Split(V, ':');
             TNoiseFault& fault = c.Noise.emplace_back();
             return parts.size() <= 2 && ParsePick(parts[0], fault.Pick) &&
                    (parts.size() < 2 || Number(parts[1], fault.Count));
         }},
        {"--chunks",
         [&](auto& V) {
             const auto parts = Split(V, ':');
             TChunkFault& fault = c.Chunks.emplace_back();
             return parts.size() >= 2 && parts.size() <= 3 && ParsePick(parts[0], fault.Pick) &&
                    Number(parts[1], fault.Size) && fault.Size > 0 &&
                    (parts.size() < 3 || Number(parts[2], fault.GapMs));
         }},
        {"--late",
         [&](auto& V) {
             const auto parts = Split(V, ':');
             TLateFault& fault = c.Late.emplace_back();
             return parts.size() == 2 && ParsePick(parts[0], fault.Pick) &&
                    Number(parts[1], fault.Ms);
         }},
        {"--wrong-rate",
         [&](auto& V) {
             const auto parts = Split(V, ':');
             TWrongRateFault& fault = c.WrongRate.emplace_back();
             return parts.size() <= 2 && ParsePick(parts[0], fault.Pick) &&
                    (parts.size() < 2 || Number(parts[1], fault.Rate));
         }},
        {"--hang-up",
         [&](auto& V) {
             const auto parts = Split(V, ':');
             THangUpFault& fault = c.HangUp.emplace();
             return parts.size() <= 2 && Number(parts[0], fault.AfterFrames) &&
                    fault.AfterFrames > 0 &&
                    (parts.size() < 2 || Number(parts[1], fault.BackAfterMs.emplace()));
         }},
        {"--noise-seed", [&](auto& V) { return Number(V, c.NoiseSeed); }},
        {"--report", [&](auto& V) { return !(Options.ReportPath = V).empty(); }},
        {"--digest", [&](auto& V) { return ParseRange(V, Options.Digests.emplace_back()); }},
    };
    for (size_t index = 0; index < Arguments.size(); ++index) {
        const std::string& name = Arguments[index];
        if (name == "--help" || name == "-h") {
            Options.Help = true;
        } else if (name == "--pacing") {
            c.Pacing = true;
        } else if (name == "--no-answer") {
            c.NoAnswer = true;
        } else if (const auto found = withValue.find(name); found != withValue.end()) {
            if (index + 1 >= Arguments.size()) {
                Error = name + " needs a value";
                return false;
            }
            const std::string& value = Arguments[++index];
            if (!found->second(value)) {
                Error = std::string("bad value for ").append(name).append(": ").append(value);
                return false;
            }
        } else {
            Error = "unknown option " + name + " (see --help)";
            return false;
        }
    }
    return true;
}
