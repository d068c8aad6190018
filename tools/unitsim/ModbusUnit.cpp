#include "tools/unitsim/ModbusUnit.h"

#include "modbus/ModbusCrc.h"

namespace {

constexpr uint8_t ReadHolding = 3;
constexpr uint8_t WriteSingle = 6;
constexpr uint8_t WriteSingleDevice = 103;
constexpr uint8_t WriteMultipleDevice = 104;

uint16_t Word(const std::vector<uint8_t>& Frame, size_t At) {
    return static_cast<uint16_t>(Frame[At] << 8 | Frame[At + 1]);
}

std::string Place(uint8_t Slave, uint16_t Register) {
    return std::to_string(Slave) + ":" + std::to_string(Register);
}

TModbusOutcome Exception(const std::vector<uint8_t>& Frame, uint8_t Code, const std::string& Why) {
    TModbusOutcome Outcome;
    if (Frame[0] == 0) {
        Outcome.Verdict = "broadcast, " + Why + ": ignored";
        return Outcome;
    }
    Outcome.Reply = WithModbusCrc({Frame[0], static_cast<uint8_t>(Frame[1] | 0x80), Code});
    Outcome.Verdict = "exception " + std::to_string(Code) + " (" + Why + ")";
    return Outcome;
}

// The reply to a write: the request's first six bytes again.
std::vector<uint8_t> Echo(const std::vector<uint8_t>& Frame) {
    return WithModbusCrc({Frame.begin(), Frame.begin() + 6});
}

} // namespace

std::vector<uint8_t> WithModbusCrc(std::vector<uint8_t> Bytes) {
    Bytes.push_back(0);
    Bytes.push_back(0);
    const uint16_t Crc = ModbusCrc(Bytes.data(), 0, static_cast<uint16_t>(Bytes.size() - 3));
    Bytes[Bytes.size() - 2] = static_cast<uint8_t>(Crc >> 8);
    Bytes[Bytes.size() - 1] = static_cast<uint8_t>(Crc & 0xFF);
    return Bytes;
}

std::vector<TSwitchStep> SwitchMethod(uint16_t Model, uint8_t OperatorSlave) {
    switch (Model) {
    case 5396:
    case 5483:
        return {{1, WriteSingle, 156}, {0, WriteSingle, 156}};
    case 5411:
    case 5428:
    case 5468:
    case 5515:
    case 5516:
    case 5520:
    case 5526:
    case 5527:
        return {{19, WriteSingleDevice, 29}};
    case 5424:
        return {{242, WriteSingle, 13}};
    case 5448:
        return {{1, WriteSingleDevice, 8}};
    case 5466:
        return {{1, WriteSingleDevice, 8}, {2, WriteSingleDevice, 5}};
    case 5599:
        return {{OperatorSlave, WriteSingle, 151}};
    case 5623:
        return {{1, WriteSingleDevice, 2}};
    default:
        if (Model >= 5529 && Model <= 5537) {
            return {{19, WriteSingleDevice, 29}};
        }
        return {};
    }
}

std::string DescribeMethod(const std::vector<TSwitchStep>& Method) {
    if (Method.empty()) {
        return "none";
    }
    std::string Text;
    for (const TSwitchStep& Step : Method) {
        if (!Text.empty()) {
            Text += " then ";
        }
        Text += "(" + std::to_string(Step.Slave) + "," + std::to_string(Step.Function) + "," +
                std::to_string(Step.Register) + ")";
    }
    return Text;
}

bool TModbusUnit::IsSettingsRegister(TRegisterKey Key) {
    const auto [Slave, Register] = Key;
    return (Slave == 17 && Register == 24) || (Slave == 19 && Register >= 22 && Register <= 32) ||
           (Slave == 20 && Register >= 7 && Register <= 28);
}

TModbusUnit::TModbusUnit(const TUnitSimConfig& Config)
    : Method(SwitchMethod(Config.ModelNumber, Config.OperatorSlave)) {
    auto Setting = [&](uint8_t Slave, uint16_t Register) {
        const auto Given = Config.Settings.find({Slave, Register});
        const uint16_t Value = Given != Config.Settings.end()
                                   ? Given->second
                                   : static_cast<uint16_t>(Slave * 1000 + Register);
        Map[{Slave, Register}] = {Value, true, false};
    };
    Setting(17, 24);
    for (uint16_t Register = 22; Register <= 32; ++Register) {
        Setting(19, Register);
    }
    for (uint16_t Register = 7; Register <= 28; ++Register) {
        Setting(20, Register);
    }
    Map[{19, 20}] = {Config.ModelNumber, false, false};
    Map[{19, 21}] = {Config.FirmwareVersion, false, false};
    Map[{19, 29}].Command = true;
    for (const TSwitchStep& Step : Method) {
        if (Step.Slave != 0) {
            TRegister& Key = Map[{Step.Slave, Step.Register}];
            Key.Command = true;
        }
    }
    for (const auto& [Key, Register] : Map) {
        Slaves.insert(Key.first);
    }
}

