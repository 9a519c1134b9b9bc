#include "telegram_json.h"

#include "receiver_frame.h"
#include "telegram_description.h"

#include <algorithm>
#include <charconv>
#include <cstring>

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

// Writes into the spare room of a string, which grows in large steps: a telegram's line is
// a few hundred small pieces, and each would otherwise be an append of its own.
class Writer {
public:
    explicit Writer(std::string& out)
        : m_out(out)
        , m_used(out.size())
    {
    }
    ~Writer() { m_out.resize(m_used); }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    char* room(size_t n)
    {
        if (m_out.size() - m_used < n)
            m_out.resize(m_used + std::max<size_t>(n, 4096));
        return &m_out[m_used];
    }
    void wrote(char* end) { m_used = static_cast<size_t>(end - m_out.data()); }

    template <size_t N>
    void lit(const char (&text)[N])
    {
        char* p = room(N - 1);
        std::memcpy(p, text, N - 1);
        wrote(p + N - 1);
    }
    void put(char c)
    {
        char* p = room(1);
        *p = c;
        wrote(p + 1);
    }
    void bytes(std::string_view text)
    {
        char* p = room(text.size());
        std::memcpy(p, text.data(), text.size());
        wrote(p + text.size());
    }
    void number(int64_t value)
    {
        char* p = room(24);
        wrote(std::to_chars(p, p + 24, value).ptr);
    }
    void boolean(bool b)
    {
        if (b)
            lit("true");
        else
            lit("false");
    }
    void hexByte(uint8_t b)
    {
        static const char hex[] = "0123456789ABCDEF";
        char* p = room(2);
        p[0] = hex[b >> 4];
        p[1] = hex[b & 0x0F];
        wrote(p + 2);
    }
    void hexWord(unsigned value)
    {
        hexByte(static_cast<uint8_t>(value >> 8));
        hexByte(static_cast<uint8_t>(value));
    }

    void string(std::string_view text)
    {
        static const char hex[] = "0123456789abcdef";
        char* p = room(text.size() * 6 + 2);
        *p++ = '"';
        for (char c : text) {
            const auto b = static_cast<uint8_t>(c);
            if (c == '"' || c == '\\') {
                *p++ = '\\';
                *p++ = c;
            } else if (b < 0x20 || b == 0x7F) {
                std::memcpy(p, "\\u00", 4);
                p += 4;
                *p++ = hex[b >> 4];
                *p++ = hex[b & 0x0F];
            } else if (b >= 0x80) {
                *p++ = static_cast<char>(0xC0 | b >> 6);
                *p++ = static_cast<char>(0x80 | (b & 0x3F));
            } else {
                *p++ = c;
            }
        }
        *p++ = '"';
        wrote(p);
    }

    // A value text as a JSON number when it is a plain decimal number, else as a string.
    void value(std::string_view text, char decimalSeparator)
    {
        if (text.empty()) {
            lit("null");
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
            string(text);
            return;
        }
        char* p = room(text.size());
        std::memcpy(p, text.data(), text.size());
        if (separator != std::string_view::npos)
            p[separator] = '.';
        wrote(p + text.size());
    }

private:
    std::string& m_out;
    size_t m_used;
};

uint32_t lsbFirst(const ReceiverFrame& f, int at, int n)
{
    uint32_t value = 0;
    for (int i = n - 1; i >= 0; --i)
        value = value << 8 | byteAt(f, at + i);
    return value;
}

