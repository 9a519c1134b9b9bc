#include "heard_reading.h"

#include "meter_table.h"
#include "telegram_processor.h"

namespace palvero::central {

OutboxReading heardReading(const MeterTable& table, int row, const TelegramProcessor& processor,
                           const std::vector<uint8_t>& asReceived, const std::string& laptop,
                           std::chrono::system_clock::time_point heardAt)
{
    OutboxReading r;
    r.id = newReadingId();
    r.heardAt = utcTimestamp(heardAt);
    r.laptop = laptop;
    r.meterId = table.cell(row, col::MeterId);
    r.manufacturer = table.cell(row, col::Mfr);
    r.medium = table.cell(row, col::Medium);
    r.rssi = table.cell(row, col::Rssi);
    r.mainValue = processor.lastMainValue();
    r.unit = processor.lastMainUnit();
    if (processor.lastContent() == ApplicationData::Records) {
        for (int c = col::FirstAdditional; c < table.columnCount(); ++c)
            r.additional.push_back(table.cell(row, c));
        while (!r.additional.empty() && r.additional.back().empty())
            r.additional.pop_back();
    }
    r.decrypted = table.flag(RowFlag::Decrypted, row);
    r.telegram = asReceived;
    return r;
}

} // namespace palvero::central
