#include "bar_chart.h"

#include "cell_text.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>

namespace palvero {

namespace {

constexpr double kBarShare = 0.2;  // bar width as a share of the space per position
constexpr double kMinimumSpan = 4; // positions shown at the deepest zoom
constexpr int kValueStep = 10;     // between value axis labels
constexpr int kGap = 4;

// The smallest of 1, 2, 5, 10, 20, 50 ... positions whose labels do not overlap.
int labelStep(double pixelsPerPosition, int labelHeight)
{
    for (int decade = 1;; decade *= 10)
        for (int m : {1, 2, 5})
            if (pixelsPerPosition * m * decade >= labelHeight || decade > 100000000)
                return m * decade;
}

} // namespace

const QColor BarChart::kBarColour = QColor(255, 0, 0);
const QColor BarChart::kHighlightColour = QColor(0, 70, 230);

BarChart::BarChart(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(false);
    setMinimumSize(240, 200);
    setFocusPolicy(Qt::ClickFocus);
}

void BarChart::setTitle(const QString& title)
{
    m_title = title;
    update();
}

void BarChart::setValueAxisTitle(const QString& title)
{
    m_axisTitle = title;
    update();
}

void BarChart::setValueRange(int minimum, int maximum)
{
    m_min = std::min(minimum, maximum - 1);
    m_max = maximum;
    update();
}

void BarChart::setBars(std::vector<ChartBar> bars)
{
    m_bars = std::move(bars);
    if (m_zoomed)
        setView(m_viewStart, m_viewEnd);
    update();
}

int BarChart::setHighlight(const std::string& label)
{
    m_highlight = label;
    update();
    if (label.empty())
        return -1;
    for (size_t i = 0; i < m_bars.size(); ++i)
        if (m_bars[i].label == label)
            return static_cast<int>(i);
    return -1;
}

QColor BarChart::barColour(size_t index) const
{
    return index < m_bars.size() && !m_highlight.empty() && m_bars[index].label == m_highlight ? kHighlightColour
                                                                                               : kBarColour;
}

QString BarChart::valueLabel(int value)
{
    // "###" has no compulsory digit: zero is written as nothing.
    return value == 0 ? QString() : QString::number(value);
}

double BarChart::fullStart() const
{
    return m_bars.empty() ? -0.5 : m_bars.front().x - 0.5;
}

double BarChart::fullEnd() const
{
    return m_bars.empty() ? 0.5 : m_bars.back().x + 0.5;
}

double BarChart::viewStart() const
{
    return m_zoomed ? m_viewStart : fullStart();
}

double BarChart::viewEnd() const
{
    return m_zoomed ? m_viewEnd : fullEnd();
}

void BarChart::setView(double start, double end)
{
    const double first = fullStart(), last = fullEnd();
    double span = std::max(end - start, std::min(kMinimumSpan, last - first));
    if (span >= last - first) {
        m_zoomed = false;
    } else {
        start = std::clamp(start, first, last - span);
        m_viewStart = start;
        m_viewEnd = start + span;
        m_zoomed = true;
    }
    updateCursor();
    update();
}

void BarChart::zoomAround(double x, double factor)
{
    const double start = viewStart(), end = viewEnd();
    const double share = end > start ? (x - start) / (end - start) : 0.5;
    const double span = (end - start) * factor;
    setView(x - share * span, x - share * span + span);
}

void BarChart::zoomIn()
{
    zoomAround((viewStart() + viewEnd()) / 2, 0.5);
}

void BarChart::zoomOut()
{
    zoomAround((viewStart() + viewEnd()) / 2, 2.0);
}

void BarChart::resetView()
{
    m_zoomed = false;
    updateCursor();
    update();
}

void BarChart::centreOn(double x)
{
    if (!m_zoomed)
        return;
    const double span = m_viewEnd - m_viewStart;
    setView(x - span / 2, x + span / 2);
}

void BarChart::updateCursor()
{
    setCursor(m_zoomed ? Qt::OpenHandCursor : Qt::ArrowCursor);
}

QRect BarChart::plotArea() const
{
    const QFontMetrics fm(font());
    QFont bold = font();
    bold.setBold(true);
    const QFontMetrics titleFm(bold);
    const int left = fm.height() + kGap + fm.horizontalAdvance(valueLabel(m_min)) + kGap * 2;
    const int top = titleFm.height() + kGap + fm.horizontalAdvance("00000000") + kGap * 2;
    const int bottom = fm.horizontalAdvance(QString::number(std::max(std::abs(int(fullEnd())), 10000))) + kGap * 2;
    return QRect(left, top, std::max(width() - left - kGap * 3, 10), std::max(height() - top - bottom, 10));
}

double BarChart::positionAt(int pixel) const
{
    const QRect plot = plotArea();
    return viewStart() + (pixel - plot.left()) * (viewEnd() - viewStart()) / plot.width();
}

int BarChart::barNear(double position) const
{
    const int x = static_cast<int>(std::lround(position));
    auto it = std::lower_bound(m_bars.begin(), m_bars.end(), x, [](const ChartBar& b, int v) { return b.x < v; });
    return it != m_bars.end() && it->x == x ? static_cast<int>(it - m_bars.begin()) : -1;
}

void BarChart::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    const QRect plot = plotArea();
    const QFontMetrics fm(font());
    const double start = viewStart(), end = viewEnd();
    const double perPosition = plot.width() / (end - start);
    const auto pixelOf = [&](double x) { return plot.left() + (x - start) * perPosition; };
    const auto heightOf = [&](double y) {
        return plot.top() + (m_max - std::clamp(y, double(m_min), double(m_max))) * plot.height() / (m_max - m_min);
    };

