#include "upgrade/BootSwitchTable.h"

#include <initializer_list>

namespace {

// The one model with fast links on both sides of the switch.
constexpr uint16_t FastLinkModel = 5466;

TBootSwitchMethod Method(std::initializer_list<TBootSwitchRequest> Requests) {
    TBootSwitchMethod method;
    method.Known = true;
    for (const TBootSwitchRequest& request : Requests) {
        method.Requests[method.RequestCount++] = request;
    }
    return method;
}

} // namespace

TBootSwitchMethod BootSwitchMethod(uint16_t ExpectedModelNumber) {
    switch (ExpectedModelNumber) {
    case 5396:
    case 5483:
        // The second request is a broadcast: nobody answers it.
        return Method({{1, 6, 156, false}, {0, 6, 156, false}});
    case 5411:
    case 5428:
    case 5468:
    case 5515:
    case 5516:
    case 5520:
    case 5526:
    case 5527:
        return Method({{19, 103, 29, false}});
    case 5424:
        return Method({{242, 6, 13, false}});
    case 5448:
        return Method({{1, 103, 8, false}});
    case 5466:
        return Method({{1, 103, 8, false}, {2, 103, 5, false}});
    case 5479:
        return Method({});
    case 5599:
        return Method({{0, 6, 151, true}});
    case 5623:
        return Method({{1, 103, 2, false}});
    default:
        if (ExpectedModelNumber >= 5529 && ExpectedModelNumber <= 5537) {
            return Method({{19, 103, 29, false}});
        }
        return {};
    }
}

uint32_t ModbusBaudRate(uint16_t ExpectedModelNumber) {
    return ExpectedModelNumber == FastLinkModel ? 800000 : 9600;
}

uint32_t BootloaderBaudRate(uint16_t ExpectedModelNumber) {
    return ExpectedModelNumber == FastLinkModel ? 92160 : 115200;
}
