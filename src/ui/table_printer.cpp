#include "table_printer.h"

#include "cell_text.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include <algorithm>
#include <cmath>

namespace palvero {

namespace {

constexpr int kPointSize = 8;
constexpr int kMaxChars = 40;
// Rows measured for the column widths; enough to see every kind of value.
constexpr int kMeasuredRows = 2000;

QFont tableFont(QPrinter& printer, bool bold = false)
{
    QFont f(QStringLiteral("Sans Serif"), kPointSize);
    f.setBold(bold);
    return QFont(f, &printer);
}

} // namespace

TablePrinter::TablePrinter(const MeterTable& table, std::vector<int> columns, QString title, QString date)
    : m_table(table)
    , m_columns(std::move(columns))
    , m_title(std::move(title))
    , m_date(std::move(date))
{
}

int TablePrinter::dataRows() const
{
    // The empty row of a table without meters is not printed.
    return m_table.isFresh() ? 0 : m_table.dataRowCount();
}

TablePrinter::Layout TablePrinter::layout(QPrinter& printer) const
{
    Layout l;
    const QFontMetrics fm(tableFont(printer), &printer);
    const QFontMetrics bold(tableFont(printer, true), &printer);
    const int pad = fm.horizontalAdvance(QLatin1Char('0'));
    const int maxWidth = kMaxChars * pad;
    int total = 0;
    for (int c : m_columns) {
        int w = bold.horizontalAdvance(cellText(m_table.cell(0, c)));
        const int measured = std::min(dataRows(), kMeasuredRows);
        for (int r = 1; r <= measured; ++r)
            w = std::max(w, fm.horizontalAdvance(cellText(m_table.cell(r, c))));
        w = std::min(w, maxWidth) + pad;
        l.widths.push_back(w);
        total += w;
    }
    const QRectF page = printer.pageLayout().paintRectPixels(printer.resolution());
    l.scale = total > page.width() && total > 0 ? page.width() / total : 1.0;
    l.pageWidth = page.width() / l.scale;
    l.pageHeight = page.height() / l.scale;
    l.rowHeight = fm.height() + fm.height() / 4;
    l.headHeight = bold.height() * 2 + l.rowHeight + l.rowHeight / 2;
    l.footHeight = l.rowHeight * 2;
    l.rowsPerPage = std::max(1, static_cast<int>((l.pageHeight - l.headHeight - l.footHeight) / l.rowHeight));
    l.pages = std::max(1, (dataRows() + l.rowsPerPage - 1) / l.rowsPerPage);
    return l;
}

int TablePrinter::pageCount(QPrinter& printer) const
{
    return layout(printer).pages;
}

int TablePrinter::rowsPerPage(QPrinter& printer) const
{
    return layout(printer).rowsPerPage;
}

int TablePrinter::print(QPrinter& printer) const
{
    const Layout l = layout(printer);
    QPainter p;
    if (!p.begin(&printer))
        return 0;
    const QFont font = tableFont(printer);
    const QFont bold = tableFont(printer, true);
    const QFontMetrics fm(font, &printer);
    for (int page = 0; page < l.pages; ++page) {
        if (page > 0)
            printer.newPage();
        p.save();
        p.scale(l.scale, l.scale);
        p.setFont(bold);
        const int titleHeight = QFontMetrics(bold, &printer).height();
        p.drawText(QRectF(0, 0, l.pageWidth, titleHeight), Qt::AlignLeft | Qt::AlignVCenter, m_title);
        p.setFont(font);
        p.drawText(QRectF(0, 0, l.pageWidth, titleHeight), Qt::AlignRight | Qt::AlignVCenter, m_date);

        double y = titleHeight * 2;
        auto drawRow = [&](int row) {
            double x = 0;
            for (size_t i = 0; i < m_columns.size(); ++i) {
                const QRectF cell(x, y, l.widths[i] - fm.horizontalAdvance(QLatin1Char('0')) / 2.0, l.rowHeight);
                p.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter,
                           fm.elidedText(cellText(m_table.cell(row, m_columns[i])), Qt::ElideRight, int(cell.width())));
                x += l.widths[i];
            }
            y += l.rowHeight;
        };
        p.setFont(bold);
        drawRow(0);
        p.drawLine(QPointF(0, y), QPointF(l.pageWidth, y));
        y += l.rowHeight / 2.0;
        p.setFont(font);
        const int first = 1 + page * l.rowsPerPage;
        const int last = std::min(dataRows(), first + l.rowsPerPage - 1);
        for (int r = first; r <= last; ++r)
            drawRow(r);
        p.drawText(QRectF(0, l.pageHeight - l.rowHeight, l.pageWidth, l.rowHeight), Qt::AlignCenter,
                   QStringLiteral("Page %1 of %2").arg(page + 1).arg(l.pages));
        p.restore();
    }
    p.end();
    return l.pages;
}

void TablePrinter::preview(const MeterTable& table, std::vector<int> columns, QWidget* parent)
{
    const QString date = QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
    TablePrinter printer(table, std::move(columns), QStringLiteral("Palvero - meter table"), date);
    QPrinter device(QPrinter::HighResolution);
    device.setPageOrientation(QPageLayout::Landscape);
    QPrintPreviewDialog dialog(&device, parent);
    dialog.setObjectName("PrintPreview");
    dialog.setWindowTitle("Print table data");
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
                     [&printer](QPrinter* p) { printer.print(*p); });
    dialog.exec();
}

} // namespace palvero