    QFont bold = font();
    bold.setBold(true);
    p.setFont(bold);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QRect(0, 0, width(), QFontMetrics(bold).height() + kGap), Qt::AlignCenter, m_title);
    p.setFont(font());

    // Value axis: a label and a grid line every ten, the title turned along it.
    p.fillRect(plot, palette().color(QPalette::Base));
    for (int v = m_min - m_min % kValueStep; v <= m_max; v += kValueStep) {
        if (v < m_min)
            continue;
        const int y = static_cast<int>(std::lround(heightOf(v)));
        p.setPen(QPen(QColor(220, 220, 220), 1, Qt::DotLine));
        p.drawLine(plot.left(), y, plot.right(), y);
        p.setPen(palette().color(QPalette::WindowText));
        const QString text = valueLabel(v);
        p.drawText(plot.left() - kGap - fm.horizontalAdvance(text), y + fm.ascent() / 2 - 1, text);
    }
    p.save();
    p.translate(kGap / 2 + fm.ascent(), plot.center().y());
    p.rotate(-90);
    p.drawText(-fm.horizontalAdvance(m_axisTitle) / 2, 0, m_axisTitle);
    p.restore();

    // Bars of the view. Bars closer than a few pixels share pixel columns; each column
    // then shows the union of its bars, so no bar is lost however far out the view is.
    auto first = std::lower_bound(m_bars.begin(), m_bars.end(), std::floor(start),
                                  [](const ChartBar& b, double v) { return b.x < v; });
    auto last = std::upper_bound(m_bars.begin(), m_bars.end(), std::ceil(end),
                                 [](double v, const ChartBar& b) { return v < b.x; });
    const double origin = heightOf(0);
    const double barWidth = std::max(1.0, perPosition * kBarShare);
    const bool perColumn = perPosition < 3;
    std::vector<std::pair<int, int>> columns(perColumn ? static_cast<size_t>(plot.width()) + 1 : 0, {std::numeric_limits<int>::max(), -1});
    p.setClipRect(plot);
    std::vector<QRectF> highlighted;
    for (auto it = first; it != last; ++it) {
        const double value = heightOf(it->y);
        const double top = std::min(origin, value), bottom = std::max(origin, value);
        if (bottom - top < 0.5)
            continue;
        const double centre = pixelOf(it->x);
        if (!m_highlight.empty() && it->label == m_highlight) {
            const double w = std::max(barWidth, 3.0);
            highlighted.emplace_back(centre - w / 2, top, w, bottom - top);
        } else if (perColumn) {
            const int c = std::clamp(static_cast<int>(centre) - plot.left(), 0, plot.width());
            auto& column = columns[static_cast<size_t>(c)];
            column.first = std::min(column.first, static_cast<int>(std::floor(top)));
            column.second = std::max(column.second, static_cast<int>(std::ceil(bottom)));
        } else {
            p.fillRect(QRectF(centre - barWidth / 2, top, barWidth, bottom - top), kBarColour);
        }
    }
    for (size_t c = 0; c < columns.size(); ++c)
        if (columns[c].second >= columns[c].first)
            p.fillRect(QRect(plot.left() + static_cast<int>(c), columns[c].first, 1,
                             columns[c].second - columns[c].first),
                       kBarColour);
    for (const QRectF& r : highlighted)
        p.fillRect(r, kHighlightColour);
    p.setClipping(false);

    p.setPen(QColor(128, 128, 128));
    p.drawRect(plot.adjusted(0, 0, -1, -1));

    // Top axis: the bars' labels, as many as fit side by side.
    p.setPen(palette().color(QPalette::WindowText));
    const int lineHeight = fm.height();
    double lastLabel = -1e9;
    const auto drawTurned = [&](double x, int baseY, const QString& text, bool above) {
        p.save();
        p.translate(x, baseY);
        p.rotate(-90);
        p.drawText(above ? 0 : -fm.horizontalAdvance(text), fm.ascent() / 2 - 1, text);
        p.restore();
    };
    for (auto it = first; it != last; ++it) {
        const double x = pixelOf(it->x);
        const bool marked = !m_highlight.empty() && it->label == m_highlight;
        if (x - lastLabel < lineHeight && !marked)
            continue;
        if (marked) {
            p.setPen(kHighlightColour);
            p.setFont(bold);
        }
        drawTurned(x, plot.top() - kGap, cellText(it->label), true);
        if (marked) {
            p.setPen(palette().color(QPalette::WindowText));
            p.setFont(font());
        }
        lastLabel = x;
    }

    // Bottom axis: the positions, at a step that keeps them apart.
    const int step = labelStep(perPosition, lineHeight + 2);
    for (long long x = static_cast<long long>(std::ceil(start / step)) * step; x <= end; x += step)
        drawTurned(pixelOf(double(x)), plot.bottom() + kGap, QString::number(x), false);
}

