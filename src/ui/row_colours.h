#pragma once

#include "meter_table.h"
#include "settings.h"

#include <cstdint>

namespace palvero {

// The brush of a data row, decided in this order, later rules winning: the row read
// last (or else the selected row, or else white), a repeater's row when repeaters are
// shown, a low battery, and the three test-state colours when those are enabled.
struct RowBrush {
    enum Kind { Colour, Highlight } kind = Colour;
    uint32_t colour = 0xFFFFFF; // platform colour value: red in the lowest byte
};

RowBrush rowBrush(const MeterTable& table, const Settings& settings, int row);

} // namespace palvero
