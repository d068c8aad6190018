// Switching the running unit into its bootloader: the model's requests go out at the
// Modbus speed, then the port moves to the bootloader's speed.
#include "modbus/ModBusPro.h"
#include "serial/KestComms.h"
#include "serial/ResultCodes.h"
#include "shell/Main1.h"
#include "upgrade/BootSwitchTable.h"

namespace {

constexpr uint16_t SwitchTimeOut = 20; // ticks of 100 ms

} // namespace

int32_t TMainForm::EnableBootLoader() {
    ReopenPortAt(Comms, ModbusBaudRate(ExpectedModelNumber));

    const TBootSwitchMethod method = BootSwitchMethod(ExpectedModelNumber);
    // A model without a method gets no request; the bootloader steps then find out
    // whether the unit is in boot mode already.
    int32_t result = method.Known ? TxResult::Ok : 0;
    for (int i = 0; i < method.RequestCount; ++i) {
        const TBootSwitchRequest& request = method.Requests[i];
        const uint8_t slave =
            request.OperatorSlave ? static_cast<uint8_t>(SlaveAddress) : request.Slave;
        result = WriteRegister(Comms, slave, request.Function, request.Register, BootloaderKey,
                               SwitchTimeOut);
    }

    ReopenPortAt(Comms, BootloaderBaudRate(ExpectedModelNumber));
    return result;
}
