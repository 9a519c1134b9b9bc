#pragma once

#include "meter_table.h"

#include <QString>

#include <vector>

class QPagedPaintDevice;
class QPainter;
class QPrinter;
class QWidget;

namespace palvero {

// The meter table on paper: a title line with the date, the titles of the chosen columns
// on every page, the data rows, and "Page i of n" at the foot. Columns keep their natural
// widths (title or widest cell, at most 40 characters); a table wider than the page is
// drawn smaller to fit its width.
class TablePrinter {
public:
    TablePrinter(const MeterTable& table, std::vector<int> columns, QString title, QString date);

    // Paints every page onto the printer (a PDF writer or a paper printer); gives the
    // number of pages.
    int print(QPrinter& printer) const;
    // The number of pages the table takes on this printer, without painting.
    int pageCount(QPrinter& printer) const;
    int rowsPerPage(QPrinter& printer) const;

    // The print preview of the window's table; prints or saves a PDF from there.
    static void preview(const MeterTable& table, std::vector<int> columns, QWidget* parent);

private:
    struct Layout {
        double scale = 1;
        std::vector<int> widths; // device units before scaling
        int rowHeight = 0;
        int headHeight = 0; // title line and column titles
        int footHeight = 0;
        int rowsPerPage = 1;
        int pages = 1;
        double pageWidth = 0;
        double pageHeight = 0;
    };
    Layout layout(QPrinter& printer) const;
    int dataRows() const;

    const MeterTable& m_table;
    std::vector<int> m_columns;
    QString m_title;
    QString m_date;
};

} // namespace palvero