bool TModbusUnit::HasSlave(uint8_t Slave) const {
    return Slaves.count(Slave) != 0;
}

void TModbusUnit::SetFirmwareVersion(uint16_t Version) {
    Map[{19, 21}].Value = Version;
}

void TModbusUnit::ResetSettings() {
    for (auto& [Key, Register] : Map) {
        if (IsSettingsRegister(Key)) {
            Register.Value = 0;
        }
    }
}

std::map<TRegisterKey, uint16_t> TModbusUnit::Registers() const {
    std::map<TRegisterKey, uint16_t> Values;
    for (const auto& [Key, Register] : Map) {
        Values[Key] = Register.Value;
    }
    return Values;
}

std::map<TRegisterKey, uint16_t> TModbusUnit::Settings() const {
    std::map<TRegisterKey, uint16_t> Values;
    for (const auto& [Key, Register] : Map) {
        if (IsSettingsRegister(Key)) {
            Values[Key] = Register.Value;
        }
    }
    return Values;
}

const TModbusUnit::TRegister* TModbusUnit::Find(uint8_t Slave, uint16_t Register) const {
    const auto Found = Map.find({Slave, Register});
    return Found == Map.end() ? nullptr : &Found->second;
}

std::vector<uint8_t> TModbusUnit::TargetsOf(uint8_t Slave, uint16_t First, uint16_t Count) const {
    std::vector<uint8_t> Targets;
    for (uint8_t Candidate : Slaves) {
        if (Slave != 0 && Candidate != Slave) {
            continue;
        }
        bool All = true;
        for (uint32_t Register = First; Register < uint32_t{First} + Count; ++Register) {
            const TRegister* Found = Find(Candidate, static_cast<uint16_t>(Register));
            All = All && Found != nullptr && Found->Writable;
        }
        if (All) {
            Targets.push_back(Candidate);
        }
    }
    return Targets;
}

TModbusOutcome TModbusUnit::Handle(const std::vector<uint8_t>& Frame) {
    TModbusOutcome Outcome;
    const uint8_t Slave = Frame[0];
    if (Slave != 0 && !HasSlave(Slave)) {
        Outcome.Verdict = "slave " + std::to_string(Slave) + " is not this unit: no reply";
        return Outcome;
    }
    if (TrySwitchStep(Frame, Outcome)) {
        return Outcome;
    }
    switch (Frame[1]) {
    case ReadHolding:
        return Read(Frame);
    case WriteSingle:
    case WriteSingleDevice:
        return WriteOne(Frame);
    case WriteMultipleDevice:
        return WriteMany(Frame);
    default:
        return Exception(Frame, 1, "illegal function " + std::to_string(Frame[1]));
    }
}

bool TModbusUnit::TrySwitchStep(const std::vector<uint8_t>& Frame, TModbusOutcome& Outcome) {
    auto Matches = [&](const TSwitchStep& Step) {
        return Frame.size() == 8 && Frame[0] == Step.Slave && Frame[1] == Step.Function &&
               Word(Frame, 2) == Step.Register && Word(Frame, 4) == BootloaderKey;
    };
    if (Armed < Method.size() && Matches(Method[Armed])) {
        ++Armed;
    } else if (!Method.empty() && Matches(Method[0])) {
        Armed = 1;
    } else {
        Armed = 0;
        return false;
    }
    Outcome.Verdict =
        "bootloader key, request " + std::to_string(Armed) + " of " + std::to_string(Method.size());
    if (Armed == Method.size()) {
        Outcome.SwitchToBoot = true;
        Outcome.Verdict += ": switching to the bootloader";
        Armed = 0;
    }
    if (Frame[0] != 0) {
        Outcome.Reply = Echo(Frame);
    }
    return true;
}

