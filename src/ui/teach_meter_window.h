#pragma once

#include "error_logger.h"
#include "formats.h"
#include "meter_format_search.h"
#include "meter_key_source.h"
#include "meter_table.h"
#include "operator.h"
#include "program_paths.h"
#include "reception.h"
#include "reading_settings.h"

#include <QDialog>

#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableWidget;
class QTextEdit;

namespace palvero {

// What the teach window works with; all of it outlives the window.
struct TeachMeterContext {
    MeterTable& table;
    Reception& reception;
    const ReadingSettings& settings;
    const Formats& formats;
    Operator& op;
    ErrorLogger& errorLog;
    MeterKeySource* keys;
    ProgramPaths paths;
};

// "Teach meter": the telegrams heard from one meter in this session (or pasted ones),
// each with the reading the operator types from the meter's display. "Search" looks for
// the fields that give every reading; one field left can be saved as a meter format in
// the data folder, which reads the meter at once and from its next telegram on.
class TTeachMeter : public QDialog {
    Q_OBJECT
public:
    explicit TTeachMeter(TeachMeterContext context, QWidget* centreOver = nullptr);
    ~TTeachMeter() override;

    // Opens the window for the meter of a table row, with the telegram heard last from it.
    void openFor(int row);
    // Opens the window without telegrams (Tools): telegrams are pasted.
    void openEmpty();
    // A telegram of the meter was read: a new one joins the list.
    void telegramHeard(int row);
    // Takes a pasted telegram (a receiver frame or a telegram from its L field on); false,
    // with the reason in the result line, when it cannot be used.
    bool addTelegramText(const std::string& text);
    void setReading(int telegram, const std::string& reading);
    // Runs the search over the telegrams that have a reading.
    void search();
    // Keeps the one candidate as a meter format; false when there is none or it cannot be written.
    bool saveFormat();

    int telegramCount() const { return static_cast<int>(m_samples.size()); }
    const FormatSearch& lastSearch() const { return m_search; }
    QString resultText() const;

    QLabel* Label_meter = nullptr;
    QTableWidget* Grid_telegrams = nullptr;
    QLineEdit* Edit_telegram = nullptr;
    QPushButton* Button_add = nullptr;
    QComboBox* Combo_unit = nullptr;
    QLineEdit* Edit_formatName = nullptr;
    QPushButton* Button_search = nullptr;
    QListWidget* List_candidates = nullptr;
    QTextEdit* Memo_bytes = nullptr;
    QLabel* Label_result = nullptr;
    QPushButton* Button_save = nullptr;
    QPushButton* Button_close = nullptr;

protected:
    void reject() override;

private:
    bool addFrame(const ReceiverFrame& frame, const std::string& rowKey);
    void showBytes();
    void setResult(const std::string& text);
    void clearSearch();

    TeachMeterContext m_context;
    QWidget* m_centreOver;
    std::string m_meterId;
    std::vector<TeachSample> m_samples;
    std::vector<ReceiverFrame> m_frames; // as heard, to tell a new telegram from one listed
    FormatSearch m_search;
};

} // namespace palvero
