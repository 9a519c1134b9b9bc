#pragma once

#include "id_index.h"
#include "reading_settings.h"
#include "text_grid.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace palvero {

// Column numbers of the meter table.
namespace col {
constexpr int No = 0;
constexpr int MeterId = 1;
constexpr int Mfr = 2;
constexpr int AuxiliaryId = 3;
constexpr int ControlFields = 4;
constexpr int Medium = 5;
constexpr int MainValue = 6;
constexpr int Units = 7;
constexpr int Rssi = 8;
constexpr int Time = 9;
constexpr int Date = 10;
constexpr int Notes = 11;
constexpr int FullTelegram = 12;
constexpr int FirmwareVersion = 13;
constexpr int EncryptionKey = 14;
constexpr int FreeText = 15;
constexpr int FirstAdditional = 16;
constexpr int Fixed = 16; // titled columns
} // namespace col


enum class RowFlag : uint8_t { LowBattery, Decrypted, Repeated, MrvTest, MrvProcess, MrvDone };

// Meters in the table by medium, and the repeated ones.
struct MediumCounters {
    unsigned Electricity = 0;
    unsigned Gas = 0;
    unsigned Heat = 0;
    unsigned HeatCool = 0;
    unsigned HotWater = 0;
    unsigned ColdWater = 0;
    unsigned Water = 0;
    unsigned HCA = 0;
    unsigned Other = 0;
    unsigned Repeated = 0;

    bool operator==(const MediumCounters& o) const;
    bool operator!=(const MediumCounters& o) const { return !(*this == o); }
};

struct TableAppearance {
    int columnCount = col::Fixed;
    int fontSize = 8;
    bool bold = false;
    int rowHeight() const { return fontSize + 12; }
};

// Views of the meter table. The first four are the table's notifications; the rest tell
// views that mirror rows (the Qt model) about changes of shape, before and after.
class MeterTableListener {
public:
    virtual ~MeterTableListener() = default;
    virtual void rowUpdated(int /*row*/) {}
    virtual void statusText(int /*panel*/, const std::string& /*text*/) {}
    virtual void tableRebuilt() {}
    virtual void appearanceChanged() {}

    virtual void rowsAboutToBeAppended(int /*first*/, int /*last*/) {}
    virtual void rowsAppended() {}
    virtual void rowAboutToBeRemoved(int /*row*/) {}
    virtual void rowRemoved() {}
    virtual void aboutToReset() {}
    virtual void reset() {}
    // Cells of rows first..last changed outside the telegram pipeline.
    virtual void rowsChanged(int /*first*/, int /*last*/) {}
    // Every frame of one delivery of received bytes has been through the table: a view that
    // follows the reading catches up here once, not for each telegram of a burst.
    virtual void deliveryDone() {}
};

// The working set of the reader: one row per meter, all cells text, row 0 the titles.
// A table without meters holds exactly one empty data row. Beside the cells it keeps
// the row flags (which grow with the table and are never shrunk by clearing), the last
// read and selected row, the reader log, the full-decode listing and the medium counters.
// Lookups by meter ID and the medium tally are kept as indexes, so that a telegram costs
// the same with ten thousand rows as with one.
class MeterTable {
public:
    explicit MeterTable(int additionalValues = 0);

    static const std::array<const char*, col::Fixed>& titles();

    // Cells. Row 0 holds the titles; data rows are 1 .. rowCount() - 1.
    int rowCount() const { return m_grid.rowCount(); }
    int columnCount() const { return m_grid.columnCount(); }
    int dataRowCount() const { return rowCount() - 1; }
    const std::string& cell(int row, int column) const { return m_grid.cell(row, column); }
    void setCell(int row, int column, std::string_view text);
    const TextGrid& grid() const { return m_grid; }

    // Appends one empty row and gives its index.
    int appendRow();
    // Removes one data row; the flags of later rows move up with them.
    void removeRow(int row);
    // Empties every data row, leaving one empty data row. Flags are untouched.
    void clearData();
    // Replaces every data row by the rows of `rows` (row 0 of `rows` is ignored); the
    // table keeps at least one data row. Flags are untouched.
    void replaceData(const TextGrid& rows);

    // The last data row whose "Meter ID" is exactly `meterId`; 0 when there is none.
    int findMeterRow(const std::string& meterId) const;
    // The same for the ID text of an identification number (its eight hex digits): the
    // lookup of every telegram, without a text.
    int findMeterRow(uint32_t identification) const { return m_rowsByNumber.find(identification); }
    // Every data row with this "Meter ID", in table order.
    std::vector<int> meterRows(const std::string& meterId) const;
    // True when the table holds no meter: one data row and an empty "No." cell.
    bool isFresh() const;

    bool flag(RowFlag f, int row) const;
    void setFlag(RowFlag f, int row, bool on);
    // Clears one flag for every row that has flags.
    void clearFlag(RowFlag f);
    // All flags of a row as one set of bits, so that a row moved elsewhere takes them along.
    uint8_t rowFlags(int row) const;
    void setRowFlags(int row, uint8_t bits);

    // The counters as last recounted (after every telegram); see recountMediumCounters.
    const MediumCounters& mediumCounters() const { return m_counters; }
    void recountMediumCounters() { m_counters = m_tally; }

    const TableAppearance& appearance() const { return m_appearance; }
    // Sets column count (16 + additional values), font size and bold; raises appearanceChanged.
    void setAppearance(int additionalValues, int fontSize, bool bold);
    void setAdditionalValueCount(int additionalValues);

    // State beside the table.
    int lastReadRow = 0;
    int selectedRow = 1;
    int selectedColumn = 0;
    bool fullDecodeMode = false;
    bool doNotAddNew = false;
    std::vector<std::string> fullDecodeListing;
    std::vector<std::string> readerLog;    // Memo_current
    std::vector<std::string> scratchLines; // Memo_general

    void addReaderLogLine(std::string line) { readerLog.push_back(std::move(line)); }

    void addListener(MeterTableListener* listener);
    void removeListener(MeterTableListener* listener);

    void notifyRowUpdated(int row);
    void notifyStatusText(int panel, const std::string& text);
    void notifyTableRebuilt();
    void notifyRowsChanged(int first, int last);
    void notifyDeliveryDone();

private:
    static int flagBit(RowFlag f) { return 1 << static_cast<int>(f); }
    void ensureFlags(int row);
    void writeTitles();
    void indexRow(int row);
    void unindexRow(int row);
    void rebuildIndexes();
    void tallyMedium(const std::string& medium, int delta);
    void tallyRow(int row, int delta);

    TextGrid m_grid;
    std::vector<uint8_t> m_flags; // one entry per row index, row 0 unused
    TableAppearance m_appearance;
    MediumCounters m_tally;
    MediumCounters m_counters;
    // Rows of one meter ID: the last one inline (one row per meter is the rule), the
    // others, if an import brought duplicates, in ascending order.
    struct MeterRows {
        int last = 0;
        std::vector<int> earlier;
    };
    std::unordered_map<std::string, MeterRows> m_rowsById;
    // The last row of every ID that is an identification number's text, by that number.
    IdIndex m_rowsByNumber;
    std::vector<MeterTableListener*> m_listeners;
};

} // namespace palvero
