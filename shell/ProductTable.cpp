#include "shell/ProductTable.h"

#include <array>
#include <cstdio>

namespace {

constexpr uint16_t BootModel5448 = 5448;

// clang-format off
constexpr std::array<TProductRow, 34> ProductRows{{
    {5396, "Norvo Firmware Update v",              2, false, -1, false},
    {5411, "Vantic QN-7 Firmware Update v",        2, false, -1, false},
    {5424, "Norvo Linkbox Firmware Update v",      2, false, -1, false},
    {5428, "Vantic QN-9 Firmware Update v",        2, false, -1, false},
    {5456, "Kelvra Pendel Firmware Update v",      2, true,  -1, false},
    {5458, "Kelvra Strata Firmware Update v",      2, true,  -1, false},
    {5466, "Ombrel Vane Firmware Update v",        2, false, -1, false},
    {5468, "Vantic QN-12 Firmware Update v",       2, false, -1, false},
    {5479, "Vantic RV-3 v",                        2, false, -1, false},
    {5482, "Kelvra Cycle Station FW v",            2, true,  -1, false},
    {5483, "Norvo2 Firmware Update v",             2, false, -1, false},
    {5491, "Kelvra Glide Rig Firmware Update v",   2, true,  -1, false},
    {5496, "Kelvra Strike Rig Firmware Update v",  2, true,  -1, false},
    {5515, "Tarnwick K-300 Firmware Update v",     2, false, -1, false},
    {5516, "Tarnwick K-310 Firmware Update v",     2, false, -1, false},
    {5520, "Tarnwick K-420 Firmware Update v",     2, false, -1, false},
    {5523, "Kelvra Bench Rig Firmware Update v",   2, true,  -1, false},
    {5526, "Tarnwick K-400 Firmware Update v",     2, false, -1, false},
    {5527, "Tarnwick K-410 Firmware Update v",     2, false, -1, false},
    {5529, "Tarnwick K-500 Firmware Update v",     2, false, -1, false},
    {5530, "Tarnwick K-320 Firmware Update v",     2, false, -1, false},
    {5531, "Tarnwick K-330 Firmware Update v",     2, false, -1, false},
    {5532, "Tarnwick K-340 Firmware Update v",     2, false, -1, false},
    {5533, "Tarnwick K-600 Firmware Update v",     2, false, -1, false},
    {5534, "Tarnwick K-520 Firmware Update v",     2, false, -1, false},
    {5535, "Tarnwick K-620 Firmware Update v",     2, false, -1, false},
    {5536, "Tarnwick K-510 Firmware Update v",     2, false, -1, false},
    {5537, "Tarnwick K-610 Firmware Update v",     2, false, -1, false},
    {5595, "Kelvra Float Cell Firmware Update v",  2, true,  -1, false},
    {5599, "Tarnwick K-900 Firmware Update v",     3, false,  5, true},
    {5617, "Kelvra Heat Cell Firmware Update v",   2, true,  -1, false},
    {5623, "Tarnwick K-950 Firmware Update v",     2, false,  5, false},
    {5625, "Kelvra Lever Frame Firmware Update v", 2, true,  -1, false},
    {5630, "Kelvra Pendel v2 Firmware Update v",   2, true,  -1, false},
}};
// clang-format on

struct TProcessorRow {
    uint16_t ProcessorNumber;
    uint32_t LastProgramAddress;
};

constexpr std::array<TProcessorRow, 5> ProcessorRows{{
    {5525, 0xBFFF},
    {5620, 0xFFFF},
    {7321, 0x1FFF},
    {7680, 0xFFFF},
    {9622, 0xFFFF},
}};

} // namespace

const TProductRow* FindProductRow(uint16_t ModelNumber) {
    for (const TProductRow& row : ProductRows) {
        if (row.ModelNumber == ModelNumber) {
            return &row;
        }
    }
    return nullptr;
}

std::string FormatFirmwareVersion(uint16_t FirmwareVersion, int VersionDigits) {
    const unsigned divisor = VersionDigits == 3 ? 1000 : 100;
    char text[16];
    std::snprintf(text, sizeof text, "%u.%.*u", FirmwareVersion / divisor, VersionDigits,
                  FirmwareVersion % divisor);
    return text;
}

TProductIdentity LookUpProduct(uint16_t ModelNumber, uint16_t FirmwareVersion) {
    TProductIdentity identity;
    identity.ExpectedModelNumber = ModelNumber;
    const TProductRow* row = FindProductRow(ModelNumber);
    if (row == nullptr) {
        identity.Title = UnsupportedFirmwareTitle;
        return identity;
    }
    identity.Title = row->TitleText + FormatFirmwareVersion(FirmwareVersion, row->VersionDigits);
    if (row->ExpectsModel5448) {
        identity.ExpectedModelNumber = BootModel5448;
    }
    identity.CommandPause = row->CommandPause;
    identity.ShowSlaveAddress = row->ShowSlaveAddress;
    return identity;
}

std::optional<uint32_t> ProgramLimitFor(uint16_t ProcessorNumber) {
    for (const TProcessorRow& row : ProcessorRows) {
        if (row.ProcessorNumber == ProcessorNumber) {
            return row.LastProgramAddress;
        }
    }
    return std::nullopt;
}
