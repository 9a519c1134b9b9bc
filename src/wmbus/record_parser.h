#pragma once

#include "decode_options.h"
#include "receiver_frame.h"
#include "telegram_layers.h"

#include <array>
#include <string>
#include <vector>

namespace palvero {

class CompactFormats;

// Where a record belongs: storage number, tariff, subunit (from the DIF and DIFEs) and
// the DIF's function field (0 instantaneous, 1 maximum, 2 minimum, 3 during error).
struct RecordPlace {
    int64_t storage = 0;
    int tariff = 0;
    int subunit = 0;
    int function = 0;
};

// The data records of the last telegram: one row per record and one empty row after the
// last, seven text columns. Rows keep their text buffers between telegrams, so decoding
// a telegram allocates little.
class DecodedRecords {
public:
    static constexpr int kColumns = 7;
    enum Column { Number = 0, Value, Unit, Description, DifBytes, Vif, VifeBytes };
    using Row = std::array<std::string, kColumns>;

    // Rows including the trailing empty row.
    int rowCount() const { return m_count + 1; }
    int recordCount() const { return m_count; }
    const std::string& cell(int row, int column) const;
    const Row& row(int r) const;
    // Storage, tariff and subunit of a record row (all 0 for the trailing empty row).
    const RecordPlace& place(int row) const;

    void clear() { m_count = 0; ensure(0); clearRow(0); }
    // Makes the trailing empty row a record row and adds a new empty row; gives the record row.
    Row& addRow();

    // The frame cut after its last telegram data byte, as the last walk read it: a record
    // that runs into the RSSI, CRC or stop bytes runs out of data instead. Kept here so
    // that its buffer serves every telegram.
    ReceiverFrame telegramData;
    // The DIF/VIF bytes of every record, in order, and whether the walk read whole records
    // through the end of the data and nothing else (fill bytes aside): the format a
    // compact frame may name by its signature.
    std::vector<uint8_t> formatHeaders;
    bool formatComplete = false;
    // The signature of the compact frame the records were rebuilt from, -1 for a full frame.
    int compactSignature = -1;

    RecordPlace& placeOf(int row) { return m_places[static_cast<size_t>(row)]; }

private:
    void ensure(int rows);
    void clearRow(int r);
    std::vector<Row> m_rows = std::vector<Row>(1);
    std::vector<RecordPlace> m_places = std::vector<RecordPlace>(1);
    int m_count = 0;
};

// Offset of the first data record: where the application data start after the transport
// header (also after an extended link layer's inner header).
int firstRecordOffset(const ReceiverFrame& f);
// True when the telegram's application layer is a private format that is not decoded.
bool skipsRecordDecoding(const ReceiverFrame& f, const DecodeOptions& s);
bool skipsRecordDecoding(const ReceiverFrame& f, const TelegramLayers& layers, const DecodeOptions& s);

// CI fields 0xA0 to 0xB7 carry an application layer that the manufacturer defines.
inline bool isManufacturerCi(uint8_t ciField) { return ciField >= 0xA0 && ciField <= 0xB7; }

// What a telegram's application data can give the meter's row: records, or nothing,
// because they are still encrypted (the header says so and they do not begin with 0x2F
// after any decryption; an extended link layer whose payload CRC does not match), because
// the manufacturer defines their layout, because they are one fragment of a longer
// message, or because a compact frame's format is unknown or its data check fails. Only
// records may change the row's values: anything else would show numbers the meter never
// sent.
enum class ApplicationData { Records, Encrypted, ManufacturerDefined, Fragment, UnknownFormat, FormatMismatch };
ApplicationData applicationData(const ReceiverFrame& f, const DecodeOptions& s);
ApplicationData applicationData(const ReceiverFrame& f, const TelegramLayers& layers);

// Walks the data records of a (decrypted) frame into `records`. Records are read up to
// the last telegram data byte; no byte outside the frame is ever read.
void decodeTelegram(const ReceiverFrame& f, const DecodeOptions& s, char decimalSeparator,
                    DecodedRecords& records);
// The same with the layers read; a compact frame is rebuilt into full records with its
// format from `formats` first. Gives Records, or why a compact frame gave none.
ApplicationData decodeTelegram(const ReceiverFrame& f, const TelegramLayers& layers, const DecodeOptions& s,
                               char decimalSeparator, DecodedRecords& records, const CompactFormats* formats);

// Offset of a compact frame's format signature: the payload, after the two 0x2F bytes
// that begin an encrypted payload.
int compactSignatureOffset(const ReceiverFrame& f, const TelegramLayers& layers);

// Row of the first record whose unit text is exactly `mainUnit`; -1 when none is.
int pickMainRow(const DecodedRecords& records, const std::string& mainUnit);
// Row of the first current record (storage 0, tariff 0, instantaneous) whose unit text is
// exactly `mainUnit`; -1 when none is.
int pickCurrentMainRow(const DecodedRecords& records, const std::string& mainUnit);
// When no record has the main unit: for a kWh device the first current (storage 0,
// tariff 0, instantaneous) record of energy in another unit (Wh, MWh, J, kJ, MJ, GJ); for
// a device type without a main unit ("N/A"), when `withoutMainUnit` allows it, the first
// current volume record, else the first current energy record. -1 when none is; its own
// unit is the row's unit.
int pickFallbackMainRow(const DecodedRecords& records, const std::string& mainUnit, bool withoutMainUnit = true);
// Texts of additional-value slots 1..count, each at most 32 characters; the main row is
// skipped, a slot past the last record takes the trailing empty row.
std::vector<std::string> pickAdditionalValues(const DecodedRecords& records, int mainRow, int count,
                                              bool removeUnit);

// Lines of the full-decode listing for one telegram: heading, one line per record, an empty line.
std::vector<std::string> fullDecodeLines(const DecodedRecords& records, const std::string& meterId);
// The listing of a telegram whose application data give no records: the heading, a line
// that says why (with the security mode, or the manufacturer's bytes in hex), an empty line.
std::vector<std::string> undecodedListingLines(ApplicationData what, const ReceiverFrame& f,
                                               const DecodeOptions& s, const std::string& meterId);
std::vector<std::string> undecodedListingLines(ApplicationData what, const ReceiverFrame& f,
                                               const TelegramLayers& layers, const std::string& meterId);

} // namespace palvero
