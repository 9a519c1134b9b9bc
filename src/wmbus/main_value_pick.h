#pragma once

#include "record_parser.h"

#include <string_view>

namespace palvero::pick {

// The rules that choose a telegram's main value, for any list of records that gives each
// record's unit and place: `unitOf(records, r)` and `placeOf(records, r)`.

inline bool isOtherEnergyUnit(std::string_view unit)
{
    return unit == "Wh" || unit == "MWh" || unit == "J" || unit == "kJ" || unit == "MJ" || unit == "GJ";
}

template <typename Records, typename Wanted>
int firstCurrent(const Records& records, int count, Wanted wanted)
{
    for (int r = 0; r < count; ++r) {
        const RecordPlace& place = placeOf(records, r);
        if (place.storage == 0 && place.tariff == 0 && place.function == 0 && wanted(unitOf(records, r)))
            return r;
    }
    return -1;
}

template <typename Records>
int mainRow(const Records& records, int count, std::string_view mainUnit)
{
    for (int r = 0; r < count; ++r)
        if (unitOf(records, r) == mainUnit)
            return r;
    return -1;
}

template <typename Records>
int currentMainRow(const Records& records, int count, std::string_view mainUnit)
{
    return firstCurrent(records, count, [mainUnit](std::string_view unit) { return unit == mainUnit; });
}

template <typename Records>
int fallbackMainRow(const Records& records, int count, std::string_view mainUnit, bool withoutMainUnit)
{
    if (mainUnit == "kWh")
        return firstCurrent(records, count, isOtherEnergyUnit);
    if (mainUnit != "N/A" || !withoutMainUnit)
        return -1;
    const int volume = firstCurrent(records, count, [](std::string_view unit) { return unit == "m3"; });
    if (volume >= 0)
        return volume;
    return firstCurrent(records, count,
                        [](std::string_view unit) { return unit == "kWh" || isOtherEnergyUnit(unit); });
}

} // namespace palvero::pick