TModbusOutcome TModbusUnit::Read(const std::vector<uint8_t>& Frame) {
    const uint8_t Slave = Frame[0];
    const uint16_t First = Word(Frame, 2);
    const uint16_t Count = Word(Frame, 4);
    TModbusOutcome Outcome;
    if (Slave == 0) {
        Outcome.Verdict = "broadcast read: ignored";
        return Outcome;
    }
    if (Count < 1 || Count > 125) {
        return Exception(Frame, 3, "illegal count " + std::to_string(Count));
    }
    std::vector<uint8_t> Reply{Slave, Frame[1], static_cast<uint8_t>(2 * Count)};
    for (uint32_t Register = First; Register < uint32_t{First} + Count; ++Register) {
        const TRegister* Found = Find(Slave, static_cast<uint16_t>(Register));
        if (Found == nullptr) {
            return Exception(Frame, 2, "no register " + Place(Slave, Register & 0xFFFF));
        }
        Reply.push_back(static_cast<uint8_t>(Found->Value >> 8));
        Reply.push_back(static_cast<uint8_t>(Found->Value & 0xFF));
    }
    Outcome.Reply = WithModbusCrc(std::move(Reply));
    Outcome.Verdict = "read " + Place(Slave, First) + " x" + std::to_string(Count);
    return Outcome;
}

TModbusOutcome TModbusUnit::WriteOne(const std::vector<uint8_t>& Frame) {
    const uint8_t Slave = Frame[0];
    const uint8_t Function = Frame[1];
    const uint16_t Register = Word(Frame, 2);
    const uint16_t Value = Word(Frame, 4);
    const std::vector<uint8_t> Targets = TargetsOf(Slave, Register, 1);
    if (Targets.empty()) {
        return Exception(Frame, 2, "no writable register " + Place(Slave, Register));
    }
    TModbusOutcome Outcome;
    if (Slave != 0) {
        Outcome.Reply = Echo(Frame);
    }
    const bool CommandValue = Value == BootloaderKey || Value == CommitValue;
    bool OnCommandRegister = false;
    for (uint8_t Target : Targets) {
        OnCommandRegister = OnCommandRegister || Find(Target, Register)->Command;
    }
    if (Slave == 19 && Function == WriteSingleDevice && Register == 29 && Value == CommitValue) {
        Outcome.Committed = true;
        Outcome.Verdict = "commit value: settings committed";
        return Outcome;
    }
    if (CommandValue && OnCommandRegister) {
        Outcome.Faults.push_back((Value == BootloaderKey ? "bootloader key" : "commit value") +
                                 std::string(" written by (") + std::to_string(Slave) + "," +
                                 std::to_string(Function) + "," + std::to_string(Register) +
                                 "); this unit switches by " + DescribeMethod(Method) +
                                 " and commits by (19,103,29)");
        Outcome.Verdict = "command value by the wrong request: not acted on";
        return Outcome;
    }
    for (uint8_t Target : Targets) {
        Map[{Target, Register}].Value = Value;
    }
    Outcome.Verdict = "write " + Place(Slave, Register) + "=" + std::to_string(Value);
    return Outcome;
}

TModbusOutcome TModbusUnit::WriteMany(const std::vector<uint8_t>& Frame) {
    const uint8_t Slave = Frame[0];
    const uint16_t First = Word(Frame, 2);
    const uint16_t Count = Word(Frame, 4);
    if (Count < 1 || Count > 123 || Frame[6] != 2 * Count) {
        return Exception(Frame, 3,
                         "count " + std::to_string(Count) + ", byte count " +
                             std::to_string(Frame[6]));
    }
    const std::vector<uint8_t> Targets = TargetsOf(Slave, First, Count);
    if (Targets.empty()) {
        return Exception(Frame, 2,
                         "no writable registers " + Place(Slave, First) + " x" +
                             std::to_string(Count));
    }
    TModbusOutcome Outcome;
    for (uint16_t Index = 0; Index < Count; ++Index) {
        const uint16_t Register = static_cast<uint16_t>(First + Index);
        const uint16_t Value = Word(Frame, 7 + 2 * Index);
        for (uint8_t Target : Targets) {
            TRegister& Entry = Map[{Target, Register}];
            if (Entry.Command && (Value == BootloaderKey || Value == CommitValue)) {
                Outcome.Faults.push_back("command value " + std::to_string(Value) +
                                         " in a multiple write to " + Place(Target, Register) +
                                         ": not stored, not acted on");
                continue;
            }
            Entry.Value = Value;
        }
    }
    if (Slave != 0) {
        Outcome.Reply = WithModbusCrc({Frame.begin(), Frame.begin() + 6});
    }
    Outcome.Verdict = "write " + Place(Slave, First) + " x" + std::to_string(Count);
    return Outcome;
}
