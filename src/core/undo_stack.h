#pragma once

#include "meter_table.h"

#include <any>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace palvero {

// Undo for the commands that change the meter table (clearing, row removal, clearing the
// keys, re-orderings, imports). Before a command runs, record() notes the table as it is;
// once it has run, commit() keeps only what the command did: the rows it removed (cells
// and flags), the cells and flags it changed, the rows it added and the order before.
// Nothing else of the table is held, so telegrams that arrive after the command are never
// undone: undo() restores removed rows and reverts changed cells by meter ID, keeps every
// row read since, and drops only added rows that no telegram has touched since.
// A pending record is committed by the next record() and by undo(); a telegram that
// arrives while it is pending commits it when the command has changed the table already,
// and otherwise counts as part of the table before the command (a command that waits in
// a file dialog while the reading goes on).
class UndoStack : public MeterTableListener {
public:
    static constexpr size_t kDefaultDepth = 20;

    explicit UndoStack(MeterTable& table, size_t depth = kDefaultDepth);
    ~UndoStack() override;
    UndoStack(const UndoStack&) = delete;
    UndoStack& operator=(const UndoStack&) = delete;

    // Before a command changes the table. `viewState` travels with the entry and comes
    // back from undo() (the window keeps its tree of meters there).
    void record(std::string caption, std::any viewState = {});
    // After the command: the entry keeps what differs; an entry without a difference is
    // dropped.
    void commit();

    bool canUndo() const { return !m_entries.empty() || m_pending.has_value(); }
    // Caption of the command that undo() would take back; empty when there is none.
    std::string nextCaption() const;
    size_t size() const { return m_entries.size() + (m_pending ? 1 : 0); }

    struct Undone {
        std::string caption;
        std::any viewState;
    };
    // Takes the last command back; nothing when there is none.
    std::optional<Undone> undo();

    // Raised after every change of what can be undone.
    std::function<void()> onChanged;

    void rowUpdated(int row) override;

    // A row by its meter ID and the how-many-th row with that ID it is.
    using RowKey = std::pair<std::string, int>;

private:
    struct RowState {
        std::vector<std::string> cells;
        uint8_t flags = 0;
    };
    struct Snapshot {
        std::vector<RowKey> keys;
        std::vector<RowState> rows;
        RowKey lastRead;
        bool hasLastRead = false;
        bool numbered = false; // "No." held 1, 2, 3 ... in table order
        std::string caption;
        std::any viewState;
    };
    struct CellChange {
        int column;
        std::string before;
        std::string after;
    };
    struct ChangedRow {
        std::vector<CellChange> cells;
        uint8_t flagsBefore = 0;
        uint8_t flagsAfter = 0;
    };
    struct KeyHash {
        size_t operator()(const RowKey& k) const { return std::hash<std::string>()(k.first) ^ size_t(k.second); }
    };
    struct Entry {
        std::string caption;
        std::any viewState;
        uint64_t stamp = 0;
        std::vector<RowKey> orderBefore; // empty when the command kept every row in place
        std::unordered_map<RowKey, RowState, KeyHash> removed;
        std::unordered_map<RowKey, ChangedRow, KeyHash> changed;
        std::vector<RowKey> added;
        RowKey lastRead;
        bool hasLastRead = false;
        bool numbered = false;
    };

    Snapshot snapshot() const;
    // What the command changed since `before`; the meter `telegram` (read after the
    // command) is left out.
    Entry diff(Snapshot before, const std::string* telegram) const;
    static bool empty(const Entry& e);
    void push(Entry e);
    bool readSince(const std::string& meterId, uint64_t stamp) const;
    void changed();

    MeterTable& m_table;
    size_t m_depth;
    std::optional<Snapshot> m_pending;
    std::deque<Entry> m_entries;
    uint64_t m_clock = 0;
    uint64_t m_lastTelegram = 0;
    std::unordered_map<std::string, uint64_t> m_readAt; // meter ID -> stamp of its last telegram
};

} // namespace palvero
