#pragma once

#include "meter_key_source.h"
#include "receiver_frame.h"

#include <map>
#include <string>
#include <vector>

namespace palvero {

// One row of a table of real telegrams (tab-separated, a header line): its telegrams from
// their L field on, heard in this order ("telegram_hex" or "telegrams", several separated
// by commas), its key ("key", NOKEY for none), its meter ("meter_id") and every column by
// its name.
struct TelegramRow {
    std::string table;
    int line = 0;
    std::vector<std::vector<uint8_t>> telegrams;
    std::string key; // empty for NOKEY
    std::string meterId;
    std::map<std::string, std::string> columns;

    const std::string& column(const std::string& name) const;
};

// Appends the rows of `path`; false, with `error` set, when it cannot be read or a row
// holds no telegram.
bool readTelegramTable(const std::string& path, std::vector<TelegramRow>& rows, std::string& error);

// A receiver frame of a v2 receiver with RSSI: 0x68, L, the telegram from C on, RSSI, 0x16.
ReceiverFrame receiverFrameOf(const std::vector<uint8_t>& telegram);

// The keys of the rows, by meter, as the meters file would give them.
struct TableKeys : MeterKeySource {
    std::map<std::string, std::string> keys;
    explicit TableKeys(const std::vector<TelegramRow>& rows);
    MeterKeyLookup findMeterKey(const std::string& id) override;
};

// Writes `text` to `path`; false when it cannot.
bool writeTextFile(const std::string& path, const std::string& text);

} // namespace palvero
