#include "telegram_json.h"

#include "receiver_frame.h"
#include "telegram_description.h"

#include <charconv>

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

// A literal, its length known to the compiler.
template <size_t N>
void lit(std::string& out, const char (&text)[N])
{
    out.append(text, N - 1);
}

void appendNumber(std::string& out, int64_t value)
{
    char buf[24];
    out.append(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

void appendHexWord(std::string& out, unsigned value)
{
    static const char hex[] = "0123456789ABCDEF";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += hex[(value >> shift) & 0x0F];
}

void appendHexByte(std::string& out, uint8_t b)
{
    static const char hex[] = "0123456789ABCDEF";
    out += hex[b >> 4];
    out += hex[b & 0x0F];
}

uint32_t lsbFirst(const ReceiverFrame& f, int at, int n)
{
    uint32_t value = 0;
    for (int i = n - 1; i >= 0; --i)
        value = value << 8 | byteAt(f, at + i);
    return value;
}

void appendBool(std::string& out, bool b)
{
    if (b)
        lit(out, "true");
    else
        lit(out, "false");
}

void appendLayers(std::string& out, const TelegramDescription& d, const ReceiverFrame& f)
{
    const TelegramLayers& l = d.layers;
    lit(out, "{\"ell\":");
    if (l.link.present()) {
        lit(out, "{\"ci\":\"");
        appendHexByte(out, l.link.ci);
        lit(out, "\",\"cc\":\"");
        appendHexByte(out, byteAt(f, l.link.communicationControl));
        lit(out, "\",\"access_number\":");
        appendNumber(out, byteAt(f, l.link.accessNumber));
        if (l.link.sessionNumber >= 0) {
            lit(out, ",\"session_number\":");
            appendNumber(out, lsbFirst(f, l.link.sessionNumber, 4));
            lit(out, ",\"encryption\":");
            if (l.link.encryption == 0)
                lit(out, "\"none\"");
            else if (l.link.encryption == 1)
                lit(out, "\"AES-128-CTR\"");
            else {
                out += '"';
                appendNumber(out, l.link.encryption);
                out += '"';
            }
            lit(out, ",\"payload_crc_ok\":");
            appendBool(out, l.readable);
        }
        out += '}';
    } else {
        lit(out, "null");
    }
    lit(out, ",\"afl\":");
    if (l.auth.present()) {
        lit(out, "{\"fcl\":\"");
        appendHexWord(out, l.auth.control);
        out += '"';
        if (l.auth.messageCounter >= 0) {
            lit(out, ",\"message_counter\":");
            appendNumber(out, lsbFirst(f, l.auth.messageCounter, 4));
        }
        lit(out, ",\"mac_length\":");
        appendNumber(out, l.auth.macLength);
        lit(out, ",\"fragmented\":");
        appendBool(out, l.auth.fragmented());
        out += '}';
    } else {
        lit(out, "null");
    }
    lit(out, ",\"tpl\":");
    if (l.readable) {
        lit(out, "{\"ci\":\"");
        appendHexByte(out, l.applicationCi);
        out += '"';
        if (l.transport.configuration >= 0) {
            lit(out, ",\"access_number\":");
            appendNumber(out, byteAt(f, l.transport.accessNumber));
            lit(out, ",\"status\":");
            appendNumber(out, byteAt(f, l.transport.status));
            lit(out, ",\"security_mode\":");
            appendNumber(out, configurationWord(f, l).securityMode());
        }
        out += '}';
    } else {
        lit(out, "null");
    }
    lit(out, ",\"compact_format\":");
    if (d.compactSignature >= 0) {
        out += '"';
        appendHexWord(out, static_cast<unsigned>(d.compactSignature));
        out += '"';
    } else {
        lit(out, "null");
    }
    out += '}';
}

} // namespace

void appendJsonString(std::string& out, std::string_view text)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    // Most cell texts are plain: taken whole.
    size_t plain = 0;
    while (plain < text.size()) {
        const auto b = static_cast<uint8_t>(text[plain]);
        if (b < 0x20 || b >= 0x7F || b == '"' || b == '\\')
            break;
        ++plain;
    }
    out.append(text.data(), plain);
    text.remove_prefix(plain);
    for (char c : text) {
        const auto b = static_cast<uint8_t>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20 || b == 0x7F) {
            lit(out, "\\u00");
            out += hex[b >> 4];
            out += hex[b & 0x0F];
        } else if (b >= 0x80) {
            out += static_cast<char>(0xC0 | b >> 6);
            out += static_cast<char>(0x80 | (b & 0x3F));
        } else {
            out += c;
        }
    }
    out += '"';
}