void writeLayers(Writer& w, const TelegramDescription& d, const ReceiverFrame& f)
{
    const TelegramLayers& l = d.layers;
    w.lit("{\"ell\":");
    if (l.link.present()) {
        w.lit("{\"ci\":\"");
        w.hexByte(l.link.ci);
        w.lit("\",\"cc\":\"");
        w.hexByte(byteAt(f, l.link.communicationControl));
        w.lit("\",\"access_number\":");
        w.number(byteAt(f, l.link.accessNumber));
        if (l.link.sessionNumber >= 0) {
            w.lit(",\"session_number\":");
            w.number(lsbFirst(f, l.link.sessionNumber, 4));
            w.lit(",\"encryption\":");
            if (l.link.encryption == 0)
                w.lit("\"none\"");
            else if (l.link.encryption == 1)
                w.lit("\"AES-128-CTR\"");
            else {
                w.put('"');
                w.number(l.link.encryption);
                w.put('"');
            }
            w.lit(",\"payload_crc_ok\":");
            w.boolean(l.readable);
        }
        w.put('}');
    } else {
        w.lit("null");
    }
    w.lit(",\"afl\":");
    if (l.auth.present()) {
        w.lit("{\"fcl\":\"");
        w.hexWord(l.auth.control);
        w.put('"');
        if (l.auth.messageCounter >= 0) {
            w.lit(",\"message_counter\":");
            w.number(lsbFirst(f, l.auth.messageCounter, 4));
        }
        w.lit(",\"mac_length\":");
        w.number(l.auth.macLength);
        w.lit(",\"fragmented\":");
        w.boolean(l.auth.fragmented());
        w.put('}');
    } else {
        w.lit("null");
    }
    w.lit(",\"tpl\":");
    if (l.readable) {
        w.lit("{\"ci\":\"");
        w.hexByte(l.applicationCi);
        w.put('"');
        if (l.transport.configuration >= 0) {
            w.lit(",\"access_number\":");
            w.number(byteAt(f, l.transport.accessNumber));
            w.lit(",\"status\":");
            w.number(byteAt(f, l.transport.status));
            w.lit(",\"security_mode\":");
            w.number(configurationWord(f, l).securityMode());
        }
        w.put('}');
    } else {
        w.lit("null");
    }
    w.lit(",\"compact_format\":");
    if (d.compactSignature >= 0) {
        w.put('"');
        w.hexWord(static_cast<unsigned>(d.compactSignature));
        w.put('"');
    } else {
        w.lit("null");
    }
    w.put('}');
}

} // namespace

void appendJsonString(std::string& out, std::string_view text)
{
    Writer(out).string(text);
}

std::string jsonString(const std::string& text)
{
    std::string out;
    appendJsonString(out, text);
    return out;
}

void appendJsonValue(std::string& out, std::string_view text, char decimalSeparator)
{
    Writer(out).value(text, decimalSeparator);
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
    Writer w(out);
    w.lit("{\"meter_id\":");
    w.string(table.cell(row, col::MeterId));
    w.lit(",\"manufacturer\":");
    w.string(table.cell(row, col::Mfr));
    w.lit(",\"medium\":");
    w.string(table.cell(row, col::Medium));
    // This telegram's reading: the row keeps an earlier one when the telegram gave none.
    w.lit(",\"main_value\":");
    w.value(processor.lastMainValue(), separator);
    w.lit(",\"unit\":");
    if (processor.lastMainUnit().empty())
        w.lit("null");
    else
        w.string(processor.lastMainUnit());
    w.lit(",\"decrypted\":");
    w.boolean(table.flag(RowFlag::Decrypted, row));
    w.lit(",\"content\":");
    w.string(contentName(d.content));
    w.lit(",\"layers\":");
    writeLayers(w, d, f);
    // The meter format's readings follow the records; they are listed apart.
    const int formatRow = d.formatFirstRecord;
    const int recordRows = formatRow >= 0 ? formatRow : d.recordCount();
    w.lit(",\"meter_format\":");
    if (d.formatName.empty())
        w.lit("null");
    else
        w.string(d.formatName);
    w.lit(",\"format_readings\":[");
    for (int r = std::max(formatRow, 0); formatRow >= 0 && r < d.recordCount(); ++r) {
        if (r > formatRow)
            w.put(',');
        w.lit("{\"unit\":");
        w.string(d.record(r).unit());
        w.lit(",\"value\":");
        renderRecordValue(d, r, separator, value);
        w.value(value, separator);
        w.lit(",\"main\":");
        w.boolean(r == d.mainRecord);
        w.put('}');
    }
    w.lit("],\"records\":[");
    for (int r = 0; r < recordRows; ++r) {
        const RecordDescription& record = d.record(r);
        if (r)
            w.put(',');
        w.lit("{\"storage\":");
        w.number(record.place.storage);
        w.lit(",\"tariff\":");
        w.number(record.place.tariff);
        w.lit(",\"subunit\":");
        w.number(record.place.subunit);
        w.lit(",\"function\":");
        w.number(record.place.function);
        w.lit(",\"unit\":");
        w.string(record.unit());
        w.lit(",\"value\":");
        renderRecordValue(d, r, separator, value);
        w.value(value, separator);
        w.lit(",\"description\":");
        w.string(record.description());
        w.put('}');
    }
    w.lit("]}");
}

std::string telegramJson(const MeterTable& table, int row, const TelegramProcessor& processor,
                         const ReceiverFrame& f, char decimalSeparator)
{
    std::string out;
    appendTelegramJson(out, table, row, processor, f, decimalSeparator);
    return out;
}

} // namespace palvero
