#include "signal_chart.h"

#include "cell_text.h"
#include "window_placement.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <charconv>
#include <exception>

namespace palvero {

namespace {

enum class ViewIcon { ZoomIn, ZoomOut, All };

QIcon drawIcon(ViewIcon kind)
{
    QPixmap pm(20, 20);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(40, 40, 40);
    if (kind == ViewIcon::All) {
        // Two arrows pointing apart: the whole width.
        p.setPen(QPen(ink, 2));
        p.drawLine(QPointF(3, 10), QPointF(17, 10));
        p.drawPolyline(QPolygonF({QPointF(7, 6), QPointF(3, 10), QPointF(7, 14)}));
        p.drawPolyline(QPolygonF({QPointF(13, 6), QPointF(17, 10), QPointF(13, 14)}));
        p.drawLine(QPointF(1.5, 3), QPointF(1.5, 17));
        p.drawLine(QPointF(18.5, 3), QPointF(18.5, 17));
        return QIcon(pm);
    }
    p.setPen(QPen(ink, 1.8));
    p.setBrush(QColor(230, 240, 255));
    p.drawEllipse(QRectF(2, 2, 11, 11));
    p.setPen(QPen(ink, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(12, 12), QPointF(17.5, 17.5));
    p.setPen(QPen(ink, 1.6));
    p.drawLine(QPointF(5, 7.5), QPointF(10, 7.5));
    if (kind == ViewIcon::ZoomIn)
        p.drawLine(QPointF(7.5, 5), QPointF(7.5, 10));
    return QIcon(pm);
}

// The RSSI text as a whole number; any other text counts as 0.
int wholeNumber(const std::string& text)
{
    int value = 0;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    return res.ec == std::errc() && res.ptr == text.data() + text.size() ? value : 0;
}

} // namespace

TForm5::TForm5(MeterTable& table, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint)
    , m_table(table)
{
    setObjectName("TForm5");
    setWindowTitle("Signal strenght Chart");

    Label1 = new QLabel("&Highlight exact meter/device", this);
    Label1->setObjectName("Label1");
    Edit_searchMeter = new QLineEdit(this);
    Edit_searchMeter->setObjectName("Edit_searchMeter");
    Edit_searchMeter->setMaxLength(8);
    refuseUnheldCharacters(Edit_searchMeter);
    Edit_searchMeter->setFixedWidth(QFontMetrics(Edit_searchMeter->font()).horizontalAdvance("000000000") + 16);
    Edit_searchMeter->setToolTip("The bar of the meter with exactly this ID is drawn in blue");
    Label1->setBuddy(Edit_searchMeter);
    connect(Edit_searchMeter, &QLineEdit::textChanged, this, &TForm5::highlightMeter);

    BitBtn2 = new QPushButton(drawIcon(ViewIcon::ZoomIn), QString(), this);
    BitBtn2->setObjectName("BitBtn2");
    BitBtn2->setToolTip("Zoom in (+)");
    BitBtn3 = new QPushButton(drawIcon(ViewIcon::ZoomOut), QString(), this);
    BitBtn3->setObjectName("BitBtn3");
    BitBtn3->setToolTip("Zoom out (-)");
    BitBtn4 = new QPushButton(drawIcon(ViewIcon::All), QString(), this);
    BitBtn4->setObjectName("BitBtn4");
    BitBtn4->setToolTip("Show every meter (0)");
    BitBtn1 = new QPushButton("Close", this);
    BitBtn1->setObjectName("BitBtn1");

    Chart_signal = new BarChart(this);
    Chart_signal->setObjectName("Chart_signal");
    Chart_signal->setTitle("Meters in range, by Serial number");
    Chart_signal->setValueAxisTitle("Strength, in dBm");
    Chart_signal->setValueRange(-120, -20);

    connect(BitBtn2, &QPushButton::clicked, Chart_signal, &BarChart::zoomIn);
    connect(BitBtn3, &QPushButton::clicked, Chart_signal, &BarChart::zoomOut);
    connect(BitBtn4, &QPushButton::clicked, Chart_signal, &BarChart::resetView);
    connect(BitBtn1, &QPushButton::clicked, this, &QWidget::hide);

    auto* bar = new QHBoxLayout;
    bar->addWidget(Label1);
    bar->addWidget(Edit_searchMeter);
    bar->addStretch(1);
    bar->addWidget(BitBtn2);
    bar->addWidget(BitBtn3);
    bar->addWidget(BitBtn4);
    bar->addSpacing(12);
    bar->addWidget(BitBtn1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(bar);
    layout->addWidget(Chart_signal, 1);
    resize(960, 540);

    m_rebuild = new QTimer(this);
    m_rebuild->setSingleShot(true);
    m_rebuild->setInterval(kRebuildInterval);
    connect(m_rebuild, &QTimer::timeout, this, &TForm5::updateChart);

    m_table.addListener(this);
}

TForm5::~TForm5()
{
    m_table.removeListener(this);
}

void TForm5::updateChart()
{
    m_rebuild->stop();
    std::vector<ChartBar> bars;
    try {
        bars.reserve(static_cast<size_t>(m_table.rowCount()));
        bars.push_back({0, 0, "0"});
        for (int r = 1; r < m_table.rowCount(); ++r) {
            const std::string& rssi = m_table.cell(r, col::Rssi);
            if (rssi.empty())
                continue; // a gap: the next meter keeps its row number
            bars.push_back({r, wholeNumber(rssi), m_table.cell(r, col::MeterId)});
        }
    } catch (const std::exception& e) {
        m_table.scratchLines.push_back(std::string("Exception drawing chart - ") + e.what());
    }
    Chart_signal->setBars(std::move(bars));
    m_stale = false;
    ++m_rebuilds;
}

void TForm5::tableChanged()
{
    m_stale = true;
    if (isVisible() && !m_rebuild->isActive())
        m_rebuild->start();
}

void TForm5::rowUpdated(int)
{
    tableChanged();
}

void TForm5::tableRebuilt()
{
    tableChanged();
}

void TForm5::rowRemoved()
{
    tableChanged();
}

void TForm5::reset()
{
    tableChanged();
}

void TForm5::showWindow()
{
    // Centred on the screen the first time; where the operator left it afterwards.
    if (!m_placed) {
        showCentredOver(this, nullptr);
        m_placed = true;
        return;
    }
    if (isVisible()) {
        raise();
    } else {
        fitOnScreen(this);
        show();
    }
    activateWindow();
}

void TForm5::showEvent(QShowEvent* event)
{
    if (m_stale)
        updateChart();
    QWidget::showEvent(event);
}

void TForm5::hideEvent(QHideEvent* event)
{
    // A rebuild that was due waits for the next showing.
    if (m_rebuild->isActive()) {
        m_rebuild->stop();
        m_stale = true;
    }
    QWidget::hideEvent(event);
}

void TForm5::highlightMeter(const QString& id)
{
    const int bar = Chart_signal->setHighlight(cellBytes(id));
    if (bar >= 0)
        Chart_signal->centreOn(Chart_signal->bars()[static_cast<size_t>(bar)].x);
}

void TForm5::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        hide();
        return;
    case Qt::Key_Plus:
        Chart_signal->zoomIn();
        return;
    case Qt::Key_Minus:
        Chart_signal->zoomOut();
        return;
    case Qt::Key_0:
        Chart_signal->resetView();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

} // namespace palvero
