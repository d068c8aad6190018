// The Modbus side of an upgrade: reading the running unit's identity, keeping the settings
// of the one model that loses them when its firmware crosses version 1.10, writing them
// back afterwards and committing them. Every transaction is tried at most twice.
#include "modbus/ModBusPro.h"
#include "serial/ResultCodes.h"
#include "shell/Main1.h"
#include "upgrade/BootSwitchTable.h"

#include <QEventLoop>
#include <QTimer>

#include <array>

namespace {

constexpr uint16_t ModbusTimeOut = 20; // ticks of 100 ms

// The one model whose settings are carried across the upgrade, and the firmware version
// (x 100) whose crossing makes that necessary.
constexpr uint16_t SettingsModel = 5468;
constexpr uint16_t SettingsVersion = 110;

constexpr uint8_t IdentitySlave = 19;
constexpr uint16_t IdentityRegister = 20; // model number, then firmware version

// The three settings blocks: slave, first register, register count.
constexpr uint8_t Block1Slave = 17;
constexpr uint16_t Block1Register = 24;
constexpr uint16_t Block1Count = 1;
constexpr uint8_t Block2Slave = 19;
constexpr uint16_t Block2Register = 22;
constexpr uint16_t Block2Count = 11;
// Word 7 of block 2 is register 29, where the key and the commit value go: never
// written back as read.
constexpr int Block2KeyWord = 7;
constexpr uint8_t Block3Slave = 20;
constexpr uint16_t Block3Register = 7;
constexpr uint16_t Block3Count = 22;
constexpr uint16_t Block3HalfCount = 11;

constexpr uint8_t CommitSlave = 19;
constexpr uint16_t CommitRegister = 29;

constexpr uint8_t ReadHolding = 3;
constexpr uint8_t WriteOne = 103;
constexpr uint8_t WriteMany = 104;

constexpr int32_t RestoreWaitMs = 5000;
constexpr int32_t CommitWaitMs = 3000;

} // namespace

int32_t TMainForm::ReadUnitRegisters(uint8_t Slave, uint8_t Function, uint16_t FirstRegister,
                                     uint16_t Count, uint16_t* Values) {
    int32_t result =
        ReadRegisters(Comms, Slave, Function, FirstRegister, Count, ModbusTimeOut, Values);
    if (result != TxResult::Ok) {
        result = ReadRegisters(Comms, Slave, Function, FirstRegister, Count, ModbusTimeOut, Values);
    }
    return result;
}

int32_t TMainForm::WriteUnitRegister(uint8_t Slave, uint8_t Function, uint16_t Register,
                                     uint16_t Value) {
    int32_t result = WriteRegister(Comms, Slave, Function, Register, Value, ModbusTimeOut);
    if (result != TxResult::Ok) {
        result = WriteRegister(Comms, Slave, Function, Register, Value, ModbusTimeOut);
    }
    return result;
}

int32_t TMainForm::WriteUnitRegisters(uint8_t Slave, uint8_t Function, uint16_t FirstRegister,
                                      uint16_t Count, const uint16_t* Values) {
    int32_t result =
        WriteRegisters(Comms, Slave, Function, FirstRegister, Count, Values, ModbusTimeOut);
    if (result != TxResult::Ok) {
        result =
            WriteRegisters(Comms, Slave, Function, FirstRegister, Count, Values, ModbusTimeOut);
    }
    return result;
}

int32_t TMainForm::ReadUnitIdentity() {
    std::array<uint16_t, 2> words{};
    const int32_t result = ReadUnitRegisters(IdentitySlave, ReadHolding, IdentityRegister,
                                             static_cast<uint16_t>(words.size()), words.data());
    UnitModelNumber = result == TxResult::Ok ? words[0] : 0;
    UnitFirmwareVersion = result == TxResult::Ok ? words[1] : 0;
    return result;
}

namespace {
bool CrossesSettingsVersion(uint16_t UnitVersion, uint16_t ImageVersion) {
    return UnitVersion < SettingsVersion && ImageVersion >= SettingsVersion;
}
} // namespace

int32_t TMainForm::BackupUnitSettings() {
    if (UnitModelNumber != SettingsModel ||
        !CrossesSettingsVersion(UnitFirmwareVersion, FirmwareVersion)) {
        return TxResult::NoSettingsToCarry;
    }
    int32_t result = ReadUnitRegisters(Block1Slave, ReadHolding, Block1Register, Block1Count,
                                       SettingsBackup[0].data());
    if (result != TxResult::Ok) {
        return result;
    }
    result = ReadUnitRegisters(Block2Slave, ReadHolding, Block2Register, Block2Count,
                               SettingsBackup[1].data());
    if (result != TxResult::Ok) {
        return result;
    }
    SettingsBackup[1][Block2KeyWord] = 0;
    return ReadUnitRegisters(Block3Slave, ReadHolding, Block3Register, Block3Count,
                             SettingsBackup[2].data());
}

int32_t TMainForm::RestoreUnitSettings() {
    if (UnitModelNumber != SettingsModel) {
        return TxResult::NoSettingsToCarry;
    }
    // The restarted unit needs time before it takes settings.
    Delay(RestoreWaitMs);
    if (!CrossesSettingsVersion(UnitFirmwareVersion, FirmwareVersion)) {
        return TxResult::NoSettingsToCarry;
    }
    int32_t result = WriteUnitRegister(Block1Slave, WriteOne, Block1Register, SettingsBackup[0][0]);
    if (result == TxResult::Ok) {
        result = WriteUnitRegisters(Block2Slave, WriteMany, Block2Register, Block2Count,
                                    SettingsBackup[1].data());
    }
    if (result == TxResult::Ok) {
        result = WriteUnitRegisters(Block3Slave, WriteMany, Block3Register, Block3HalfCount,
                                    SettingsBackup[2].data());
    }
    if (result == TxResult::Ok) {
        result = WriteUnitRegisters(Block3Slave, WriteMany, Block3Register + Block3HalfCount,
                                    Block3HalfCount, SettingsBackup[2].data() + Block3HalfCount);
    }
    // Whatever the writes gave, the unit is told to keep what it has now.
    CommitUnitSettings();
    return result;
}

void TMainForm::CommitUnitSettings() {
    WriteUnitRegister(CommitSlave, WriteOne, CommitRegister, CommitValue);
    Delay(CommitWaitMs);
}

void TMainForm::Delay(int32_t Milliseconds) {
    if (Milliseconds <= 0) {
        return;
    }
    // Window events are handled as they come; the timer ends the wait at its deadline.
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(Milliseconds);
    loop.exec();
}