std::string jsonString(const std::string& text)
{
    std::string out;
    appendJsonString(out, text);
    return out;
}

void appendJsonValue(std::string& out, std::string_view text, char decimalSeparator)
{
    if (text.empty()) {
        lit(out, "null");
        return;
    }
    // A JSON number: an optional minus, digits without a leading zero, an optional fraction.
    size_t i = text[0] == '-' ? 1 : 0;
    const size_t firstDigit = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        ++i;
    const size_t digits = i - firstDigit;
    bool ok = digits > 0 && (digits == 1 || text[firstDigit] != '0');
    size_t separator = std::string_view::npos;
    if (ok && i < text.size() && text[i] == decimalSeparator) {
        separator = i;
        const size_t from = ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        ok = i > from;
    }
    if (!ok || i != text.size()) {
        appendJsonString(out, text);
        return;
    }
    const size_t at = out.size();
    out.append(text);
    if (separator != std::string_view::npos)
        out[at + separator] = '.';
}

std::string jsonValue(const std::string& text, char decimalSeparator)
{
    std::string out;
    appendJsonValue(out, text, decimalSeparator);
    return out;
}

void appendTelegramJson(std::string& out, const MeterTable& table, int row, const TelegramProcessor& processor,
                        const ReceiverFrame& f, char separator)
{
    const TelegramDescription& d = processor.lastDescription();
    thread_local std::string value;
    out.reserve(out.size() + 640 + 192 * static_cast<size_t>(d.recordCount()));
    lit(out, "{\"meter_id\":");
    appendJsonString(out, table.cell(row, col::MeterId));
    lit(out, ",\"manufacturer\":");
    appendJsonString(out, table.cell(row, col::Mfr));
    lit(out, ",\"medium\":");
    appendJsonString(out, table.cell(row, col::Medium));
    // This telegram's reading: the row keeps an earlier one when the telegram gave none.
    lit(out, ",\"main_value\":");
    appendJsonValue(out, processor.lastMainValue(), separator);
    lit(out, ",\"unit\":");
    if (processor.lastMainUnit().empty())
        lit(out, "null");
    else
        appendJsonString(out, processor.lastMainUnit());
    lit(out, ",\"decrypted\":");
    appendBool(out, table.flag(RowFlag::Decrypted, row));
    lit(out, ",\"content\":");
    appendJsonString(out, contentName(d.content));
    lit(out, ",\"layers\":");
    appendLayers(out, d, f);
    // The meter format's readings follow the records; they are listed apart.
    const int formatRow = d.formatFirstRecord;
    const int recordRows = formatRow >= 0 ? formatRow : d.recordCount();
    lit(out, ",\"meter_format\":");
    if (d.formatName.empty())
        lit(out, "null");
    else
        appendJsonString(out, d.formatName);
    lit(out, ",\"format_readings\":[");
    for (int r = std::max(formatRow, 0); formatRow >= 0 && r < d.recordCount(); ++r) {
        if (r > formatRow)
            out += ',';
        out += '{';
        lit(out, "\"unit\":");
        appendJsonString(out, d.record(r).unit());
        lit(out, ",\"value\":");
        renderRecordValue(d, r, separator, value);
        appendJsonValue(out, value, separator);
        lit(out, ",\"main\":");
        appendBool(out, r == d.mainRecord);
        out += '}';
    }
    lit(out, "],\"records\":[");
    for (int r = 0; r < recordRows; ++r) {
        const RecordDescription& record = d.record(r);
        if (r)
            out += ',';
        out += '{';
        lit(out, "\"storage\":");
        appendNumber(out, record.place.storage);
        lit(out, ",\"tariff\":");
        appendNumber(out, record.place.tariff);
        lit(out, ",\"subunit\":");
        appendNumber(out, record.place.subunit);
        lit(out, ",\"function\":");
        appendNumber(out, record.place.function);
        lit(out, ",\"unit\":");
        appendJsonString(out, record.unit());
        lit(out, ",\"value\":");
        renderRecordValue(d, r, separator, value);
        appendJsonValue(out, value, separator);
        lit(out, ",\"description\":");
        appendJsonString(out, record.description());
        out += '}';
    }
    lit(out, "]}");
}

std::string telegramJson(const MeterTable& table, int row, const TelegramProcessor& processor,
                         const ReceiverFrame& f, char decimalSeparator)
{
    std::string out;
    appendTelegramJson(out, table, row, processor, f, decimalSeparator);
    return out;
}

} // namespace palvero
