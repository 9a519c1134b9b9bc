#include "telegram_description.h"

#include "crc16.h"
#include "device_types.h"
#include "main_value_pick.h"

#include <algorithm>
#include <charconv>

namespace palvero {

namespace {

constexpr uint8_t kFillByte = 0x2F;
const char kHex[] = "0123456789ABCDEF";

// Appends bytes from..to (inclusive) as hex, every byte followed by a space.
void appendSpaced(std::string& out, const ReceiverFrame& f, int from, int to)
{
    if (to < from)
        return;
    const size_t at = out.size();
    out.resize(at + 3 * static_cast<size_t>(to - from + 1));
    char* p = &out[at];
    for (int i = from; i <= to; ++i) {
        const uint8_t b = f[static_cast<size_t>(i)];
        *p++ = kHex[b >> 4];
        *p++ = kHex[b & 0x0F];
        *p++ = ' ';
    }
}

void appendNumber(std::string& out, int64_t number)
{
    char buf[24];
    const auto end = std::to_chars(buf, buf + sizeof buf, number).ptr;
    out.append(buf, end);
}

// Position after a byte chain that continues while the byte before has bit 7 set,
// starting with the byte at `at`; chain bytes are only taken up to `end`.
int chainEnd(const ReceiverFrame& f, int at, int end)
{
    int next = at + 1;
    while (next <= end && (f[static_cast<size_t>(next - 1)] & 0x80))
        ++next;
    return next;
}

// Storage, tariff, subunit and function of the record whose DIF is at `p` and whose
// VIF is at `v`.
RecordPlace recordPlace(const ReceiverFrame& f, int p, int v)
{
    RecordPlace place;
    const uint8_t dif = f[static_cast<size_t>(p)];
    place.storage = (dif >> 6) & 0x01;
    place.function = (dif >> 4) & 0x03;
    int i = 0;
    for (int at = p + 1; at < v && i < 10; ++at, ++i) {
        const uint8_t dife = f[static_cast<size_t>(at)];
        place.storage |= static_cast<int64_t>(dife & 0x0F) << (1 + 4 * i);
        place.tariff |= ((dife >> 4) & 0x03) << (2 * i);
        place.subunit |= ((dife >> 6) & 0x01) << i;
    }
    return place;
}

// The record walk over the description's data (the telegram data, cut after its last byte)
// from offset `p`.
void walkRecords(TelegramDescription& d, int p, bool wideIntegers)
{
    const ReceiverFrame& f = d.data;
    const int end = static_cast<int>(f.size()) - 1;
    d.formatHeaders.clear();
    d.formatComplete = false;
    bool whole = true;
    while (p <= end) {
        const uint8_t dif = f[static_cast<size_t>(p)];
        if (dif == kFillByte) {
            ++p;
            continue;
        }
        if ((dif & 0x0F) == 0x0F) {
            RecordDescription& r = d.addRecord();
            r.kind = RecordDescription::Kind::ManufacturerBlock;
            r.meaning = VifMeaning{};
            r.dif = p;
            r.difByte = dif;
            r.data = p + 1;
            r.end = end + 1;
            return;
        }
        const int v = chainEnd(f, p, end);
        if (v > end)
            return;
        int data = chainEnd(f, v, end);
        if (data > end)
            return;
        const uint8_t vif = f[static_cast<size_t>(v)];
        RecordDescription& r = d.addRecord();
        describeVif(f, v, data, r.meaning, r.ownUnit);
        for (int i = p; i < data; ++i)
            d.formatHeaders.push_back(f[static_cast<size_t>(i)]);
        const int textLength = plainTextUnitLengthOffset(vif, v, data);
        if (textLength >= 0) {
            data += 1 + byteAt(f, textLength);
            whole = false; // a unit text is no part of a compact format
        }
        const FieldExtent field = dataFieldExtent(f, data, dif, vif);
        r.kind = RecordDescription::Kind::Record;
        r.dif = p;
        r.vif = v;
        r.difByte = dif;
        r.vifByte = vif;
        r.overrun = field.overrun;
        // A 64-bit integer as the number it is (current meters send their energy so).
        r.wide = wideIntegers && (dif & 0x0F) == 0x07 && !field.overrun && vif != 0x78;
        r.place = recordPlace(f, p, v);
        if (field.overrun) {
            // Nothing of the field is read: its offsets stop at the end of the data.
            r.data = std::min(data, end + 1);
            r.end = end + 1;
            return;
        }
        // A variable-length DIF under a date VIF keeps the DIF's length, which may reach past
        // the data; the date itself lies inside, and the walk ends there.
        r.data = data;
        p = data + field.length;
        r.end = std::min(p, end + 1);
    }
    d.formatComplete = whole && p == end + 1 && d.recordCount() > 0;
}

void markCutHeaders(TelegramDescription& d)
{
    const TelegramLayers& l = d.layers;
    const int after = l.dataEnd + 1;
    d.headersCut = l.transport.payload > after || (l.link.present() && l.link.end > after)
        || (l.auth.present() && l.auth.end > after);
}

struct DescriptionRecords {
    const TelegramDescription& d;
};
std::string_view unitOf(const DescriptionRecords& r, int i) { return r.d.record(i).unit(); }
const RecordPlace& placeOf(const DescriptionRecords& r, int i) { return r.d.record(i).place; }

// Appends the readings of the meter format that matches; gives the main one's record or -1.
int readByMeterFormat(const ReceiverFrame& f, const MeterFormats* formats, TelegramDescription& d)
{
    if (!formats || formats->empty())
        return -1;
    const FormatTelegram telegram = formatTelegramOf(f, d.layers);
    const MeterFormat* format = formats->find(telegram);
    if (!format)
        return -1;
    // Records that carry the quantity read it: which of them is the main value is theirs to
    // say (a device type without a main unit shows none), not the format's.
    const FormatReading* main = format->mainReading();
    for (int r = 0; r < d.recordCount(); ++r)
        if (d.record(r).unit() == main->unit)
            return -1;
    d.formatName.assign(format->name);
    d.formatFirstRecord = d.recordCount();
    int mainRecord = -1;
    for (const FormatReading& reading : format->readings) {
        const auto raw = readFieldValue(reading.field, telegram.data, telegram.size);
        if (!raw)
            continue;
        RecordDescription& r = d.addRecord();
        r.kind = RecordDescription::Kind::FormatReading;
        r.dif = r.vif = r.data = r.end = -1;
        r.place = {};
        r.raw = *raw;
        r.scale = reading.field.scale;
        r.ownUnit.assign(reading.unit);
        r.ownDescription.assign("Meter format ").append(format->name);
        r.meaning = VifMeaning{};
        r.meaning.exponent = r.scale;
        if (&reading == main)
            mainRecord = d.recordCount() - 1;
    }
    return mainRecord;
}

} // namespace

std::string_view RecordDescription::unit() const
{
    switch (kind) {
    case Kind::Record:
        return meaning.ownUnit ? std::string_view(ownUnit) : meaning.unit;
    case Kind::ManufacturerBlock:
        return {};
    case Kind::FormatReading:
        return ownUnit;
    }
    return {};
}

std::string_view RecordDescription::description() const
{
    switch (kind) {
    case Kind::Record:
        return meaning.description;
    case Kind::ManufacturerBlock:
        return "Manf. secific";
    case Kind::FormatReading:
        return ownDescription;
    }
    return {};
}

RecordDescription& TelegramDescription::addRecord()
{
    if (static_cast<size_t>(m_count) == records.size())
        records.emplace_back();
    RecordDescription& r = records[static_cast<size_t>(m_count++)];
    // The walk and the format readings set the rest.
    r.overrun = false;
    r.wide = false;
    r.place = {};
    return r;
}

void TelegramDescription::meterIdTo(std::string& out) const
{
    out.resize(8);
    for (int i = 0; i < 8; ++i)
        out[static_cast<size_t>(i)] = kHex[(identification >> (28 - 4 * i)) & 0x0F];
}

std::string TelegramDescription::meterId() const
{
    std::string id;
    meterIdTo(id);
    return id;
}

void readTelegramHeader(const ReceiverFrame& f, const DecodeOptions& options, TelegramDescription& d)
{
    d.lengthField = byteAt(f, 1);
    d.cField = byteAt(f, frame::kC);
    d.manufacturer = static_cast<uint16_t>(byteAt(f, frame::kManufacturer) | byteAt(f, frame::kManufacturer + 1) << 8);
    d.identification = static_cast<uint32_t>(byteAt(f, frame::kId)) | static_cast<uint32_t>(byteAt(f, frame::kId + 1)) << 8
        | static_cast<uint32_t>(byteAt(f, frame::kId + 2)) << 16 | static_cast<uint32_t>(byteAt(f, frame::kId + 3)) << 24;
    d.version = byteAt(f, frame::kVersion);
    d.linkDeviceType = byteAt(f, frame::kDeviceType);
    d.ci = byteAt(f, frame::kCi);
    d.layers = readTelegramLayers(f, options);
    markCutHeaders(d);
    const TransportLayout& t = d.layers.transport;
    if (t.communicationControl >= 0)
        d.repeated = (byteAt(f, t.communicationControl) & 0x10) != 0;
    else if (t.ci == ci::ShortHeader || t.ci == ci::LongHeader) // only these carry a configuration word here
        d.repeated = (byteAt(f, t.configuration) & 0x01) != 0;
    else
        d.repeated = false;
}

ApplicationData readRecords(const ReceiverFrame& f, const DecodeOptions& options, const CompactFormats* formats,
                            TelegramDescription& d)
{
    const TelegramLayers& layers = d.layers;
    d.clearRecords();
    d.formatHeaders.clear();
    d.formatComplete = false;
    d.compactSignature = -1;
    d.data.clear();
    if (skipsRecordDecoding(f, layers, options))
        return ApplicationData::Records;

    // Every data field, VIFE chain and text is read from the telegram data alone: the RSSI,
    // CRC and stop bytes behind them are no record's bytes.
    const int end = layers.dataEnd;
    const int p = layers.transport.payload;
    if (end < p)
        return ApplicationData::Records;
    ReceiverFrame& data = d.data;
    if (!layers.compact()) {
        data.assign(f.begin(), f.begin() + end + 1);
        walkRecords(d, p, layers.hasFurtherLayers());
        return ApplicationData::Records;
    }

    // A compact frame: its records rebuilt behind the headers from the format's DIF/VIF
    // bytes and its data fields, checked against the data check.
    const int at = compactSignatureOffset(f, layers);
    if (at + 3 > end)
        return ApplicationData::FormatMismatch;
    const uint16_t signature = static_cast<uint16_t>(f[static_cast<size_t>(at)] | f[static_cast<size_t>(at + 1)] << 8);
    const uint16_t check = static_cast<uint16_t>(f[static_cast<size_t>(at + 2)] | f[static_cast<size_t>(at + 3)] << 8);
    d.compactSignature = signature;
    const std::vector<uint8_t>* headers = formats ? formats->find(signature) : nullptr;
    if (!headers)
        return ApplicationData::UnknownFormat;
    std::vector<uint8_t>& rebuilt = d.formatHeaders; // its buffer serves as scratch here
    const size_t n = static_cast<size_t>(end - (at + 4) + 1);
    if (!rebuildCompactRecords(*headers, f.data() + at + 4, n, rebuilt)
        || crc16En13757(rebuilt.data(), rebuilt.size()) != check) {
        rebuilt.clear();
        return ApplicationData::FormatMismatch;
    }
    data.assign(f.begin(), f.begin() + p);
    data.insert(data.end(), rebuilt.begin(), rebuilt.end());
    rebuilt.clear();
    walkRecords(d, p, true);
    d.formatComplete = false; // a format is learned from full frames only
    return ApplicationData::Records;
}

void readApplication(const ReceiverFrame& f, const DecodeOptions& options, const CompactFormats* compactFormats,
                     const MeterFormats* meterFormats, TelegramDescription& d)
{
    // The layers behind a decrypted extended link layer were read anew.
    markCutHeaders(d);
    const TelegramLayers& layers = d.layers;
    const TransportLayout& t = layers.transport;
    d.status = t.status >= 0 ? byteAt(f, t.status) : 0;
    d.configuration = configurationWord(f, t);
    d.deviceType = byteAt(f, t.deviceTypeOffset());
    d.mainUnit = mainUnitText(d.deviceType);
    d.mainRecord = -1;
    d.mainInOwnUnit = false;
    d.formatName.clear();
    d.formatFirstRecord = -1;

    d.content = applicationData(f, layers);
    if (d.content == ApplicationData::Records) {
        d.content = readRecords(f, options, compactFormats, d);
    } else {
        d.clearRecords();
        d.formatHeaders.clear();
        d.formatComplete = false;
        d.compactSignature = -1;
        d.data.clear();
    }
    int main = -1;
    bool ownUnit = false;
    if (d.content == ApplicationData::Records) {
        // Behind the further layers a meter may send a billing-date value of the main
        // quantity before its current one: only a current value is the meter's total.
        const DescriptionRecords records{d};
        const bool further = layers.hasFurtherLayers();
        main = further ? pick::currentMainRow(records, d.recordCount(), d.mainUnit)
                       : pick::mainRow(records, d.recordCount(), d.mainUnit);
        // Another scale of the main quantity (or, without a main unit, the meter's volume
        // or energy) is shown in the record's own unit. A device type without a main unit
        // shows none in the telegram layouts the table has always read.
        ownUnit = main < 0;
        if (ownUnit)
            main = pick::fallbackMainRow(records, d.recordCount(), d.mainUnit, further);
    } else {
        // Nothing readable: no record, and so no number the meter never sent.
        d.clearRecords();
    }
    // A meter format reads what no standard record gives, never in place of one.
    if (main < 0 && meterFormatMayRead(d.content)) {
        main = readByMeterFormat(f, meterFormats, d);
        ownUnit = true;
    }
    d.mainRecord = main;
    d.mainInOwnUnit = ownUnit;
}

void describeTelegram(const ReceiverFrame& f, const DecodeOptions& options, const CompactFormats* compactFormats,
                      const MeterFormats* meterFormats, TelegramDescription& d)
{
    readTelegramHeader(f, options, d);
    readApplication(f, options, compactFormats, meterFormats, d);
}

FieldNumber recordNumber(const TelegramDescription& d, int record)
{
    FieldNumber n;
    if (record < 0 || record >= d.recordCount())
        return n;
    const RecordDescription& r = d.record(record);
    if (r.kind == RecordDescription::Kind::FormatReading) {
        n.kind = FieldNumber::Kind::Integer;
        n.integer = r.raw;
    } else if (r.kind == RecordDescription::Kind::Record && !r.overrun) {
        const FieldExtent extent{r.end - r.data, false};
        n = dataFieldNumber(d.data, r.data, r.difByte, r.vifByte, r.meaning.factor, r.wide, extent);
    }
    return n;
}

void renderRecordValue(const TelegramDescription& d, int record, char separator, std::string& out)
{
    out.clear();
    if (record < 0 || record >= d.recordCount())
        return;
    const RecordDescription& r = d.record(record);
    switch (r.kind) {
    case RecordDescription::Kind::ManufacturerBlock:
        appendSpaced(out, d.data, r.data, r.end - 1);
        return;
    case RecordDescription::Kind::FormatReading:
        renderScaledTo(out, r.raw, r.scale, 19, separator);
        return;
    case RecordDescription::Kind::Record:
        break;
    }
    if (r.overrun) {
        out.assign("Exception ");
        return;
    }
    // An integer or BCD number: written at the precision of its coding.
    static const int precision[16] = {0, 8, 8, 11, 13, 0, 15, 19, 0, 8, 8, 11, 13, 0, 15, 0};
    const FieldNumber number = recordNumber(d, record);
    if (number.kind == FieldNumber::Kind::Integer) {
        renderScaledTo(out, number.integer, r.meaning.exponent, precision[r.difByte & 0x0F], separator);
        return;
    }
    renderDataField(out, d.data, r.data, r.difByte, r.vifByte, r.meaning.exponent, r.meaning.factor, separator);
}

void renderAdditionalValue(const TelegramDescription& d, int record, char separator, bool removeUnit, std::string& out)
{
    renderRecordValue(d, record, separator, out);
    if (!removeUnit) {
        out += ' ';
        if (record >= 0 && record < d.recordCount())
            out.append(d.record(record).unit());
    }
    if (out.size() > 32)
        out.resize(32);
}

void fillDecodedRecords(const TelegramDescription& d, char separator, DecodedRecords& records)
{
    records.clear();
    records.compactSignature = d.compactSignature;
    records.formatHeaders = d.formatHeaders;
    records.formatComplete = d.formatComplete;
    records.telegramData = d.data;
    for (int i = 0; i < d.recordCount(); ++i) {
        const RecordDescription& r = d.record(i);
        auto& row = records.addRow();
        row[DecodedRecords::Number].clear();
        appendNumber(row[DecodedRecords::Number], i + 1);
        renderRecordValue(d, i, separator, row[DecodedRecords::Value]);
        row[DecodedRecords::Unit].assign(r.unit());
        row[DecodedRecords::Description].assign(r.description());
        records.placeOf(records.recordCount() - 1) = r.place;
        if (r.kind != RecordDescription::Kind::Record)
            continue;
        appendSpaced(row[DecodedRecords::DifBytes], d.data, r.dif, r.vif - 1);
        appendSpaced(row[DecodedRecords::Vif], d.data, r.vif, r.vif);
        row[DecodedRecords::Vif].pop_back();
        appendSpaced(row[DecodedRecords::VifeBytes], d.data, r.vif + 1, r.data - 1);
    }
}

void additionalValueRecords(int recordCount, int mainRecord, int count, std::vector<int>& slots)
{
    slots.assign(static_cast<size_t>(std::max(count, 0)), -2);
    // Rows are the records and one empty row after them; a slot past the last record
    // takes the empty row, and so do all slots after it.
    const int rows = recordCount + 1;
    int start = 0;
    for (int& slot : slots) {
        int r = start;
        while (r < rows && r == mainRecord)
            ++r;
        if (r >= rows)
            continue;
        slot = r < recordCount ? r : -1;
        start = r < recordCount ? r + 1 : r;
    }
}

void appendListingLines(const TelegramDescription& d, const ReceiverFrame& f, const std::string& meterId,
                        char separator, std::vector<std::string>& lines)
{
    lines.push_back("Decode of telegram for device " + meterId);
    const TelegramLayers& layers = d.layers;
    const int at = compactSignatureOffset(f, layers);
    const std::string signature = hexByte(byteAt(f, at + 1)) + hexByte(byteAt(f, at));
    switch (d.content) {
    case ApplicationData::Encrypted:
        if (!layers.readable && layers.link.encryption == 1)
            lines.push_back("Payload is encrypted (extended link layer, AES-128 counter mode) and was not decoded");
        else if (!layers.readable)
            lines.push_back("Payload CRC of the extended link layer does not match; not decoded");
        else
            lines.push_back("Payload is encrypted (security mode "
                            + std::to_string(configurationWord(f, layers).securityMode()) + ") and was not decoded");
        break;
    case ApplicationData::ManufacturerDefined: {
        const bool link = isManufacturerCi(byteAt(f, frame::kCi));
        const int ciAt = link ? frame::kCi : layers.applicationCiAt;
        std::string line = "Manufacturer data (CI " + hexByte(byteAt(f, ciAt)) + "), not decoded: ";
        appendSpaced(line, f, ciAt + 1, layers.dataEnd);
        lines.push_back(std::move(line));
        break;
    }
    case ApplicationData::Fragment:
        lines.push_back("Fragment of a longer message (authentication layer), not decoded");
        break;
    case ApplicationData::UnknownFormat:
        lines.push_back("Compact frame of unknown format " + signature + ", not decoded");
        break;
    case ApplicationData::FormatMismatch:
        lines.push_back("Compact frame whose data check fails for format " + signature + ", not decoded");
        break;
    case ApplicationData::Records:
        break;
    }
    // The meter format's readings follow the line that says why no record was read.
    std::string value;
    for (int r = 0; r < d.recordCount(); ++r) {
        renderRecordValue(d, r, separator, value);
        std::string line;
        appendNumber(line, r + 1);
        line.append(". ").append(value).append(" ").append(d.record(r).unit()).append(", ");
        line.append(d.record(r).description());
        lines.push_back(std::move(line));
    }
    lines.emplace_back();
}

std::string meterIdText(const ReceiverFrame& f)
{
    std::string id;
    for (int i = frame::kId + 3; i >= frame::kId; --i)
        id += hexByte(byteAt(f, i));
    return id;
}

std::string manufacturerText(uint8_t low, uint8_t high)
{
    const unsigned m = low | (static_cast<unsigned>(high) << 8);
    return {static_cast<char>(64 + ((m >> 10) & 0x1F)), static_cast<char>(64 + ((m >> 5) & 0x1F)),
            static_cast<char>(64 + (m & 0x1F))};
}

bool isKnownCi(uint8_t c)
{
    switch (c) {
    case 0x71:
    case 0x72:
    case 0x78:
    case 0x7A:
    case 0x8C:
    case 0x8D:
    case 0x8E:
    case 0x8F:
    case 0x90:
    case 0x73:
    case 0x79:
    case 0x7B:
    case 0xA0:
    case 0xA2:
        return true;
    default:
        return false;
    }
}

FormatTelegram formatTelegramOf(const ReceiverFrame& f, const TelegramLayers& layers)
{
    FormatTelegram t;
    t.manufacturer = static_cast<uint16_t>(byteAt(f, frame::kManufacturer) | byteAt(f, frame::kManufacturer + 1) << 8);
    t.version = byteAt(f, frame::kVersion);
    t.deviceType = byteAt(f, frame::kDeviceType);
    t.linkCi = byteAt(f, frame::kCi);
    t.applicationCi = layers.applicationCi;
    const int from = layers.transport.payload;
    const int to = std::min(layers.dataEnd, static_cast<int>(f.size()) - 1);
    if (from >= 0 && from <= to) {
        t.data = f.data() + from;
        t.size = static_cast<size_t>(to - from + 1);
    }
    return t;
}

TeachSample teachSampleOf(const ReceiverFrame& f, const TelegramLayers& layers)
{
    TeachSample s;
    s.header = formatTelegramOf(f, layers);
    s.data.assign(s.header.data, s.header.data + s.header.size);
    s.header.data = nullptr;
    s.header.size = 0;
    if (layers.compact()) {
        const int at = compactSignatureOffset(f, layers) - layers.transport.payload;
        if (at >= 0 && static_cast<size_t>(at) + 2 <= s.data.size())
            s.layout.push_back({at, {s.data[static_cast<size_t>(at)], s.data[static_cast<size_t>(at) + 1]}});
    }
    return s;
}

bool meterFormatMayRead(ApplicationData content)
{
    return content != ApplicationData::Encrypted && content != ApplicationData::Fragment;
}

} // namespace palvero
