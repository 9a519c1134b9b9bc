#pragma once

#include "error_logger.h"
#include "formats.h"
#include "meter_key_source.h"
#include "meter_table.h"
#include "operator.h"
#include "program_paths.h"
#include "reading_control.h"
#include "reception.h"
#include "serial_port.h"
#include "settings.h"

#include <QMainWindow>

#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTableView;
class QTimer;
class QTreeWidget;

namespace palvero {

class CaptureReplay;
class CentralLink;
class MeterTableModel;
class MeterTree;
class TEnterAES;
class TForm4;
class TForm5;
class TFullDecode;
class TTeachMeter;
class RouteProgress;
class TColourLegend;
class TUnreadMeters;
class UndoStack;

// What the main window works with; all of it outlives the window.
struct MainWindowContext {
    Settings& settings;
    const Formats& formats;
    Operator& op;
    ErrorLogger& errorLog;
    MeterKeySource* keys;
    SerialPort& port;
    Sleeper& sleeper;
    ProgramPaths paths;
};

// The main window: the meter table, the tree of meters, Start/Stop, the search field,
// the status bar and the menus. It owns the meter table and the reading pipeline.
class TForm1 : public QMainWindow, public MeterTableListener {
    Q_OBJECT
public:
    explicit TForm1(MainWindowContext context, QWidget* parent = nullptr);
    ~TForm1() override;

    MeterTable& table() { return m_table; }
    Reception& reception() { return m_reception; }
    ReadingControl& reading() { return m_reading; }
    MeterTree& tree() { return *m_tree; }
    MeterTableModel& model() { return *m_model; }

    // Search in the meter IDs: containment while typing, the whole text on a key press.
    void searchMeter(const QString& text, bool exact);
    // The table commands, also reached through menus, buttons and keys.
    void clearTableButton();
    void clearTablePopup();
    void clearKeys();
    void removeSelectedRow();
    void exportWholeTable();
    void saveLogFile();
    void headerDoubleClicked(int column);
    // The table's readings into db.mrv, and the selected row's meter and key into meters.mrv.
    bool saveMeasurements();
    bool saveMeterFromTable();
    // New meters of the table with their keys into meters.mrv (at exit).
    void saveNewMeters();
    // Help's manuals from the program folder. A manual that is not there, or that no PDF
    // viewer opens, is named in a box that says what to do.
    void openManual(const QString& fileName);
    // Opens a document with the desktop's viewer; false when none opens it. Tests replace it.
    std::function<bool(const QString& path)> openDocument;
    // Applies column count, font size, bold and row height of the table's appearance.
    void applyAppearance();
    // "Copy Full telegram": the selected row's "Full telegram" text on the clipboard.
    void copyFullTelegram();

    // The small windows behind the menus and the pop-up menu. The program attaches each
    // once it exists; its commands are enabled then.
    void attachAboutWindow(TForm4* about);
    void attachKeyWindow(TEnterAES* keyDialog);
    void attachFullDecodeWindow(TFullDecode* fullDecode);
    void attachSignalChart(TForm5* chart);
    void attachTeachWindow(TTeachMeter* teach);

    // Undo: every command that changes the table records itself first (an import too);
    // what it removed or changed is kept once the event handler that ran it is over.
    void recordUndo(const std::string& caption);
    // The same before an import, which also ticks "Do not add new devices": undo clears it
    // again when it was clear.
    void recordImportUndo();
    // The recorded command is over (an import calls it; the window's own commands do).
    void commitUndo();
    void undo();
    UndoStack& undoStack();
    // The known meters of the walk, from meters.mrv; read at start-up and at every Start.
    void reloadRoute();
    RouteProgress& route();
    TUnreadMeters& unreadMeters();
    TColourLegend& colourLegend();
    // File › "Replay capture...": asks for the file and replays it into the table.
    void replayCaptureFile();
    bool startReplay(const QString& path);
    CaptureReplay& captureReplay();
    // The capture of the reading in progress; empty when there is none.
    QString capturePath() const;
    void printTable();
    // The central database, when the settings name one (Tools > "Get my routes", "Send readings").
    CentralLink& central();
    // Columns shown in the table, in order (those the print takes).
    std::vector<int> visibleColumns() const;
    void setFollowLastRead(bool on);
    bool followLastRead() const;
    // Selects a data row and scrolls it into view.
    void showRow(int row);

    void rowUpdated(int row) override;
    void deliveryDone() override;
    void statusText(int panel, const std::string& text) override;
    void tableRebuilt() override;
    void appearanceChanged() override;

    // Controls, named as the operator's manual names them.
    QTableView* Grid_values = nullptr;
    QTreeWidget* Tree_meters = nullptr;
    QPushButton* Butt_read = nullptr;
    QCheckBox* Check_noNew = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* Butt_exportTable = nullptr;
    QLineEdit* Edit_searchID = nullptr;
    QLineEdit* Edit_send_command = nullptr;
    QPushButton* Button1 = nullptr;
    QLabel* StatusPanel0 = nullptr;
    QLabel* StatusPanel1 = nullptr;
    QLabel* StatusPanel2 = nullptr; // route progress
    QLabel* StatusPanel_outbox = nullptr; // readings waiting for the central database
    QTimer* Timer_elapsedTime = nullptr;
    QMenu* PopupMenu1 = nullptr;

signals:
    // Tools > "Templates".
    void templatesRequested();
    // The template choice for File > "Import from CSV" (mode 0), File > "Export data to
    // CSV" and the Export button (mode 1).
    void templateChoiceRequested(int mode);
    // Tools "Reports" and "Saved Meters": the program shows its windows.
    void reportsRequested();
    void savedMetersRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWindow();
    void buildMenus();
    QAction* addCommand(QMenu* menu, const char* caption, const char* objectName, bool enabled);
    void readingStateChanged(const ReadingControl::State& state);
    void selectRow(int row);
    void applyColumnWidths();
    void tableCleared();
    // Route progress, undo, captures, printing and the desktop conventions.
    void buildFieldFeatures();
    void commandDone();
    void searchResult(const QString& text, bool found);
    void restoreGeometryFromSettings();
    void saveGeometryToSettings();
    void readingStarted(bool reading);
    void meterRead(int row);
    // The last read meter is brought into view once per delivery of received bytes.
    void followPending();
    // The outbox, the two Tools commands and the sends at Stop and exit.
    void buildCentralFeatures();

    MainWindowContext m_context;
    MeterTable m_table;
    Reception m_reception;
    ReadingControl m_reading;
    MeterTableModel* m_model = nullptr;
    std::unique_ptr<MeterTree> m_tree;
    TTeachMeter* m_teach = nullptr;
    bool m_followPending = false;
    bool m_followScheduled = false;
    std::unique_ptr<CentralLink> m_central;
    struct Field;
    std::unique_ptr<Field> m_field; // declared last: it listens to the table and the tree
};

} // namespace palvero
