#pragma once

#include "meter_table.h"
#include "operator.h"
#include "program_paths.h"
#include "qt_timer.h"
#include "reading_control.h"
#include "serial_port.h"
#include "settings.h"
#include "v1_commands.h"
#include "v2_commands.h"

#include <QDialog>
#include <QPointer>
#include <QWindow>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTimer;

namespace palvero {

class ColourButton;
class StatusLamp;

// What the Settings window works with; all of it outlives the window.
struct SettingsWindowContext {
    Settings& settings;
    MeterTable& table;         // appearance, reader log, the main window's status bar
    ReadingControl& reading;   // the reading port, which the v1 commands share
    SerialPort& commandPort;   // the v2 receiver's command port
    Sleeper& sleeper;
    Operator& op;
    ProgramPaths paths;
};

// The Settings window: every option of the settings record on two pages, and the
// configuration commands of the v1 and v2 receivers. Each control edits the record at
// once; Apply makes a page permanent in the settings file. Created hidden; closing,
// Cancel, Close and Apply hide it, and each showing reloads the record from the file.
class TSettings : public QDialog {
    Q_OBJECT
public:
    explicit TSettings(SettingsWindowContext context, QWidget* parent = nullptr);
    ~TSettings() override;

    // Every key with its start-up default, the rules of the tied boxes, the first page.
    void load();
    // Every key again (a missing one with its start-up default, a speed or parity that no
    // port takes with the activation defaults), the title rule, the lamp back to idle.
    // Edits not yet applied that differ from the file are dropped only when the operator
    // answers "Read the file again"; "Keep your changes" keeps the record as it is.
    void reload();
    // The Apply buttons of the two pages; each writes the keys of both pages.
    void applyCommunication();
    void applyAdditional();
    // Tools > Settings: shows, raises and activates the window.
    void showWindow();
    // The names offered by Combo_com_name: "COM1" to "COM50" on Windows; elsewhere the
    // serial ports present, and the name in the record.
    void refreshPortList();

    V1Commands& v1() { return m_v1; }
    V2Commands& v2() { return m_v2; }

    // Asks for a colour; nothing when the operator cancels. Tests replace it.
    std::function<std::optional<uint32_t>(uint32_t current, const QString& title)> chooseColour;

    // The lamp's colours: idle, success, failure.
    static const QColor kLampIdle;
    static const QColor kLampSuccess;
    static const QColor kLampFailure;

    // Limits of the up-downs and fields.
    static constexpr int kMinFontSize = 6;
    static constexpr int kMaxFontSize = 36;
    static constexpr int kMaxCount = 16;
    static constexpr int kMaxRetries = 9;
    static constexpr int kTitleFields = 9;
    static constexpr int kMasterKeyLength = 32;
    static constexpr int kTitleLength = 15;
    static constexpr int kLampMs = 2000;

    // Controls, named as the operator's manual names them.
    QTabWidget* PageControl1 = nullptr;
    QLabel* StatusPanel0 = nullptr;
    QLabel* StatusPanel1 = nullptr;

    QGroupBox* GroupBox_port = nullptr;
    QComboBox* Combo_com_name = nullptr;
    QComboBox* Combo_com_speed = nullptr;
    QComboBox* Combo_com_parity = nullptr;
    QPushButton* Butt_open_port = nullptr;
    QCheckBox* Check_rts = nullptr;
    QCheckBox* Check_dtr = nullptr;
    QLineEdit* Edit_export_separator = nullptr;
    QSpinBox* UD_retry_read = nullptr;
    ColourButton* Color_tableRow = nullptr;
    ColourButton* Color_lowBattery = nullptr;
    ColourButton* Color_fromRepeater = nullptr;
    QCheckBox* Check_repeater = nullptr;
    QCheckBox* Check_readOnce = nullptr;
    QCheckBox* Check_useNotes = nullptr;
    QCheckBox* Check_autoSave = nullptr;
    QCheckBox* Check_saveMeters = nullptr;
    QCheckBox* Check_aesFill = nullptr;
    QCheckBox* Check_fontBold = nullptr;
    QSpinBox* UD_fontSize = nullptr;
    QLineEdit* Edit_fontSize = nullptr;
    QCheckBox* Check_decodeApator = nullptr;
    QCheckBox* Check_dbKey = nullptr;
    QCheckBox* Check_wrongCI = nullptr;
    QCheckBox* Check_excludeRepeated = nullptr;
    QCheckBox* Check_simpleExport = nullptr;
    QCheckBox* Check_QundisMfr = nullptr;
    QCheckBox* Check_measureUnit = nullptr;

    QGroupBox* GroupBox_encryption = nullptr;
    QCheckBox* Check_aes128 = nullptr;
    QCheckBox* Check_aes128Mode1 = nullptr;
    QCheckBox* Check_masterKey = nullptr;
    QLineEdit* Edit_masterKey = nullptr;
    QLabel* Label_masterKeyProblem = nullptr; // why a typed or pasted key is refused
    QCheckBox* Check_v1 = nullptr;
    QCheckBox* Check_v2 = nullptr;
    QPushButton* BitBtn11 = nullptr;

