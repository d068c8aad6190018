// The product and processor tables: what a model number makes of the window title and
// the upgrade's parameters, and where a processor's program memory ends. No widgets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// One row of the product title table.
struct TProductRow {
    uint16_t ModelNumber;
    const char* TitleText; // followed by the version text
    int VersionDigits;     // digits after the point: 2 ("%d.%.2d") or 3 ("%d.%.3d")
    bool ExpectsModel5448; // the unit reports itself as 5448 in boot mode
    int32_t CommandPause;  // -1: no pause after bootloader commands
    bool ShowSlaveAddress; // the operator chooses the unit's slave address
};

// What a model number sets besides the image: the title and the upgrade's parameters.
struct TProductIdentity {
    std::string Title;
    uint16_t ExpectedModelNumber = 0;
    int32_t CommandPause = -1;
    bool ShowSlaveAddress = false;
};

constexpr const char* UnsupportedFirmwareTitle = "Unsupported Firmware";

// The row for ModelNumber, or nullptr when the table has none.
const TProductRow* FindProductRow(uint16_t ModelNumber);

// "1.50" for 150 with two digits, "1.234" for 1234 with three.
std::string FormatFirmwareVersion(uint16_t FirmwareVersion, int VersionDigits);

// The identity an image with these numbers gets; an unknown model gets the title
// "Unsupported Firmware" and keeps its own number.
TProductIdentity LookUpProduct(uint16_t ModelNumber, uint16_t FirmwareVersion);

// Last program memory address of the processor, or nothing for a processor not listed.
std::optional<uint32_t> ProgramLimitFor(uint16_t ProcessorNumber);
