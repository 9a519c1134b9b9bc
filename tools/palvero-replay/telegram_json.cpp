#include "telegram_json.h"

#include "compact_formats.h"
#include "receiver_frame.h"

namespace palvero {

namespace {

const char* contentName(ApplicationData content)
{
    switch (content) {
    case ApplicationData::Records:
        return "records";
    case ApplicationData::Encrypted:
        return "encrypted";
    case ApplicationData::ManufacturerDefined:
        return "manufacturer defined";
    case ApplicationData::Fragment:
        return "fragment";
    case ApplicationData::UnknownFormat:
        return "unknown compact format";
    case ApplicationData::FormatMismatch:
        return "compact data check failed";
    }
    return "";
}

std::string hexWord(unsigned value)
{
    return hexByte(static_cast<uint8_t>(value >> 8)) + hexByte(static_cast<uint8_t>(value));
}

uint32_t lsbFirst(const ReceiverFrame& f, int at, int n)
{
    uint32_t value = 0;
    for (int i = n - 1; i >= 0; --i)
        value = value << 8 | byteAt(f, at + i);
    return value;
}

std::string layersJson(const TelegramLayers& l, const ReceiverFrame& f, const DecodedRecords& records)
{
    std::string out = "{\"ell\":";
    if (l.link.present()) {
        out += "{\"ci\":\"" + hexByte(l.link.ci) + "\",\"cc\":\"" + hexByte(byteAt(f, l.link.communicationControl))
            + "\",\"access_number\":" + std::to_string(byteAt(f, l.link.accessNumber));
        if (l.link.sessionNumber >= 0)
            out += ",\"session_number\":" + std::to_string(lsbFirst(f, l.link.sessionNumber, 4))
                + ",\"encryption\":" + jsonString(l.link.encryption == 0 ? "none"
                                                  : l.link.encryption == 1 ? "AES-128-CTR"
                                                                           : std::to_string(l.link.encryption))
                + ",\"payload_crc_ok\":" + (l.readable ? "true" : "false");
        out += "}";
    } else {
        out += "null";
    }
    out += ",\"afl\":";
    if (l.auth.present()) {
        out += "{\"fcl\":\"" + hexWord(l.auth.control) + "\"";
        if (l.auth.messageCounter >= 0)
            out += ",\"message_counter\":" + std::to_string(lsbFirst(f, l.auth.messageCounter, 4));
        out += ",\"mac_length\":" + std::to_string(l.auth.macLength)
            + ",\"fragmented\":" + (l.auth.fragmented() ? "true" : "false") + "}";
    } else {
        out += "null";
    }
    out += ",\"tpl\":";
    if (l.readable) {
        const ConfigurationWord word = configurationWord(f, l);
        out += "{\"ci\":\"" + hexByte(l.applicationCi) + "\"";
        if (l.transport.configuration >= 0)
            out += ",\"access_number\":" + std::to_string(byteAt(f, l.transport.accessNumber))
                + ",\"status\":" + std::to_string(byteAt(f, l.transport.status))
                + ",\"security_mode\":" + std::to_string(word.securityMode());
        out += "}";
    } else {
        out += "null";
    }
    out += ",\"compact_format\":";
    out += records.compactSignature >= 0 ? "\"" + hexWord(static_cast<unsigned>(records.compactSignature)) + "\""
                                         : std::string("null");
    out += "}";
    return out;
}

} // namespace

std::string jsonString(const std::string& text)
{
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (char c : text) {
        const auto b = static_cast<uint8_t>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20 || b == 0x7F) {
            out += "\\u00";
            out += hex[b >> 4];
            out += hex[b & 0x0F];
        } else if (b >= 0x80) {
            out += static_cast<char>(0xC0 | b >> 6);
            out += static_cast<char>(0x80 | (b & 0x3F));
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string jsonValue(const std::string& text, char decimalSeparator)
{
    if (text.empty())
        return "null";
    // A JSON number: an optional minus, digits without a leading zero, an optional fraction.
    std::string number;
    size_t i = 0;
    if (text[0] == '-')
        number += text[i++];
    const size_t firstDigit = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        number += text[i++];
    const size_t digits = i - firstDigit;
    bool ok = digits > 0 && (digits == 1 || text[firstDigit] != '0');
    if (ok && i < text.size() && text[i] == decimalSeparator) {
        number += '.';
        const size_t from = ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            number += text[i++];
        ok = i > from;
    }
    return ok && i == text.size() ? number : jsonString(text);
}

std::string telegramJson(const MeterTable& table, int row, const TelegramProcessor& processor,
                         const ReceiverFrame& f, char decimalSeparator)
{
    const DecodedRecords& records = processor.decodedRecords();
    std::string out = "{\"meter_id\":" + jsonString(table.cell(row, col::MeterId))
        + ",\"manufacturer\":" + jsonString(table.cell(row, col::Mfr))
        + ",\"medium\":" + jsonString(table.cell(row, col::Medium));
    // This telegram's reading: the row keeps an earlier one when the telegram gave none.
    out += ",\"main_value\":" + jsonValue(processor.lastMainValue(), decimalSeparator);
    out += ",\"unit\":" + (processor.lastMainUnit().empty() ? std::string("null") : jsonString(processor.lastMainUnit()));
    out += ",\"decrypted\":";
    out += table.flag(RowFlag::Decrypted, row) ? "true" : "false";
    out += ",\"content\":" + jsonString(contentName(processor.lastContent()));
    out += ",\"layers\":" + layersJson(processor.lastLayers(), f, records);
    // The meter format's readings follow the records in DecodedRecords; they are listed apart.
    const int formatRow = processor.lastFormatFirstRow();
    const int recordRows = formatRow >= 0 ? formatRow : records.recordCount();
    out += ",\"meter_format\":"
        + (processor.lastMeterFormat().empty() ? std::string("null") : jsonString(processor.lastMeterFormat()));
    out += ",\"format_readings\":[";
    for (int r = std::max(formatRow, 0); formatRow >= 0 && r < records.recordCount(); ++r) {
        const bool main = r == processor.lastMainRow();
        out += r > formatRow ? ",{" : "{";
        out += "\"unit\":" + jsonString(records.cell(r, DecodedRecords::Unit))
            + ",\"value\":" + jsonValue(records.cell(r, DecodedRecords::Value), decimalSeparator)
            + ",\"main\":" + (main ? "true" : "false") + "}";
    }
    out += "]";
    out += ",\"records\":[";
    for (int r = 0; r < recordRows; ++r) {
        const RecordPlace& place = records.place(r);
        out += r ? ",{" : "{";
        out += "\"storage\":" + std::to_string(place.storage) + ",\"tariff\":" + std::to_string(place.tariff)
            + ",\"subunit\":" + std::to_string(place.subunit) + ",\"function\":" + std::to_string(place.function)
            + ",\"unit\":" + jsonString(records.cell(r, DecodedRecords::Unit))
            + ",\"value\":" + jsonValue(records.cell(r, DecodedRecords::Value), decimalSeparator)
            + ",\"description\":" + jsonString(records.cell(r, DecodedRecords::Description)) + "}";
    }
    out += "]}";
    return out;
}

} // namespace palvero
