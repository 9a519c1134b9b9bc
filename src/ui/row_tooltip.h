#pragma once

#include "meter_table.h"
#include "settings.h"

#include <QString>

namespace palvero {

// What a row's colour and flags mean, in words, one statement per line: the row read
// last, a low battery, a repeater's telegram, whether it was decrypted and read, and the
// test-state flags when "Enable coloring" is on. Empty for the empty row of a new table.
QString rowToolTip(const MeterTable& table, const Settings& settings, int row);

} // namespace palvero
