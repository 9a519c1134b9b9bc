#pragma once

#include "outbox.h"

#include <chrono>
#include <string>

namespace palvero {
class MeterTable;
class TelegramProcessor;
}

namespace palvero::central {

// The reading a telegram just gave the table's row, for the outbox: the row's meter,
// manufacturer, medium and RSSI, the main value and unit this telegram gave (not one the
// row kept from an earlier telegram), the additional values shown, the row's Decrypted
// flag, and the receiver frame as it arrived (`asReceived`, may be empty).
OutboxReading heardReading(const MeterTable& table, int row, const TelegramProcessor& processor,
                           const std::vector<uint8_t>& asReceived, const std::string& laptop,
                           std::chrono::system_clock::time_point heardAt);

} // namespace palvero::central
