#pragma once

#include "error_logger.h"
#include "formats.h"
#include "operator.h"
#include "program_paths.h"
#include "settings.h"

#include <QPointer>
#include <QWidget>

#include <cstddef>
#include <memory>

class QDateEdit;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTableView;
class QTimer;

namespace palvero {

class ReportModel;
class ReportScan;

// What the Reports window works with; all of it outlives the window.
struct ReportsContext {
    const Settings& settings;
    const Formats& formats;
    Operator& op;
    ErrorLogger& errorLog;
    ProgramPaths paths;
};

// "Reports": the saved readings of db.mrv whose date lies in a range of days, with export to
// CSV and emptying of the file. A report reads the file a slice at a time from the event loop,
// so the window stays responsive, shows its progress and can be cancelled; the rows found so
// far stay when it is cancelled or meets a damaged record.
class TForm2 : public QWidget {
    Q_OBJECT
public:
    explicit TForm2(ReportsContext context, QWidget* mainWindow = nullptr);
    ~TForm2() override;

    // Tools "Reports": shows the window centred on the main window.
    void open();

    // "Report" and Enter: starts a report over the chosen days (nothing when one runs).
    void report();
    void cancelReport();
    bool reportRunning() const { return static_cast<bool>(m_scan); }
    void exportReport();
    void deleteAll();
    // Popup "Clear" and closing: the empty report.
    void clearReport();

    ReportModel& model() { return *m_model; }
    // How much one slice of a report reads: records per read, and the time after which the
    // slice gives the event loop back.
    void setSlice(std::size_t recordsPerRead, int milliseconds);

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QDateEdit* Date_from = nullptr;
    QDateEdit* Date_to = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* BitBtn3 = nullptr;
    QTableView* Grid_reports = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QProgressBar* Progress_report = nullptr;
    QPushButton* Butt_cancel = nullptr;

signals:
    // A report ended: finished, failed or cancelled.
    void reportEnded();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWindow();
    void readSlice();
    void endReport();
    void setRunning(bool running);

    ReportsContext m_context;
    QPointer<QWidget> m_mainWindow;
    ReportModel* m_model = nullptr;
    std::unique_ptr<ReportScan> m_scan;
    QTimer* m_slices = nullptr;
    std::size_t m_recordsPerRead;
    int m_sliceMs;
};

} // namespace palvero
