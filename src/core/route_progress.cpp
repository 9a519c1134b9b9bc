#include "route_progress.h"

namespace palvero {

const char* routeStateText(RouteState state)
{
    switch (state) {
    case RouteState::NoKey:
        return "no key";
    case RouteState::NotDecrypted:
        return "not decrypted";
    case RouteState::NoValue:
        return "no value";
    case RouteState::NotHeard:
    case RouteState::Read:
        break;
    }
    return "";
}

RouteState meterRowState(const MeterTable& table, int row)
{
    const std::string& value = table.cell(row, col::MainValue);
    const bool hasValue = !value.empty() && value != "Exception";
    if (table.flag(RowFlag::Decrypted, row))
        return hasValue ? RouteState::Read : RouteState::NoValue;
    return table.cell(row, col::EncryptionKey).empty() ? RouteState::NoKey : RouteState::NotDecrypted;
}

RouteProgress::RouteProgress(MeterTable& table)
    : m_table(table)
{
    m_table.addListener(this);
}

RouteProgress::~RouteProgress()
{
    m_table.removeListener(this);
}

void RouteProgress::setRoute(const std::vector<std::string>& ids)
{
    m_meters.clear();
    m_index.clear();
    for (const std::string& id : ids) {
        if (id.empty() || m_index.count(id))
            continue;
        m_index.emplace(id, static_cast<int>(m_meters.size()));
        m_meters.push_back(Meter{id, RouteState::NotHeard, {}});
    }
    refresh();
}

RouteProgress::Meter RouteProgress::stateOf(const std::string& id) const
{
    Meter m{id, RouteState::NotHeard, {}};
    const std::vector<int> rows = m_table.meterRows(id);
    if (rows.empty())
        return m;
    int shown = rows.back();
    m.state = meterRowState(m_table, shown);
    for (int row : rows)
        if (meterRowState(m_table, row) == RouteState::Read) {
            m.state = RouteState::Read;
            shown = row;
        }
    const std::string& time = m_table.cell(shown, col::Time);
    const std::string& date = m_table.cell(shown, col::Date);
    m.lastHeard = time.empty() || date.empty() ? time + date : time + " " + date;
    return m;
}

void RouteProgress::refresh()
{
    m_read = 0;
    for (Meter& m : m_meters) {
        m = stateOf(m.id);
        m_read += m.state == RouteState::Read;
    }
    if (onRecounted)
        onRecounted();
}

std::string RouteProgress::panelText() const
{
    return "Read " + std::to_string(m_read) + " of " + std::to_string(m_meters.size()) + " known meters";
}

void RouteProgress::rowUpdated(int row)
{
    auto it = m_index.find(m_table.cell(row, col::MeterId));
    if (it == m_index.end())
        return;
    Meter& m = m_meters[static_cast<size_t>(it->second)];
    Meter now = stateOf(m.id);
    if (now.state == m.state && now.lastHeard == m.lastHeard)
        return;
    m_read += (now.state == RouteState::Read) - (m.state == RouteState::Read);
    m = std::move(now);
    if (onMeterChanged)
        onMeterChanged(it->second);
}

void RouteProgress::rowRemoved()
{
    refresh();
}

void RouteProgress::reset()
{
    refresh();
}

void RouteProgress::tableRebuilt()
{
    refresh();
}

void RouteProgress::rowsChanged(int, int)
{
    refresh();
}

} // namespace palvero
