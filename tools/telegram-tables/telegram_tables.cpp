#include "telegram_tables.h"

#include <fstream>
#include <sstream>

namespace palvero {

namespace {

std::vector<std::string> split(const std::string& line, char separator)
{
    std::vector<std::string> fields;
    std::stringstream s(line);
    std::string field;
    while (std::getline(s, field, separator))
        fields.push_back(field);
    return fields;
}

} // namespace

const std::string& TelegramRow::column(const std::string& name) const
{
    static const std::string none;
    auto it = columns.find(name);
    return it == columns.end() ? none : it->second;
}

bool readTelegramTable(const std::string& path, std::vector<TelegramRow>& rows, std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::string line;
    std::getline(in, line);
    const auto header = split(line, '\t');
    int number = 1;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        auto fields = split(line, '\t');
        fields.resize(std::max(fields.size(), header.size()));
        TelegramRow row;
        row.table = path;
        row.line = number;
        for (size_t i = 0; i < header.size(); ++i)
            row.columns[header[i]] = fields[i];
        const std::string& hexes = row.columns.count("telegrams") ? row.column("telegrams") : row.column("telegram_hex");
        row.key = row.column("key") == "NOKEY" ? "" : row.column("key");
        row.meterId = row.column("meter_id");
        for (const auto& hex : split(hexes, ',')) {
            std::vector<uint8_t> bytes;
            if (!parseHexBytes(hex, bytes) || bytes.size() < 11) {
                error = path + ":" + std::to_string(number) + ": not a telegram";
                return false;
            }
            row.telegrams.push_back(std::move(bytes));
        }
        if (row.telegrams.empty() || row.meterId.empty()) {
            error = path + ":" + std::to_string(number) + ": no telegram or meter_id";
            return false;
        }
        rows.push_back(std::move(row));
    }
    return true;
}

ReceiverFrame receiverFrameOf(const std::vector<uint8_t>& telegram)
{
    ReceiverFrame f = {frame::kStart, 0};
    f.insert(f.end(), telegram.begin() + 1, telegram.end());
    f.push_back(0x9A);
    f.push_back(frame::kStop);
    f[1] = static_cast<uint8_t>(f.size() - 3);
    return f;
}

TableKeys::TableKeys(const std::vector<TelegramRow>& rows)
{
    for (const auto& r : rows)
        if (!r.key.empty())
            keys[r.meterId] = r.key;
}

MeterKeyLookup TableKeys::findMeterKey(const std::string& id)
{
    auto it = keys.find(id);
    return it == keys.end() ? MeterKeyLookup{} : MeterKeyLookup{0, true, it->second};
}

bool writeTextFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.flush();
    return static_cast<bool>(out);
}

} // namespace palvero
