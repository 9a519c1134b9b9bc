#include "undo_stack.h"

#include <algorithm>
#include <unordered_set>

namespace palvero {

namespace {

bool blank(const std::vector<std::string>& cells)
{
    return std::all_of(cells.begin(), cells.end(), [](const std::string& c) { return c.empty(); });
}

// Cells that telegrams never fill from the air: the operator's own text and the key (which
// a telegram only takes from the meters file when the cell is empty).
constexpr int kOperatorColumns[] = {col::EncryptionKey, col::FreeText};

} // namespace

UndoStack::UndoStack(MeterTable& table, size_t depth)
    : m_table(table)
    , m_depth(std::max<size_t>(depth, 1))
{
    m_table.addListener(this);
}

UndoStack::~UndoStack()
{
    m_table.removeListener(this);
}

UndoStack::Snapshot UndoStack::snapshot() const
{
    Snapshot s;
    std::unordered_map<std::string, int> seen;
    s.numbered = true;
    for (int r = 1; r < m_table.rowCount(); ++r) {
        const std::vector<std::string>& cells = m_table.grid().row(r);
        if (blank(cells))
            continue;
        const std::string& id = cells[col::MeterId];
        RowKey key{id, seen[id]++};
        if (r == m_table.lastReadRow) {
            s.lastRead = key;
            s.hasLastRead = true;
        }
        s.keys.push_back(std::move(key));
        s.rows.push_back(RowState{cells, m_table.rowFlags(r)});
        if (cells[col::No] != std::to_string(s.rows.size()))
            s.numbered = false;
    }
    return s;
}

void UndoStack::record(std::string caption, std::any viewState)
{
    commit();
    m_pending = snapshot();
    m_pending->caption = std::move(caption);
    m_pending->viewState = std::move(viewState);
    changed();
}

void UndoStack::commit()
{
    if (!m_pending)
        return;
    Snapshot before = std::move(*m_pending);
    m_pending.reset();
    Entry e = diff(std::move(before), nullptr);
    e.stamp = ++m_clock;
    if (!empty(e))
        push(std::move(e));
    changed();
}

bool UndoStack::empty(const Entry& e)
{
    return e.removed.empty() && e.changed.empty() && e.added.empty() && e.orderBefore.empty();
}

void UndoStack::push(Entry e)
{
    m_entries.push_back(std::move(e));
    while (m_entries.size() > m_depth)
        m_entries.pop_front();
}

UndoStack::Entry UndoStack::diff(Snapshot before, const std::string* telegram) const
{
    const Snapshot after = snapshot();

    std::unordered_map<RowKey, size_t, KeyHash> afterAt;
    for (size_t i = 0; i < after.keys.size(); ++i)
        afterAt.emplace(after.keys[i], i);
    std::unordered_set<RowKey, KeyHash> beforeKeys(before.keys.begin(), before.keys.end());

    Entry e;
    e.caption = std::move(before.caption);
    e.viewState = std::move(before.viewState);
    e.lastRead = before.lastRead;
    e.hasLastRead = before.hasLastRead;
    e.numbered = before.numbered;

    std::vector<RowKey> keptInOrder;
    for (size_t i = 0; i < before.keys.size(); ++i) {
        const RowKey& key = before.keys[i];
        RowState& was = before.rows[i];
        auto found = afterAt.find(key);
        if (found == afterAt.end()) {
            e.removed.emplace(key, std::move(was));
            continue;
        }
        keptInOrder.push_back(key);
        if (telegram && key.first == *telegram)
            continue;
        const RowState& now = after.rows[found->second];
        ChangedRow change;
        const size_t columns = std::max(was.cells.size(), now.cells.size());
        for (size_t c = 0; c < columns; ++c) {
            const std::string& b = c < was.cells.size() ? was.cells[c] : std::string();
            const std::string& a = c < now.cells.size() ? now.cells[c] : std::string();
            if (a != b)
                change.cells.push_back(CellChange{static_cast<int>(c), b, a});
        }
        change.flagsBefore = was.flags;
        change.flagsAfter = now.flags;
        if (!change.cells.empty() || change.flagsBefore != change.flagsAfter)
            e.changed.emplace(key, std::move(change));
    }
    std::vector<RowKey> afterKept;
    for (const RowKey& key : after.keys) {
        if (beforeKeys.count(key))
            afterKept.push_back(key);
        else if (!telegram || key.first != *telegram)
            e.added.push_back(key);
    }
    if (!e.removed.empty() || afterKept != keptInOrder)
        e.orderBefore = std::move(before.keys);
    return e;
}

std::string UndoStack::nextCaption() const
{
    if (m_pending)
        return m_pending->caption;
    return m_entries.empty() ? std::string() : m_entries.back().caption;
}

bool UndoStack::readSince(const std::string& meterId, uint64_t stamp) const
{
    auto it = m_readAt.find(meterId);
    return it != m_readAt.end() && it->second > stamp;
}

void UndoStack::rowUpdated(int row)
{
    const std::string id = m_table.cell(row, col::MeterId);
    if (m_pending) {
        // This telegram came after the command began: what it wrote is a reading, not
        // part of the command.
        Snapshot before = std::move(*m_pending);
        m_pending.reset();
        std::string caption = before.caption;
        std::any viewState = before.viewState;
        Entry e = diff(std::move(before), &id);
        if (empty(e)) {
            // The command has not touched the table yet: the reading joins the table as it
            // was before it.
            m_pending = snapshot();
            m_pending->caption = std::move(caption);
            m_pending->viewState = std::move(viewState);
        } else {
            e.stamp = ++m_clock;
            push(std::move(e));
            changed();
        }
    }
    m_readAt[id] = ++m_clock;
    m_lastTelegram = m_clock;
}

std::optional<UndoStack::Undone> UndoStack::undo()
{
    commit();
    if (m_entries.empty())
        return std::nullopt;
    Entry e = std::move(m_entries.back());
    m_entries.pop_back();

    const Snapshot now = snapshot();
    std::unordered_map<RowKey, size_t, KeyHash> nowAt;
    for (size_t i = 0; i < now.keys.size(); ++i)
        nowAt.emplace(now.keys[i], i);
    std::unordered_set<RowKey, KeyHash> added(e.added.begin(), e.added.end());

    std::vector<RowKey> outKeys;
    std::vector<RowState> out;
    std::unordered_set<RowKey, KeyHash> used;

    auto takeCurrent = [&](const RowKey& key, size_t at) {
        used.insert(key);
        const bool readAfter = readSince(key.first, e.stamp);
        if (added.count(key) && !readAfter)
            return; // the command brought it and nothing has read it since
        RowState row = now.rows[at];
        auto change = e.changed.find(key);
        if (change != e.changed.end()) {
            // Only what still stands as the command left it goes back.
            for (const CellChange& c : change->second.cells)
                if (static_cast<size_t>(c.column) < row.cells.size() && row.cells[size_t(c.column)] == c.after)
                    row.cells[size_t(c.column)] = c.before;
            if (!readAfter) {
                const uint8_t mask = change->second.flagsBefore ^ change->second.flagsAfter;
                const uint8_t untouched = static_cast<uint8_t>(~(row.flags ^ change->second.flagsAfter) & mask);
                row.flags = static_cast<uint8_t>((row.flags & ~untouched) | (change->second.flagsBefore & untouched));
            }
        }
        auto gone = e.removed.find(key);
        if (gone != e.removed.end()) {
            // Removed, then read again: the new reading stays, with the operator's cells back.
            for (int c : kOperatorColumns)
                if (static_cast<size_t>(c) < row.cells.size() && row.cells[size_t(c)].empty()
                    && static_cast<size_t>(c) < gone->second.cells.size())
                    row.cells[size_t(c)] = gone->second.cells[size_t(c)];
        }
        outKeys.push_back(key);
        out.push_back(std::move(row));
    };

    const std::vector<RowKey>& sequence = e.orderBefore.empty() ? now.keys : e.orderBefore;
    for (const RowKey& key : sequence) {
        auto at = nowAt.find(key);
        if (at != nowAt.end()) {
            takeCurrent(key, at->second);
        } else {
            auto gone = e.removed.find(key);
            if (gone != e.removed.end()) {
                outKeys.push_back(key);
                out.push_back(std::move(gone->second));
                e.removed.erase(gone);
            }
        }
    }
    // Meters heard for the first time after the command, in the order they came.
    for (size_t i = 0; i < now.keys.size(); ++i)
        if (!used.count(now.keys[i]))
            takeCurrent(now.keys[i], i);

    if (e.numbered)
        for (size_t i = 0; i < out.size(); ++i)
            if (!out[i].cells.empty())
                out[i].cells[col::No] = std::to_string(i + 1);

    auto indexOf = [&outKeys](const RowKey& key) {
        auto it = std::find(outKeys.begin(), outKeys.end(), key);
        return it == outKeys.end() ? 0 : static_cast<int>(it - outKeys.begin()) + 1;
    };
    int lastRead = 0;
    if (m_lastTelegram > e.stamp) {
        if (now.hasLastRead)
            lastRead = indexOf(now.lastRead);
    } else if (e.hasLastRead) {
        lastRead = indexOf(e.lastRead);
    }
    int selected = m_table.selectedRow;
    for (size_t i = 0; i < now.keys.size(); ++i) {
        // The selected row keeps its meter.
        if (m_table.grid().row(m_table.selectedRow) == now.rows[i].cells) {
            selected = indexOf(now.keys[i]);
            break;
        }
    }

    const int rows = std::max<int>(static_cast<int>(out.size()), 1);
    TextGrid grid(1 + rows, m_table.columnCount());
    for (size_t i = 0; i < out.size(); ++i)
        for (size_t c = 0; c < out[i].cells.size(); ++c)
            grid.setCell(static_cast<int>(i) + 1, static_cast<int>(c), out[i].cells[c]);
    m_table.replaceData(grid);
    for (int r = 1; r <= rows; ++r)
        m_table.setRowFlags(r, r <= static_cast<int>(out.size()) ? out[size_t(r) - 1].flags : 0);
    m_table.lastReadRow = lastRead;
    m_table.selectedRow = selected > 0 ? std::min(selected, rows) : 1;
    m_table.recountMediumCounters();

    Undone done{std::move(e.caption), std::move(e.viewState)};
    changed();
    return done;
}

void UndoStack::changed()
{
    if (onChanged)
        onChanged();
}

} // namespace palvero
