// How each model is switched from its running firmware into its bootloader over Modbus,
// and the port speeds on either side of the switch. Plain data, no port.
#pragma once

#include <array>
#include <cstdint>

// The value every switching request writes, and the value that makes a unit commit
// restored settings.
constexpr uint16_t BootloaderKey = 5183;
constexpr uint16_t CommitValue = 3962;

struct TBootSwitchRequest {
    uint8_t Slave = 0;
    uint8_t Function = 0;
    uint16_t Register = 0;
    // The request goes to the slave address the operator set, not to Slave.
    bool OperatorSlave = false;
};

struct TBootSwitchMethod {
    // False for a model the table does not know: nothing is sent for it.
    bool Known = false;
    int RequestCount = 0;
    std::array<TBootSwitchRequest, 2> Requests{};
};

TBootSwitchMethod BootSwitchMethod(uint16_t ExpectedModelNumber);
uint32_t ModbusBaudRate(uint16_t ExpectedModelNumber);
uint32_t BootloaderBaudRate(uint16_t ExpectedModelNumber);
