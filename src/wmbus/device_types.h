#pragma once

#include <cstdint>

namespace palvero {

struct DeviceTypeRow {
    uint8_t code;
    const char* medium;   // the "Medium" cell
    const char* mainUnit; // the unit whose first record is the meter's main value
};

// Medium text of a device type byte: "Other" for every value the table does not list.
const char* mediumText(uint8_t deviceType);
// Main unit text of a device type byte: "m3", "kWh" or "N/A".
const char* mainUnitText(uint8_t deviceType);

// The listed rows, in code order (for tests of the table itself).
const DeviceTypeRow* deviceTypeRows(int* count);

} // namespace palvero
