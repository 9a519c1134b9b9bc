#pragma once

#include "meter_table.h"
#include "telegram_processor.h"

#include <string>
#include <string_view>

namespace palvero {

// One telegram as one line of JSON: the meter, its main value and unit, whether it was
// readable, the layers it came through and every decoded record. Numbers are written as
// JSON numbers with a point, whatever the decimal separator of the cells; texts that are
// no number stay strings. Cell text is single-byte (Latin-1) and is written as UTF-8.
std::string telegramJson(const MeterTable& table, int row, const TelegramProcessor& processor,
                         const ReceiverFrame& f, char decimalSeparator);
// The same appended to `out`, from the processor's description of the telegram; nothing
// is allocated once `out` has grown.
void appendTelegramJson(std::string& out, const MeterTable& table, int row, const TelegramProcessor& processor,
                        const ReceiverFrame& f, char decimalSeparator);

// A cell text as a JSON string, quotes included.
std::string jsonString(const std::string& text);
// A value text as a JSON number when it is a plain decimal number, else as a JSON string;
// `null` for an empty text.
std::string jsonValue(const std::string& text, char decimalSeparator);
void appendJsonString(std::string& out, std::string_view text);
void appendJsonValue(std::string& out, std::string_view text, char decimalSeparator);

} // namespace palvero
