#pragma once

#include "error_logger.h"
#include "meter_table.h"
#include "operator.h"
#include "settings.h"

#include <QDialog>

#include <functional>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace palvero {

class MeterTree;

// What the key dialog works with; all of it outlives the dialog.
struct KeyWindowContext {
    const Settings& settings;
    Operator& op;
    ErrorLogger& errorLog;
    MeterTable& table;
    MeterTree& tree;
};

// The key dialog: the AES-128 key of one meter, or of every meter in the table, typed as
// 32 hexadecimal digits. The key goes into the rows' "Encryption key" cells and their key
// nodes in the tree; decryption takes it from there with the meter's next telegram.
class TEnterAES : public QDialog {
    Q_OBJECT
public:
    explicit TEnterAES(KeyWindowContext context, QWidget* centreOver = nullptr);

    // The "Enter AES-128 key" commands for a table row. With the master key in use the
    // dialog stays closed and a warning says why (false). The pop-up command also clears
    // "Use this Key for all ".
    bool openFor(int row, bool clearAllMeters);
    // "Done": stores the key (padded to 32 digits when AutoFillKey is set) and hides. An
    // empty field stores nothing and says so beside it; for all meters the operator is
    // asked first, with the number of meters whose keys it replaces. False when nothing
    // was stored.
    bool applyKey();
    // "Cancel": hides and changes nothing.
    void cancel();

    // The key as "Done" would store it.
    std::string keyToStore() const;

    // Around every change of the table's keys, so that Edit › Undo takes it back.
    std::function<void(const std::string& caption)> beforeChange;
    std::function<void()> afterChange;

    QLabel* Label_aesKey = nullptr;
    QLineEdit* Edit_enterKey = nullptr;
    QLabel* Label_keyProblem = nullptr; // why the key is refused
    QLabel* Label1 = nullptr;
    QCheckBox* Check_allAES = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;

private:
    void storeKey(int row, const std::string& key);

    KeyWindowContext m_context;
    QWidget* m_centreOver;
    // The meter named in the label: the key goes to that meter even if the selection in
    // the table moves or rows are re-ordered while the dialog is open.
    int m_row = 0;
    std::string m_meterId;
};

} // namespace palvero
