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
    TModbusOutcome outcome;
    if (Frame[0] == 0) {
        outcome.Verdict = "broadcast, " + Why + ": ignored";
        return outcome;
    }
    outcome.Reply = WithModbusCrc({Frame[0], static_cast<uint8_t>(Frame[1] | 0x80), Code});
    outcome.Verdict = "exception " + std::to_string(Code) + " (" + Why + ")";
    return outcome;
}

// The reply to a write: the request's first six bytes again.
std::vector<uint8_t> Echo(const std::vector<uint8_t>& Frame) {
    return WithModbusCrc({Frame.begin(), Frame.begin() + 6});
}

} // namespace

std::vector<uint8_t> WithModbusCrc(std::vector<uint8_t> Bytes) {
    Bytes.push_back(0);
    Bytes.push_back(0);
    const uint16_t crc = ModbusCrc(Bytes.data(), 0, static_cast<uint16_t>(Bytes.size() - 3));
    Bytes[Bytes.size() - 2] = static_cast<uint8_t>(crc >> 8);
    Bytes[Bytes.size() - 1] = static_cast<uint8_t>(crc & 0xFF);
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
    std::string text;
    for (const TSwitchStep& step : Method) {
        if (!text.empty()) {
            text += " then ";
        }
        text += "(" + std::to_string(step.Slave) + "," + std::to_string(step.Function) + "," +
                std::to_string(step.Register) + ")";
    }
    return text;
}

bool TModbusUnit::IsSettingsRegister(TRegisterKey Key) {
    const auto [Slave, Register] = Key;
    return (Slave == 17 && Register == 24) || (Slave == 19 && Register >= 22 && Register <= 32) ||
           (Slave == 20 && Register >= 7 && Register <= 28);
}