void BarChart::wheelEvent(QWheelEvent* event)
{
    const int delta = event->angleDelta().y();
    if (delta == 0) {
        event->ignore();
        return;
    }
    zoomAround(positionAt(static_cast<int>(event->position().x())), delta > 0 ? 0.8 : 1.25);
    event->accept();
}

void BarChart::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_zoomed) {
        m_dragging = true;
        m_dragFrom = static_cast<int>(event->position().x());
        m_dragViewStart = m_viewStart;
        setCursor(Qt::ClosedHandCursor);
    }
    QWidget::mousePressEvent(event);
}

void BarChart::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging) {
        const double span = m_viewEnd - m_viewStart;
        const double moved = (static_cast<int>(event->position().x()) - m_dragFrom) * span / plotArea().width();
        setView(m_dragViewStart - moved, m_dragViewStart - moved + span);
    }
    QWidget::mouseMoveEvent(event);
}

void BarChart::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_dragging && event->button() == Qt::LeftButton) {
        m_dragging = false;
        updateCursor();
    }
    QWidget::mouseReleaseEvent(event);
}

void BarChart::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        resetView();
    QWidget::mouseDoubleClickEvent(event);
}

bool BarChart::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int i = plotArea().contains(help->pos()) ? barNear(positionAt(help->pos().x())) : -1;
        if (i >= 0) {
            const ChartBar& b = m_bars[static_cast<size_t>(i)];
            QToolTip::showText(help->globalPos(), QString("%1\n%2 dBm, row %3")
                                                      .arg(cellText(b.label))
                                                      .arg(b.y)
                                                      .arg(b.x),
                               this);
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QWidget::event(event);
}

} // namespace palvero
