#pragma once

#include "compact_formats.h"
#include "decode_options.h"
#include "meter_format.h"
#include "meter_format_search.h"
#include "receiver_frame.h"
#include "record_parser.h"
#include "telegram_layers.h"
#include "transport_layer.h"
#include "value_format.h"
#include "vif_tables.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace palvero {

// One data record as read: where its bytes lie, what its VIF means and the number it
// holds. No text is made while a telegram is read; value texts are rendered from the
// bytes when a cell, a listing or a report wants them.
struct RecordDescription {
    enum class Kind : uint8_t {
        Record,            // DIF, DIFEs, VIF, VIFEs and a data field
        ManufacturerBlock, // a DIF of low nibble F: every byte after it, shown in hex
        FormatReading,     // a reading of a meter format, at a place no record names
    };
    Kind kind = Kind::Record;
    // Offsets in the description's `data`: the DIF, the VIF, the data field and the first
    // byte after the record. A manufacturer block runs from `data` through the data end.
    int dif = -1;
    int vif = -1;
    int data = -1;
    int end = -1;
    uint8_t difByte = 0;
    uint8_t vifByte = 0;
    bool overrun = false;   // the data field would run past the data: the walk ends here
    bool wide = false;      // a 64-bit integer is shown as the number it is
    RecordPlace place;
    VifMeaning meaning;     // unit, description and scale
    std::string ownUnit;    // the unit when meaning.ownUnit: made from the record's bytes
    std::string ownDescription; // a format reading's description
    int64_t raw = 0;        // a format reading's value before its scale (10^scale, also meaning.exponent)
    int scale = 0;

    std::string_view unit() const;
    std::string_view description() const;
};

// A telegram as the library reads it, in one pass per layer: the meter's identity, the
// header fields, the layers with their offsets, what the application data are, the
// records with their numbers, units and places, and the candidate for the meter's main
// value. Its buffers are kept from one telegram to the next, so that reading a telegram
// of a meter heard before allocates nothing.
struct TelegramDescription {
    // The link layer.
    uint8_t lengthField = 0;
    uint8_t cField = 0;
    uint16_t manufacturer = 0;
    uint32_t identification = 0; // the A field's number, its BCD digits as hex digits
    uint8_t version = 0;
    uint8_t linkDeviceType = 0;
    uint8_t ci = 0;

    // Every layer's offsets in the frame, and the transport header's fields (read once the
    // payload is readable; 0 where the telegram has none).
    TelegramLayers layers;
    // The frame ends before its headers do: a header's fields may then lie where the frame
    // would go on, and read as 0. Otherwise every field lies inside the frame.
    bool headersCut = false;
    bool repeated = false;
    uint8_t status = 0;
    ConfigurationWord configuration;
    uint8_t deviceType = 0;      // the meter's own: the long header's where there is one
    const char* mainUnit = "N/A"; // the unit of the main value for that device type

    // The application data.
    ApplicationData content = ApplicationData::Records;
    // The bytes the records were read from: the frame through its last telegram data byte,
    // or a compact frame's headers followed by the full records rebuilt from its format.
    ReceiverFrame data;
    std::vector<RecordDescription> records; // the first recordCount() are this telegram's
    int compactSignature = -1;               // the compact frame's format, -1 for a full frame
    // The DIF/VIF bytes of every record, in order, and whether the walk read whole records
    // through the end of the data and nothing else: the format a compact frame may name.
    std::vector<uint8_t> formatHeaders;
    bool formatComplete = false;

    // The main value: the record whose value the row shows, -1 when none gives it, and
    // whether the record's own unit is shown (another scale, or a format's reading).
    int mainRecord = -1;
    bool mainInOwnUnit = false;
    // The meter format that read the telegram (empty when none did), and its first reading.
    std::string formatName;
    int formatFirstRecord = -1;

    int recordCount() const { return m_count; }
    const RecordDescription& record(int r) const { return records[static_cast<size_t>(r)]; }
    // The meter ID text: the identification's eight hex digits.
    void meterIdTo(std::string& out) const;
    std::string meterId() const;