    QGroupBox* GroupBox_v1 = nullptr;
    StatusLamp* LED_success = nullptr;
    QComboBox* Combo_RCtype = nullptr;
    QPushButton* Button1 = nullptr;
    QComboBox* Combo_RFPower = nullptr;
    QPushButton* BitBtn8 = nullptr;
    QComboBox* Combo_RCmode = nullptr;
    QPushButton* Button2 = nullptr;
    QComboBox* Combo_protocol = nullptr;
    QPushButton* BitBtn7 = nullptr;
    QCheckBox* Check_setRSSI = nullptr;
    QPushButton* BitBtn6 = nullptr;
    QComboBox* Combo_installMode = nullptr;
    QPushButton* Button3 = nullptr;
    QCheckBox* Check_setModeRAM = nullptr;
    QTimer* Timer1 = nullptr;

    QGroupBox* GroupBox_v2 = nullptr;
    QLabel* Label_S2error = nullptr;
    QComboBox* Combo_S2mode = nullptr;
    QPushButton* BitBtn3 = nullptr;
    QCheckBox* Check_S2decryption = nullptr;
    QPushButton* Butt_S2decryption = nullptr;
    QCheckBox* Check_S2rssi = nullptr;
    QPushButton* BitBtn10 = nullptr;
    QLineEdit* Edit_S2masterkey = nullptr;
    QLabel* Label_S2keyProblem = nullptr;
    QPushButton* BitBtn9 = nullptr;
    QPushButton* BitBtn12 = nullptr;
    QPlainTextEdit* Memo_S2 = nullptr;
    QPushButton* BitBtn13 = nullptr;
    QTimer* Timer_setv2 = nullptr;

    QLineEdit* Edit_freeCommand = nullptr;
    QPushButton* Button4 = nullptr;

    QPushButton* BitBtn2 = nullptr; // Cancel
    QPushButton* BitBtn1 = nullptr; // Apply, first page

    QSpinBox* UD_addValues = nullptr;
    QLineEdit* EditAddValues = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLineEdit* Edit4 = nullptr;
    QLineEdit* Edit5 = nullptr;
    QLineEdit* Edit6 = nullptr;
    QLineEdit* Edit7 = nullptr;
    QLineEdit* Edit8 = nullptr;
    QLineEdit* Edit9 = nullptr;
    QComboBox* Combo_codePage = nullptr;
    QCheckBox* Check_enableColorMrv = nullptr;
    ColourButton* Color_testMrv = nullptr;
    ColourButton* Color_processMrv = nullptr;
    ColourButton* Color_doneMrv = nullptr;
    QPushButton* BitBtn4 = nullptr; // Close
    QPushButton* BitBtn5 = nullptr; // Apply, second page

signals:
    // The code page of the record changed (chosen, or read from the file): what shows cells
    // shows them anew.
    void codePageChanged();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildCommunicationPage();
    QWidget* buildAdditionalPage();
    QGroupBox* buildEncryptionGroup(QWidget* parent);
    QGroupBox* buildV1Group(QWidget* parent);
    QGroupBox* buildV2Group(QWidget* parent);
    void wireCommands();

    // Binding of controls to fields of the record; the control changes the field at once.
    QCheckBox* flagBox(const char* name, const char* caption, bool Settings::*field, QWidget* parent);
    QCheckBox* ruleBox(const char* name, const char* caption, void (*rule)(Settings&, bool), QWidget* parent);
    QComboBox* textCombo(const char* name, const QStringList& items, std::string Settings::*field, QWidget* parent);
    QLineEdit* textEdit(const char* name, int maxLength, std::string Settings::*field, QWidget* parent);
    ColourButton* colourButton(const char* name, const QString& title, uint32_t Settings::*field, QWidget* parent);
    QPushButton* button(const char* name, const char* caption, QWidget* parent);

    // Shows every field of the record in its control, without running a control's action.
    void showRecord();
    // The tied boxes and the groups they enable follow the record.
    void showTies();
    // The first Count title fields are enabled when Count is 1 to 9, none otherwise.
    void applyTitleRule();
    void updatePortControls();
    void setLamp(V1Commands::Lamp lamp);
    void addReply(const std::string& reply);
    void pressV1Set(V1Parameter parameter, const QString& choice);
    void windowStatus(int panel, const QString& text);
    // Reloads when the window becomes active again coming from another window of the
    // program or from another program; not when focus comes back from its own lists,
    // menus, tooltips, message boxes or colour dialog.
    void focusWindowChanged(QWindow* now);
    bool isOtherWindowOfProgram(QWindow* window) const;
    void apply();
    void separatorEdited(const QString& text);

    SettingsWindowContext m_context;
    QtTimer m_replyTimer;
    V1Commands m_v1;
    V2Commands m_v2;
    // Controls that mirror the record, each with how it shows its field.
    std::vector<std::function<void()>> m_showers;
    QLineEdit* m_titles[kTitleFields] = {};
    QPointer<QWindow> m_lastFocusWindow;
    bool m_centred = false;
    bool m_justShown = false;
    // The program lost the focus to another program while the window was shown.
    bool m_leftProgram = false;
    // Boxes and dialogs of the window's own that are open now.
    struct OwnDialog;
    int m_ownDialogs = 0;
    // The record as last loaded, reloaded or applied, key by key: what differs is an edit.
    std::vector<std::string> m_baseline;
    // The file and the edits the operator chose to keep at the last reload.
    std::pair<std::vector<std::string>, std::vector<std::string>> m_kept;
};

} // namespace palvero
