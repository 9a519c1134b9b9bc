#pragma once

#include "bar_chart.h"
#include "meter_table.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace palvero {

// The signal strength chart: one bar per meter row at its row number, its height the
// row's "RSSI, dBm" as a whole number (0 for other text, no bar for an empty cell),
// labelled with the meter ID, after a fixed first point "0". The bars are rebuilt from
// the table while the window is shown, at most a few times a second however fast
// telegrams arrive, and at once when it is shown, so that a walk past thousands of
// meters never waits for the chart. A meter ID typed in "Highlight exact meter/device"
// draws that meter's bar in another colour.
class TForm5 : public QWidget, public MeterTableListener {
    Q_OBJECT
public:
    // Rebuilds happen at least this many milliseconds apart.
    static constexpr int kRebuildInterval = 250;

    explicit TForm5(MeterTable& table, QWidget* parent = nullptr);
    ~TForm5() override;

    // Rebuilds the bars from the table now; an error is written to the scratch lines.
    void updateChart();
    // "View signal strenght".
    void showWindow();
    // The bars as drawn, the fixed first point included.
    const std::vector<ChartBar>& points() const { return Chart_signal->bars(); }
    // Rebuilds so far (for the reading's figures).
    long rebuildCount() const { return m_rebuilds; }

    // Table notifications: any change to rows may change the bars.
    void rowUpdated(int row) override;
    void tableRebuilt() override;
    void rowRemoved() override;
    void reset() override;

    BarChart* Chart_signal = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Edit_searchMeter = nullptr;
    QPushButton* BitBtn1 = nullptr; // Close
    QPushButton* BitBtn2 = nullptr; // zoom in
    QPushButton* BitBtn3 = nullptr; // zoom out
    QPushButton* BitBtn4 = nullptr; // whole table

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void tableChanged();
    void highlightMeter(const QString& id);

    MeterTable& m_table;
    QTimer* m_rebuild = nullptr;
    bool m_stale = true;
    bool m_placed = false;
    long m_rebuilds = 0;
};

} // namespace palvero
