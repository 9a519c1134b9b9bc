#pragma once

#include "error_logger.h"
#include "meter_table.h"
#include "operator.h"
#include "program_paths.h"
#include "settings.h"
#include "table_csv.h"
#include "template_file.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

namespace palvero {

// What the template choice works with; all of it outlives the window.
struct TemplateChoiceContext {
    MeterTable& table;
    const Settings& settings;
    Operator& op;
    ErrorLogger& errorLog;
    TemplateFile& templates;
    ProgramPaths paths;
    QWidget* anchor = nullptr; // the window it is centred on
};

// "Select template for import": picks the template of a CSV import or export of the meter
// table, or "<None>", then runs the command. Its mode stays from the command that opened
// it until the next one.
class TForm3 : public QDialog {
    Q_OBJECT
public:
    enum Mode { ImportMode = 0, ExportMode = 1 };

    explicit TForm3(TemplateChoiceContext context);

    // Sets the mode, fills the list from tmplates.dat and shows the window.
    void openFor(int mode);
    int mode() const { return m_mode; }
    // Closes the window, then exports or imports with the text of Combo_templates. A name
    // that names no template in tmplates.dat is refused (Label_problem says so) and the
    // window stays.
    void apply();
    const TableCsvResult& lastResult() const { return m_last; }

    QLabel* Label1 = nullptr;
    QComboBox* Combo_templates = nullptr;
    QLabel* Label_problem = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;

signals:
    // Rows were imported into the table: reading goes on with these meters only.
    void tableImported();
    // Around every import, whatever its outcome: the table may change between the two.
    void importStarting();
    void importFinished();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The list offers "<None>" and the templates of the mode's type, in file order.
    void activate();
    bool namesNoTemplate(const std::string& name);

    TemplateChoiceContext m_context;
    int m_mode = ExportMode;
    TableCsvResult m_last;
};

} // namespace palvero
