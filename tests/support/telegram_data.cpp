#include "telegram_data.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace palvero::test {

namespace {

std::vector<std::string> splitFields(const std::string& line, char separator)
{
    std::vector<std::string> fields;
    std::stringstream s(line);
    std::string field;
    while (std::getline(s, field, separator))
        fields.push_back(field);
    return fields;
}

} // namespace

namespace {

// The tab-separated rows of a table after its header line, each with at least `columns` fields.
std::vector<std::vector<std::string>> tableRows(const std::string& path, size_t columns, char separator = '\t')
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::vector<std::vector<std::string>> rows;
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        rows.push_back(splitFields(line, separator));
        rows.back().resize(std::max(rows.back().size(), columns));
    }
    return rows;
}

} // namespace

std::vector<RealTelegram> loadRealTelegrams(const std::string& path)
{
    std::vector<RealTelegram> rows;
    for (const auto& f : tableRows(path, 9)) {
        RealTelegram t;
        t.source = f[0];
        t.telegramHex = f[1];
        t.key = f[2] == "NOKEY" ? "" : f[2];
        t.meterId = f[3];
        t.mfr = f[4];
        t.medium = f[5];
        t.mainValue = f[6];
        t.units = f[7];
        t.decrypted = f[8] == "1";
        rows.push_back(t);
    }
    return rows;
}

std::vector<FurtherTelegram> loadFurtherTelegrams(const std::string& path)
{
    std::vector<FurtherTelegram> rows;
    for (const auto& f : tableRows(path, 7)) {
        FurtherTelegram t;
        t.source = f[0];
        t.category = f[1];
        t.telegramsHex = splitFields(f[2], ',');
        t.key = f[3] == "NOKEY" ? "" : f[3];
        t.meterId = f[4];
        t.expectedTotal = f[5];
        t.expectedUnit = f[6];
        rows.push_back(t);
    }
    return rows;
}

std::vector<uint8_t> receiverFrame(const std::vector<uint8_t>& telegram, uint8_t rssi, bool crc, bool withRssi)
{
    std::vector<uint8_t> f = {0x68, 0x00};
    f.insert(f.end(), telegram.begin() + 1, telegram.end());
    if (withRssi)
        f.push_back(rssi);
    if (crc) {
        f.push_back(0x12);
        f.push_back(0x34);
    }
    f.push_back(0x16);
    f[1] = static_cast<uint8_t>(f.size() - 3);
    return f;
}

} // namespace palvero::test
