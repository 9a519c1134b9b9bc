#include "row_colours.h"

namespace palvero {

RowBrush rowBrush(const MeterTable& table, const Settings& s, int row)
{
    RowBrush b;
    if (table.lastReadRow > 0 && row == table.lastReadRow)
        b.colour = s.ColorRow;
    else if (row == table.selectedRow)
        b.kind = RowBrush::Highlight;

    auto paint = [&b](uint32_t colour) {
        b.kind = RowBrush::Colour;
        b.colour = colour;
    };
    if (s.ShowRepeaters && table.flag(RowFlag::Repeated, row))
        paint(s.FromRepeater);
    if (table.flag(RowFlag::LowBattery, row))
        paint(s.LowBattery);
    if (s.ColorMrv) {
        if (table.flag(RowFlag::MrvTest, row))
            paint(s.ColorTest);
        if (table.flag(RowFlag::MrvProcess, row))
            paint(s.ColorProcess);
        if (table.flag(RowFlag::MrvDone, row))
            paint(s.ColorDone);
    }
    return b;
}

} // namespace palvero
