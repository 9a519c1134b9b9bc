#pragma once

#include "error_logger.h"
#include "meters_file.h"
#include "operator.h"
#include "program_paths.h"
#include "settings.h"

#include <QWidget>

#include <string>

class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTableView;

namespace palvero {

class TextGridModel;

// What the meters window works with; all of it outlives the window.
struct MetersViewContext {
    MetersFile& meters;
    const Settings& settings;
    Operator& op;
    ErrorLogger& errorLog;
    ProgramPaths paths;
};

// "Meters and Keys database": the meters of meters.mrv with their keys, to add, update,
// delete, import and export. The grid is reloaded from the file whenever the window is shown
// or activated, so it follows changes made from the main table.
class TMetersView : public QWidget {
    Q_OBJECT
public:
    explicit TMetersView(MetersViewContext context, QWidget* parent = nullptr);
    ~TMetersView() override;

    // Tools "Saved Meters": empties both edit fields and shows the window.
    void open();

    // Fills Grid_meters from the file, one row per record (one empty row when there is none).
    void LoadMetersGrid();
    // "Delete All": empties the file after the operator's Yes.
    void ClearMeters();
    // Saves the meters of a CSV file (ID and key per line) in one write, and says in one box
    // what it added, changed and skipped; false when the import failed.
    bool ImportMetersCsv(const std::string& fileName);

    // The commands of the buttons and the popup menu.
    void newOrUpdate();
    void deleteSelected();
    void deleteAllListed();
    void exportGrid();
    void importFile();

    // Grid row last selected by the operator (from 1), -1 before any selection.
    int selectedRow() const { return m_selectedRow; }
    const TextGridModel& model() const { return *m_model; }

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Edit_id = nullptr;
    QLineEdit* Edit_aes = nullptr;
    QLabel* Label_keyProblem = nullptr; // why the key is refused
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* BitBtn3 = nullptr;
    QPushButton* BitBtn4 = nullptr;
    QPushButton* BitBtn5 = nullptr;
    QTableView* Grid_meters = nullptr;
    QMenu* PopupMenu1 = nullptr;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildWindow();
    void rowSelected(int gridRow);
    // Selects the first row listing the meter, or nothing when none does.
    void selectMeter(const std::string& meterId);
    void showRow(int gridRow);
    void selectInView(int gridRow);
    bool gridIsEmpty() const;
    void clearEdits();

    MetersViewContext m_context;
    TextGridModel* m_model = nullptr;
    int m_selectedRow = -1;
    std::string m_selectedId; // the meter of the selected row
    // Set while the window itself moves the view's current row.
    bool m_moving = false;
};

} // namespace palvero
