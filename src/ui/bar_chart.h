#pragma once

#include <QColor>
#include <QWidget>

#include <string>
#include <vector>

namespace palvero {

// One bar: its position, its value and the label drawn for it on the top axis.
struct ChartBar {
    int x = 0;
    int y = 0;
    std::string label;
};

// A bar chart painted in one pass, for many thousands of bars: the value axis on the
// left has a fixed range, the bars hang from 0 as on any bar chart whose origin is 0,
// their labels stand on the top axis and the positions on the bottom axis, both turned
// by 90 degrees. Where bars are narrower than a few pixels they are drawn per pixel
// column and labels are thinned out so that none overlaps. The horizontal view zooms
// (wheel, zoomIn/zoomOut) and scrolls (drag); a double click or resetView shows all.
class BarChart : public QWidget {
    Q_OBJECT
public:
    explicit BarChart(QWidget* parent = nullptr);

    void setTitle(const QString& title);
    QString title() const { return m_title; }
    void setValueAxisTitle(const QString& title);
    QString valueAxisTitle() const { return m_axisTitle; }
    void setValueRange(int minimum, int maximum);
    int valueMinimum() const { return m_min; }
    int valueMaximum() const { return m_max; }

    // Bars in ascending x.
    void setBars(std::vector<ChartBar> bars);
    const std::vector<ChartBar>& bars() const { return m_bars; }

    // Bars whose label is exactly this text are drawn in the highlight colour; an empty
    // text highlights nothing. Gives the index of the first such bar, or -1.
    int setHighlight(const std::string& label);
    const std::string& highlight() const { return m_highlight; }
    QColor barColour(size_t index) const;

    static const QColor kBarColour;
    static const QColor kHighlightColour;
    // A value axis label: the whole number, as the format "###" writes it.
    static QString valueLabel(int value);

    // The horizontal view, in positions; all bars when not zoomed.
    double viewStart() const;
    double viewEnd() const;
    bool isZoomed() const { return m_zoomed; }
    void zoomIn();
    void zoomOut();
    void resetView();
    // Scales the view around position x (factor < 1 zooms in).
    void zoomAround(double x, double factor);
    // Scrolls a zoomed view so that position x is in its middle.
    void centreOn(double x);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    QRect plotArea() const;
    double fullStart() const;
    double fullEnd() const;
    void setView(double start, double end);
    double positionAt(int pixel) const;
    int barNear(double position) const;
    void updateCursor();

    std::vector<ChartBar> m_bars;
    std::string m_highlight;
    QString m_title;
    QString m_axisTitle;
    int m_min = -120;
    int m_max = -20;
    bool m_zoomed = false;
    double m_viewStart = 0;
    double m_viewEnd = 1;
    bool m_dragging = false;
    int m_dragFrom = 0;
    double m_dragViewStart = 0;
};

} // namespace palvero