    // Reading.
    void clearRecords() { m_count = 0; }
    RecordDescription& addRecord();

private:
    int m_count = 0;
};

// The link layer and the layers of `f` (pass one): identity, layers, the repeated flag.
// The transport header behind an encrypted extended link layer is read by readApplication
// once the payload is readable.
void readTelegramHeader(const ReceiverFrame& f, const DecodeOptions& options, TelegramDescription& d);

// The header fields and the application data of a (decrypted) frame whose layers were
// read (pass two): status, configuration, device type, what the data are, the records
// (a compact frame rebuilt with its format from `compactFormats` first) and the main value's
// candidate; a meter format from `meterFormats` reads what no standard record gives.
void readApplication(const ReceiverFrame& f, const DecodeOptions& options, const CompactFormats* compactFormats,
                     const MeterFormats* meterFormats, TelegramDescription& d);

// The records alone of a (decrypted) frame whose layers are in `d`: what readApplication
// does after the header fields, without the main value's candidate. Gives Records, or why
// a compact frame gave none.
ApplicationData readRecords(const ReceiverFrame& f, const DecodeOptions& options, const CompactFormats* compactFormats,
                            TelegramDescription& d);

// Both passes with no decryption in between: a frame that is plain, or decrypted already.
void describeTelegram(const ReceiverFrame& f, const DecodeOptions& options, const CompactFormats* compactFormats,
                      const MeterFormats* meterFormats, TelegramDescription& d);

// The number a record holds, taken from its bytes when asked: an integer times
// 10^meaning.exponent, or a real with its scale applied. Dates, fabrication numbers, texts,
// manufacturer blocks and fields that run past the data hold none.
FieldNumber recordNumber(const TelegramDescription& d, int record);

// The value text of a record, as the table and the listing show it.
void renderRecordValue(const TelegramDescription& d, int record, char decimalSeparator, std::string& out);
// Slot text of an additional value: the value and, unless `removeUnit`, a space and the
// unit; at most 32 characters.
void renderAdditionalValue(const TelegramDescription& d, int record, char decimalSeparator, bool removeUnit,
                           std::string& out);

// The records as the decoded-records grid shows them: seven text columns a record.
void fillDecodedRecords(const TelegramDescription& d, char decimalSeparator, DecodedRecords& records);

// The records that fill additional-value slots 1..count: the record of each slot, or -1
// for the trailing empty row (a slot past the last record), or -2 for no row at all. The
// main record is skipped.
void additionalValueRecords(int recordCount, int mainRecord, int count, std::vector<int>& slots);

// The full-decode listing of a telegram: its heading, one line per record (or, for data
// that give none, a line that says why, then the meter format's readings), an empty line.
void appendListingLines(const TelegramDescription& d, const ReceiverFrame& f, const std::string& meterId,
                        char decimalSeparator, std::vector<std::string>& lines);

// The telegram as a meter format sees it: the link layer's fields and the application
// data from the first byte after the transport header to the last telegram data byte.
FormatTelegram formatTelegramOf(const ReceiverFrame& f, const TelegramLayers& layers);
// The telegram as the search for its format takes it, with a copy of its application data
// and, for a compact frame, its format signature as the bytes that name its layout.
TeachSample teachSampleOf(const ReceiverFrame& f, const TelegramLayers& layers);
// Whether a meter format may read application data of this kind: not while they are
// encrypted, nor from one fragment of a longer message.
bool meterFormatMayRead(ApplicationData content);

// Meter ID: bytes 8, 7, 6, 5 in hex ("12345678" for 78 56 34 12).
std::string meterIdText(const ReceiverFrame& f);
// Manufacturer letters from the M field at offsets 3 and 4 ("KAM" for 2D 2C).
std::string manufacturerText(uint8_t low, uint8_t high);
// True for the CI values the reader knows.
bool isKnownCi(uint8_t ciField);

} // namespace palvero
