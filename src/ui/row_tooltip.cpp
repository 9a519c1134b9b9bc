#include "row_tooltip.h"

#include "route_progress.h"

#include <QStringList>

namespace palvero {

QString rowToolTip(const MeterTable& table, const Settings& s, int row)
{
    if (row < 1 || row >= table.rowCount() || table.cell(row, col::MeterId).empty())
        return {};
    QStringList lines;
    if (row == table.lastReadRow)
        lines << QStringLiteral("The meter read last");
    if (table.flag(RowFlag::LowBattery, row))
        lines << QStringLiteral("Low battery");
    if (table.flag(RowFlag::Repeated, row))
        lines << (s.ShowRepeaters ? QStringLiteral("Heard through a repeater")
                                  : QStringLiteral("Heard through a repeater (not coloured)"));
    switch (meterRowState(table, row)) {
    case RouteState::Read:
        lines << QStringLiteral("Read: a value from a decrypted or plain telegram");
        break;
    case RouteState::NoKey:
        lines << QStringLiteral("Not decrypted: no key");
        break;
    case RouteState::NotDecrypted:
        lines << QStringLiteral("Not decrypted");
        break;
    case RouteState::NoValue:
        lines << QStringLiteral("Decrypted, but no main value");
        break;
    case RouteState::NotHeard:
        break;
    }
    if (s.ColorMrv) {
        if (table.flag(RowFlag::MrvTest, row))
            lines << QStringLiteral("Test state");
        if (table.flag(RowFlag::MrvProcess, row))
            lines << QStringLiteral("In process");
        if (table.flag(RowFlag::MrvDone, row))
            lines << QStringLiteral("Done");
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace palvero
