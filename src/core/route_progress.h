#pragma once

#include "meter_table.h"

#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace palvero {

// Where one meter of the route stands in the table.
enum class RouteState {
    NotHeard,     // no row for it
    NoKey,        // heard encrypted, and no key to open it
    NotDecrypted, // heard, a key was there but the telegram did not open
    NoValue,      // opened, but no main value came with it
    Read,         // a main value from a readable (decrypted or plain) telegram
};

// Words for the state, as the unread list shows them; empty for NotHeard and Read.
const char* routeStateText(RouteState state);

// How the rows of one meter stand: read when some row has a main value (not "Exception")
// and the Decrypted flag; otherwise the reason taken from its last row.
RouteState meterRowState(const MeterTable& table, int row);

// The walk's progress: the known meters (the route, in the order of the meters file) and,
// for each, whether the table has read it. Follows the table through its notifications:
// a telegram costs one lookup; anything that moves or removes rows recounts all.
class RouteProgress : public MeterTableListener {
public:
    struct Meter {
        std::string id;
        RouteState state = RouteState::NotHeard;
        std::string lastHeard; // "Time Date" of the row, when it has one
    };

    explicit RouteProgress(MeterTable& table);
    ~RouteProgress() override;
    RouteProgress(const RouteProgress&) = delete;
    RouteProgress& operator=(const RouteProgress&) = delete;

    // The known meters; an ID listed twice counts once, empty IDs not at all.
    void setRoute(const std::vector<std::string>& ids);
    // Recounts every meter from the table.
    void refresh();

    int knownCount() const { return static_cast<int>(m_meters.size()); }
    int readCount() const { return m_read; }
    const std::vector<Meter>& meters() const { return m_meters; }
    // "Read X of Y known meters"
    std::string panelText() const;

    // A single meter changed (its index in meters()); everything was recounted.
    std::function<void(int index)> onMeterChanged;
    std::function<void()> onRecounted;

    void rowUpdated(int row) override;
    void rowRemoved() override;
    void reset() override;
    void tableRebuilt() override;
    void rowsChanged(int first, int last) override;

private:
    Meter stateOf(const std::string& id) const;

    MeterTable& m_table;
    std::vector<Meter> m_meters;
    std::unordered_map<std::string, int> m_index;
    int m_read = 0;
};

} // namespace palvero
