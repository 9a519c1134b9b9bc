#pragma once

#include "operator.h"
#include "program_paths.h"
#include "settings.h"
#include "template_file.h"

#include <QDialog>

#include <array>
#include <cstdint>
#include <string>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTableWidget;

namespace palvero {

// What the Templates window works with; all of it outlives the window.
struct TemplatesWindowContext {
    const Settings& settings;
    Operator& op;
    TemplateFile& templates;
    ProgramPaths paths;
    QWidget* anchor = nullptr; // the window it is centred on
};

// "Create/Change Import and Export templates": edits the templates of tmplates.dat. A
// template is a row of up to 16 grid columns, each with a column type shown in its header
// cell; the editor keeps the 16 working type bytes that "Save" stores. A sample CSV file
// can be loaded into the grid to match the columns by eye; it is never saved.
class TTemplates : public QDialog {
    Q_OBJECT
public:
    explicit TTemplates(TemplatesWindowContext context);

    // The window's commands, also reached through its buttons and the grid's popup menu.
    void newTemplate();
    void changeTemplate();
    void loadTemplate(const QString& name);
    void saveTemplate();
    void deleteTemplate();
    void cancel();
    void closeEditing();
    void setColumnType(int code);
    void clearType();
    void addColumn();
    void removeColumn();
    void clearGrid();
    void loadFile();

    // Makes `column` the selected template column (-1 for none) and updates the hint.
    void selectColumn(int column);
    // Selects the column at the click and opens the popup menu, built anew, at `globalPos`.
    void openGridMenu(int column, const QPoint& globalPos);

    // The working column types and the selected template column (255 before any selection).
    const std::array<std::uint8_t, columntype::MaxColumns>& workingTypes() const { return m_types; }
    int selectedColumn() const { return m_selected; }
    QString headerText(int column) const;

    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* BitBtn3 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* Combo_templateType = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Edit_templateName = nullptr;
    QLabel* Label_oldTemplates = nullptr;
    QComboBox* Combo_oldTemplates = nullptr;
    QPushButton* Butt_saveTemplate = nullptr;
    QPushButton* Butt_templateDelete = nullptr;
    QPushButton* Butt_cancel = nullptr;
    QTableWidget* StringGrid1 = nullptr;
    QMenu* Menu_grid = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWindow();
    void buildGridMenu();
    void setHeaderText(int column, const QString& text);
    void clearHeaderCells();
    void clearDataRows();
    void setColumnCount(int columns);
    void fillOldTemplates();
    void message(const std::string& text);

    TemplatesWindowContext m_context;
    std::array<std::uint8_t, columntype::MaxColumns> m_types;
    int m_selected = columntype::None;
    QMenu* m_typeMenu = nullptr;
};

} // namespace palvero