TModbusUnit::TModbusUnit(const TUnitSimConfig& Config)
    : Method(SwitchMethod(Config.ModelNumber, Config.OperatorSlave)) {
    auto setting = [&](uint8_t Slave, uint16_t Register) {
        const auto given = Config.Settings.find({Slave, Register});
        const uint16_t value = given != Config.Settings.end()
                                   ? given->second
                                   : static_cast<uint16_t>(Slave * 1000 + Register);
        Map[{Slave, Register}] = {value, true, false};
    };
    setting(17, 24);
    for (uint16_t number = 22; number <= 32; ++number) {
        setting(19, number);
    }
    for (uint16_t number = 7; number <= 28; ++number) {
        setting(20, number);
    }
    Map[{19, 20}] = {Config.ModelNumber, false, false};
    Map[{19, 21}] = {Config.FirmwareVersion, false, false};
    Map[{19, 29}].Command = true;
    for (const TSwitchStep& step : Method) {
        if (step.Slave != 0) {
            TRegister& key = Map[{step.Slave, step.Register}];
            key.Command = true;
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
    std::map<TRegisterKey, uint16_t> values;
    for (const auto& [Key, Register] : Map) {
        values[Key] = Register.Value;
    }
    return values;
}

std::map<TRegisterKey, uint16_t> TModbusUnit::Settings() const {
    std::map<TRegisterKey, uint16_t> values;
    for (const auto& [Key, Register] : Map) {
        if (IsSettingsRegister(Key)) {
            values[Key] = Register.Value;
        }
    }
    return values;
}

const TModbusUnit::TRegister* TModbusUnit::Find(uint8_t Slave, uint16_t Register) const {
    const auto found = Map.find({Slave, Register});
    return found == Map.end() ? nullptr : &found->second;
}

std::vector<uint8_t> TModbusUnit::TargetsOf(uint8_t Slave, uint16_t First, uint16_t Count) const {
    std::vector<uint8_t> targets;
    for (uint8_t candidate : Slaves) {
        if (Slave != 0 && candidate != Slave) {
            continue;
        }
        bool all = true;
        for (uint32_t number = First; number < uint32_t{First} + Count; ++number) {
            const TRegister* found = Find(candidate, static_cast<uint16_t>(number));
            all = all && found != nullptr && found->Writable;
        }
        if (all) {
            targets.push_back(candidate);
        }
    }
    return targets;
}

TModbusOutcome TModbusUnit::Handle(const std::vector<uint8_t>& Frame) {
    TModbusOutcome outcome;
    const uint8_t slave = Frame[0];
    if (slave != 0 && !HasSlave(slave)) {
        outcome.Verdict = "slave " + std::to_string(slave) + " is not this unit: no reply";
        return outcome;
    }
    if (TrySwitchStep(Frame, outcome)) {
        return outcome;
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
    auto matches = [&](const TSwitchStep& Step) {
        return Frame.size() == 8 && Frame[0] == Step.Slave && Frame[1] == Step.Function &&
               Word(Frame, 2) == Step.Register && Word(Frame, 4) == BootloaderKey;
    };
    if (Armed < Method.size() && matches(Method[Armed])) {
        ++Armed;
    } else if (!Method.empty() && matches(Method[0])) {
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
    const uint8_t slave = Frame[0];
    const uint16_t first = Word(Frame, 2);
    const uint16_t count = Word(Frame, 4);
    TModbusOutcome outcome;
    if (slave == 0) {
        outcome.Verdict = "broadcast read: ignored";
        return outcome;
    }
    if (count < 1 || count > 125) {
        return Exception(Frame, 3, "illegal count " + std::to_string(count));
    }
    std::vector<uint8_t> reply{slave, Frame[1], static_cast<uint8_t>(2 * count)};
    for (uint32_t number = first; number < uint32_t{first} + count; ++number) {
        const TRegister* found = Find(slave, static_cast<uint16_t>(number));
        if (found == nullptr) {
            return Exception(Frame, 2, "no register " + Place(slave, number & 0xFFFF));
        }
        reply.push_back(static_cast<uint8_t>(found->Value >> 8));
        reply.push_back(static_cast<uint8_t>(found->Value & 0xFF));
    }
    outcome.Reply = WithModbusCrc(std::move(reply));
    outcome.Verdict = "read " + Place(slave, first) + " x" + std::to_string(count);
    return outcome;
}

TModbusOutcome TModbusUnit::WriteOne(const std::vector<uint8_t>& Frame) {
    const uint8_t slave = Frame[0];
    const uint8_t function = Frame[1];
    const uint16_t address = Word(Frame, 2);
    const uint16_t value = Word(Frame, 4);
    const std::vector<uint8_t> targets = TargetsOf(slave, address, 1);
    if (targets.empty()) {
        return Exception(Frame, 2, "no writable register " + Place(slave, address));
    }
    TModbusOutcome outcome;
    if (slave != 0) {
        outcome.Reply = Echo(Frame);
    }
    const bool commandValue = value == BootloaderKey || value == CommitValue;
    bool onCommandRegister = false;
    for (uint8_t target : targets) {
        onCommandRegister = onCommandRegister || Find(target, address)->Command;
    }
    if (slave == 19 && function == WriteSingleDevice && address == 29 && value == CommitValue) {
        outcome.Committed = true;
        outcome.Verdict = "commit value: settings committed";
        return outcome;
    }
    if (commandValue && onCommandRegister) {
        outcome.Faults.push_back((value == BootloaderKey ? "bootloader key" : "commit value") +
                                 std::string(" written by (") + std::to_string(slave) + "," +
                                 std::to_string(function) + "," + std::to_string(address) +
                                 "); this unit switches by " + DescribeMethod(Method) +
                                 " and commits by (19,103,29)");
        outcome.Verdict = "command value by the wrong request: not acted on";
        return outcome;
    }
    for (uint8_t target : targets) {
        Map[{target, address}].Value = value;
    }
    outcome.Verdict = "write " + Place(slave, address) + "=" + std::to_string(value);
    return outcome;
}

TModbusOutcome TModbusUnit::WriteMany(const std::vector<uint8_t>& Frame) {
    const uint8_t slave = Frame[0];
    const uint16_t first = Word(Frame, 2);
    const uint16_t count = Word(Frame, 4);
    if (count < 1 || count > 123 || Frame[6] != 2 * count) {
        return Exception(Frame, 3,
                         "count " + std::to_string(count) + ", byte count " +
                             std::to_string(Frame[6]));
    }
    const std::vector<uint8_t> targets = TargetsOf(slave, first, count);
    if (targets.empty()) {
        return Exception(Frame, 2,
                         "no writable registers " + Place(slave, first) + " x" +
                             std::to_string(count));
    }
    TModbusOutcome outcome;
    for (uint16_t index = 0; index < count; ++index) {
        const uint16_t address = static_cast<uint16_t>(first + index);
        const uint16_t value = Word(Frame, 7 + 2 * index);
        for (uint8_t target : targets) {
            TRegister& entry = Map[{target, address}];
            if (entry.Command && (value == BootloaderKey || value == CommitValue)) {
                outcome.Faults.push_back("command value " + std::to_string(value) +
                                         " in a multiple write to " + Place(target, address) +
                                         ": not stored, not acted on");
                continue;
            }
            entry.Value = value;
        }
    }
    if (slave != 0) {
        outcome.Reply = WithModbusCrc({Frame.begin(), Frame.begin() + 6});
    }
    outcome.Verdict = "write " + Place(slave, first) + " x" + std::to_string(count);
    return outcome;
}
