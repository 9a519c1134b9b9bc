#include "meter_table.h"

#include <algorithm>

namespace palvero {

namespace {

unsigned* counterFor(MediumCounters& c, const std::string& medium)
{
    if (medium.empty())
        return nullptr;
    if (medium == "Electricity")
        return &c.Electricity;
    if (medium == "Gas")
        return &c.Gas;
    if (medium == "Heat")
        return &c.Heat;
    if (medium == "Heat/Cool")
        return &c.HeatCool;
    if (medium == "Hot water")
        return &c.HotWater;
    if (medium == "Cold water")
        return &c.ColdWater;
    if (medium == "Water")
        return &c.Water;
    if (medium == "H.C.A")
        return &c.HCA;
    return &c.Other;
}

void add(unsigned& counter, int delta)
{
    counter = static_cast<unsigned>(static_cast<long long>(counter) + delta);
}

} // namespace

bool MediumCounters::operator==(const MediumCounters& o) const
{
    return Electricity == o.Electricity && Gas == o.Gas && Heat == o.Heat && HeatCool == o.HeatCool
        && HotWater == o.HotWater && ColdWater == o.ColdWater && Water == o.Water && HCA == o.HCA
        && Other == o.Other && Repeated == o.Repeated;
}

const std::array<const char*, col::Fixed>& MeterTable::titles()
{
    static const std::array<const char*, col::Fixed> t = {
        "No. ", "Meter ID ", "MFR ", "Auxiliary ID ", "Control fields ", "Medium ", "Main value ", "Units ",
        "RSSI, dBm ", "Time ", "Date ", "Notes ", "Full telegram ", "Firmware version ", "Encryption key ",
        "Free text/description ",
    };
    return t;
}

MeterTable::MeterTable(int additionalValues)
    : m_grid(2, col::Fixed + std::clamp(additionalValues, 0, kMaxAdditionalValues))
{
    m_appearance.columnCount = m_grid.columnCount();
    writeTitles();
    ensureFlags(1);
}

void MeterTable::writeTitles()
{
    for (int c = 0; c < col::Fixed; ++c)
        m_grid.setCell(0, c, titles()[static_cast<size_t>(c)]);
}

void MeterTable::ensureFlags(int row)
{
    if (row >= 0 && static_cast<size_t>(row) >= m_flags.size())
        m_flags.resize(static_cast<size_t>(row) + 1, 0);
}

void MeterTable::setCell(int row, int column, std::string_view text)
{
    if (!m_grid.contains(row, column))
        return;
    if (row > 0 && (column == col::MeterId || column == col::Medium)) {
        if (m_grid.cell(row, column) == text)
            return; // the indexes stay as they are
        if (column == col::MeterId) {
            unindexRow(row);
            m_grid.setCell(row, column, text);
            indexRow(row);
        } else {
            tallyMedium(m_grid.cell(row, column), -1);
            m_grid.setCell(row, column, text);
            tallyMedium(m_grid.cell(row, column), +1);
        }
    } else {
        m_grid.setCell(row, column, text);
    }
}

int MeterTable::appendRow()
{
    int row = rowCount();
    for (auto* l : m_listeners)
        l->rowsAboutToBeAppended(row, row);
    m_grid.appendRow();
    ensureFlags(row);
    tallyRow(row, +1);
    for (auto* l : m_listeners)
        l->rowsAppended();
    return row;
}

void MeterTable::removeRow(int row)
{
    if (row < 1 || row >= rowCount())
        return;
    bool only = dataRowCount() == 1;
    if (!only)
        for (auto* l : m_listeners)
            l->rowAboutToBeRemoved(row);
    if (only)
        m_grid.clearRow(1);
    else
        m_grid.removeRow(row);
    // The flags of the rows below move up with them; the vacated last entry is cleared.
    if (static_cast<size_t>(row) < m_flags.size()) {
        m_flags.erase(m_flags.begin() + row);
        m_flags.push_back(0);
    }
    rebuildIndexes();
    if (only) {
        notifyRowsChanged(1, 1);
    } else {
        for (auto* l : m_listeners)
            l->rowRemoved();
    }
}

void MeterTable::clearData()
{
    for (auto* l : m_listeners)
        l->aboutToReset();
    m_grid.setRowCount(2);
    m_grid.clearRow(1);
    rebuildIndexes();
    for (auto* l : m_listeners)
        l->reset();
}

void MeterTable::replaceData(const TextGrid& rows)
{
    for (auto* l : m_listeners)
        l->aboutToReset();
    int dataRows = std::max(rows.rowCount() - 1, 1);
    m_grid.setRowCount(1 + dataRows);
    for (int r = 1; r <= dataRows; ++r)
        for (int c = 0; c < m_grid.columnCount(); ++c)
            m_grid.setCell(r, c, rows.cell(r, c));
    ensureFlags(dataRows);
    rebuildIndexes();
    for (auto* l : m_listeners)
        l->reset();
}

int MeterTable::findMeterRow(const std::string& meterId) const
{
    auto it = m_rowsById.find(meterId);
    return it == m_rowsById.end() ? 0 : it->second.last;
}

std::vector<int> MeterTable::meterRows(const std::string& meterId) const
{
    auto it = m_rowsById.find(meterId);
    if (it == m_rowsById.end())
        return {};
    std::vector<int> rows = it->second.earlier;
    rows.push_back(it->second.last);
    return rows;
}

bool MeterTable::isFresh() const
{
    return dataRowCount() <= 1 && cell(1, col::No).empty();
}

bool MeterTable::flag(RowFlag f, int row) const
{
    if (row < 0 || static_cast<size_t>(row) >= m_flags.size())
        return false;
    return (m_flags[static_cast<size_t>(row)] & flagBit(f)) != 0;
}

void MeterTable::setFlag(RowFlag f, int row, bool on)
{
    if (row < 1)
        return;
    ensureFlags(row);
    uint8_t& bits = m_flags[static_cast<size_t>(row)];
    bool was = (bits & flagBit(f)) != 0;
    if (was == on)
        return;
    bits = static_cast<uint8_t>(on ? bits | flagBit(f) : bits & ~flagBit(f));
    if (f == RowFlag::Repeated && row < rowCount())
        add(m_tally.Repeated, on ? 1 : -1);
}

uint8_t MeterTable::rowFlags(int row) const
{
    return row >= 0 && static_cast<size_t>(row) < m_flags.size() ? m_flags[static_cast<size_t>(row)] : 0;
}

void MeterTable::setRowFlags(int row, uint8_t bits)
{
    for (RowFlag f : {RowFlag::LowBattery, RowFlag::Decrypted, RowFlag::Repeated, RowFlag::MrvTest,
                      RowFlag::MrvProcess, RowFlag::MrvDone})
        setFlag(f, row, (bits & flagBit(f)) != 0);
}

void MeterTable::clearFlag(RowFlag f)
{
    for (auto& bits : m_flags)
        bits = static_cast<uint8_t>(bits & ~flagBit(f));
    if (f == RowFlag::Repeated)
        m_tally.Repeated = 0;
}

void MeterTable::setAppearance(int additionalValues, int fontSize, bool bold)
{
    m_appearance.fontSize = fontSize;
    m_appearance.bold = bold;
    setAdditionalValueCount(additionalValues);
}

void MeterTable::setAdditionalValueCount(int additionalValues)
{
    int columns = col::Fixed + std::clamp(additionalValues, 0, kMaxAdditionalValues);
    if (columns != m_grid.columnCount()) {
        for (auto* l : m_listeners)
            l->aboutToReset();
        m_grid.setColumnCount(columns);
        for (auto* l : m_listeners)
            l->reset();
    }
    m_appearance.columnCount = columns;
    for (auto* l : m_listeners)
        l->appearanceChanged();
}

void MeterTable::addListener(MeterTableListener* listener)
{
    if (listener && std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end())
        m_listeners.push_back(listener);
}

void MeterTable::removeListener(MeterTableListener* listener)
{
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener), m_listeners.end());
}

