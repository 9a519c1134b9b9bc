#pragma once

#include "reading_settings.h"
#include "receiver_frame.h"

#include <array>
#include <string>
#include <vector>

namespace palvero {

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

    void clear() { m_count = 0; ensure(0); clearRow(0); }
    // Makes the trailing empty row a record row and adds a new empty row; gives the record row.
    Row& addRow();

    // The frame cut after its last telegram data byte, as the last walk read it: a record
    // that runs into the RSSI, CRC or stop bytes runs out of data instead. Kept here so
    // that its buffer serves every telegram.
    ReceiverFrame telegramData;

private:
    void ensure(int rows);
    void clearRow(int r);
    std::vector<Row> m_rows = std::vector<Row>(1);
    int m_count = 0;
};

// Offset of the first data record: where the application data start after the transport
// header (also after an extended link layer's inner header).
int firstRecordOffset(const ReceiverFrame& f);
// True when the telegram's application layer is a private format that is not decoded.
bool skipsRecordDecoding(const ReceiverFrame& f, const ReadingSettings& s);

// CI fields 0xA0 to 0xB7 carry an application layer that the manufacturer defines.
inline bool isManufacturerCi(uint8_t ciField) { return ciField >= 0xA0 && ciField <= 0xB7; }

// What a telegram's application data can give the meter's row: records, or nothing,
// because they are still encrypted (the header says so and they do not begin with 0x2F
// after any decryption) or because the manufacturer defines their layout. Only records
// may change the row's values: anything else would show numbers the meter never sent.
enum class ApplicationData { Records, Encrypted, ManufacturerDefined };
ApplicationData applicationData(const ReceiverFrame& f, const ReadingSettings& s);

// Walks the data records of a (decrypted) frame into `records`. Records are read up to
// the last telegram data byte; no byte outside the frame is ever read.
void decodeTelegram(const ReceiverFrame& f, const ReadingSettings& s, char decimalSeparator,
                    DecodedRecords& records);

// Row of the first record whose unit text is exactly `mainUnit`; -1 when none is.
int pickMainRow(const DecodedRecords& records, const std::string& mainUnit);
// Texts of additional-value slots 1..count, each at most 32 characters; the main row is
// skipped, a slot past the last record takes the trailing empty row.
std::vector<std::string> pickAdditionalValues(const DecodedRecords& records, int mainRow, int count,
                                              bool removeUnit);

// Lines of the full-decode listing for one telegram: heading, one line per record, an empty line.
std::vector<std::string> fullDecodeLines(const DecodedRecords& records, const std::string& meterId);
// The listing of a telegram whose application data give no records: the heading, a line
// that says why (with the security mode, or the manufacturer's bytes in hex), an empty line.
std::vector<std::string> undecodedListingLines(ApplicationData what, const ReceiverFrame& f,
                                               const ReadingSettings& s, const std::string& meterId);

} // namespace palvero
