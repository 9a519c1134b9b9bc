#include "device_types.h"

#include <iterator>

namespace palvero {

namespace {

constexpr DeviceTypeRow kRows[] = {
    {0x00, "Other", "N/A"},
    {0x01, "Oil", "m3"},
    {0x02, "Electricity", "kWh"},
    {0x03, "Gas", "m3"},
    {0x04, "Heat", "kWh"},
    {0x05, "Steam", "m3"},
    {0x06, "Hot water", "m3"},
    {0x07, "Water", "m3"},
    {0x08, "H.C.A", "N/A"},
    {0x09, "Compr. air", "m3"},
    {0x0A, "Cool (out)", "kWh"},
    {0x0B, "Cool (in)", "kWh"},
    {0x0C, "Heat", "kWh"},
    {0x0D, "Heat/Cool", "kWh"},
    {0x0E, "Bus", "N/A"},
    {0x0F, "Unknown", "N/A"},
    {0x10, "Cold water", "m3"},
    // EN 13757-3 codes that real water meters send.
    {0x15, "Hot water", "m3"},
    {0x16, "Cold water", "m3"},
    {0x62, "Hot water", "m3"},
    {0x72, "Cold water", "m3"},
    {0x80, "H.C.A", "N/A"},
};

constexpr DeviceTypeRow kOther = {0xFF, "Other", "N/A"};

const DeviceTypeRow& rowFor(uint8_t code)
{
    for (const auto& r : kRows)
        if (r.code == code)
            return r;
    return kOther;
}

} // namespace

const char* mediumText(uint8_t deviceType)
{
    return rowFor(deviceType).medium;
}

const char* mainUnitText(uint8_t deviceType)
{
    return rowFor(deviceType).mainUnit;
}

const DeviceTypeRow* deviceTypeRows(int* count)
{
    *count = static_cast<int>(std::size(kRows));
    return kRows;
}

} // namespace palvero