void MeterTable::notifyRowUpdated(int row)
{
    for (auto* l : m_listeners)
        l->rowUpdated(row);
}

void MeterTable::notifyDeliveryDone()
{
    for (auto* l : m_listeners)
        l->deliveryDone();
}

void MeterTable::notifyStatusText(int panel, const std::string& text)
{
    for (auto* l : m_listeners)
        l->statusText(panel, text);
}

void MeterTable::notifyTableRebuilt()
{
    for (auto* l : m_listeners)
        l->tableRebuilt();
}

void MeterTable::notifyRowsChanged(int first, int last)
{
    for (auto* l : m_listeners)
        l->rowsChanged(first, last);
}

void MeterTable::indexRow(int row)
{
    const std::string& id = m_grid.cell(row, col::MeterId);
    if (id.empty())
        return;
    MeterRows& rows = m_rowsById[id];
    if (rows.last == 0) {
        rows.last = row;
    } else {
        int earlier = row;
        if (row > rows.last)
            std::swap(earlier, rows.last);
        rows.earlier.insert(std::lower_bound(rows.earlier.begin(), rows.earlier.end(), earlier), earlier);
    }
    if (const auto number = packedMeterId(id))
        m_rowsByNumber.set(*number, rows.last);
}

void MeterTable::unindexRow(int row)
{
    const std::string& id = m_grid.cell(row, col::MeterId);
    if (id.empty())
        return;
    auto it = m_rowsById.find(id);
    if (it == m_rowsById.end())
        return;
    MeterRows& rows = it->second;
    if (row == rows.last) {
        const auto number = packedMeterId(id);
        if (rows.earlier.empty()) {
            m_rowsById.erase(it);
            if (number)
                m_rowsByNumber.erase(*number);
            return;
        }
        rows.last = rows.earlier.back();
        rows.earlier.pop_back();
        if (number)
            m_rowsByNumber.set(*number, rows.last);
        return;
    }
    auto pos = std::lower_bound(rows.earlier.begin(), rows.earlier.end(), row);
    if (pos != rows.earlier.end() && *pos == row)
        rows.earlier.erase(pos);
}

void MeterTable::rebuildIndexes()
{
    m_rowsById.clear();
    m_rowsByNumber.clear();
    m_tally = MediumCounters{};
    for (int r = 1; r < rowCount(); ++r) {
        indexRow(r);
        tallyRow(r, +1);
    }
}

void MeterTable::tallyMedium(const std::string& medium, int delta)
{
    if (unsigned* c = counterFor(m_tally, medium))
        add(*c, delta);
}

void MeterTable::tallyRow(int row, int delta)
{
    tallyMedium(m_grid.cell(row, col::Medium), delta);
    if (flag(RowFlag::Repeated, row))
        add(m_tally.Repeated, delta);
}

} // namespace palvero
