#include "settings_window.h"

#include "cell_text.h"
#include "colour_button.h"
#include "elided_label.h"
#include "key_field.h"
#include "key_text.h"
#include "setting_keys.h"
#include "settings_file.h"
#include "status_lamp.h"
#include "window_placement.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSerialPortInfo>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace palvero {

namespace {

constexpr char kCaption[] = "Palvero -> Settings";

const QStringList kSpeeds = {"300", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};
const QStringList kParities = {"None", "Even", "Odd", "Mark", "Space"};
const QStringList kNetworkTypes = {"MASTER", "REPEATER"};
const QStringList kV1Modes = {"T1", "T2", "S1", "S2", "R", "T1+C", "T2+C"};
const QStringList kProtocols = {"MORVANE", "MORVANE with CRC"};
const QStringList kRFPowers = {"1", "2", "3", "4", "5"};
const QStringList kInstallModes = {"Normal", "Accept All"};
const QStringList kV2Modes = {"T1", "S1", "C (Frame B)"};

#ifdef Q_OS_WIN
// Windows port names are "COM" and at most two digits.
constexpr int kPortNameLength = 6;
constexpr int kPortCount = 50;
#endif

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}

// Shows a text in an editable combo box: the matching item is selected, and the text
// stands as it is even when no item matches.
void showComboText(QComboBox* combo, const QString& text)
{
    const int index = combo->findText(text, Qt::MatchExactly);
    if (index >= 0)
        combo->setCurrentIndex(index);
    combo->setEditText(text);
}

constexpr char kKeepChanges[] = "Keep your changes";
constexpr char kReadFileAgain[] = "Read the file again";
constexpr char kUnsavedEditsText[] =
    "Settings changed in this window have not been applied, and the settings file holds other values.\n"
    "Keep your changes, or read the file again (your changes are then lost)?";

// A page that scrolls when the screen is smaller than the page, and asks for the page's
// whole size when there is room for it.
class PageScroll : public QScrollArea {
public:
    explicit PageScroll(QWidget* page)
    {
        setObjectName(page->objectName() + "_scroll");
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setWidget(page);
    }
    QSize sizeHint() const override
    {
        const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        return widget()->sizeHint() + QSize(bar, bar);
    }
};

} // namespace

// While the window shows a box or dialog of its own, coming back from it is no return
// from another window.
struct TSettings::OwnDialog {
    explicit OwnDialog(TSettings& window)
        : m_window(window)
    {
        ++m_window.m_ownDialogs;
    }
    ~OwnDialog() { --m_window.m_ownDialogs; }
    OwnDialog(const OwnDialog&) = delete;
    OwnDialog& operator=(const OwnDialog&) = delete;

private:
    TSettings& m_window;
};

const QColor TSettings::kLampIdle(171, 171, 171); // the desktop's application-workspace grey
const QColor TSettings::kLampSuccess(0, 128, 128);
const QColor TSettings::kLampFailure(255, 0, 0);

TSettings::TSettings(SettingsWindowContext context, QWidget* parent)
    : QDialog(parent)
    , m_context(context)
    // The reply timer exists before the commands that run it.
    , m_replyTimer(*(Timer_setv2 = new QTimer(this)))
    , m_v1(context.reading, context.op)
    , m_v2(context.commandPort, context.sleeper, m_replyTimer, context.settings, context.table, context.op)
{
    setObjectName("TSettings");
    setWindowTitle(kCaption);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                   | Qt::WindowStaysOnTopHint);
    setModal(false);

    chooseColour = [this](uint32_t current, const QString& title) -> std::optional<uint32_t> {
        const QColor chosen = QColorDialog::getColor(ColourButton::toQColor(current), this, title);
        if (!chosen.isValid())
            return std::nullopt;
        return ColourButton::fromQColor(chosen);
    };

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 0);
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    // On a small screen (a laptop at 150 %) the pages scroll instead of leaving the screen.
    PageControl1->addTab(new PageScroll(buildCommunicationPage()), "   Communication settings   ");
    PageControl1->addTab(new PageScroll(buildAdditionalPage()), "   Additional information   ");
    layout->addWidget(PageControl1, 1);

    auto* status = new QStatusBar(this);
    status->setObjectName("StatusBar1");
    status->setSizeGripEnabled(false);
    // Long texts are cut with an ellipsis (the whole text in the tooltip) rather than
    // widening the window beyond the screen.
    StatusPanel0 = new ElidedLabel(status);
    StatusPanel0->setObjectName("StatusPanel0");
    StatusPanel0->setMinimumWidth(220);
    StatusPanel1 = new ElidedLabel(status);
    StatusPanel1->setObjectName("StatusPanel1");
    status->addWidget(StatusPanel0);
    status->addWidget(StatusPanel1, 1);
    layout->addWidget(status);

    // Enter applies the page shown; a field with a button of its own sends through it.
    auto defaultForPage = [this](int page) {
        BitBtn1->setDefault(page == 0);
        BitBtn5->setDefault(page == 1);
    };
    connect(PageControl1, &QTabWidget::currentChanged, this, defaultForPage);
    defaultForPage(0);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(kLampMs);
    connect(Timer1, &QTimer::timeout, this, [this] {
        Timer1->stop();
        setLamp(V1Commands::Lamp::Idle);
    });
    Timer_setv2->setObjectName("Timer_setv2");
    connect(Timer_setv2, &QTimer::timeout, this, [this] { m_v2.replyTick(); });

    wireCommands();
    connect(qApp, &QGuiApplication::focusWindowChanged, this, &TSettings::focusWindowChanged);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state != Qt::ApplicationActive && m_ownDialogs == 0 && isVisible())
            m_leftProgram = true;
    });

    refreshPortList();
    setLamp(V1Commands::Lamp::Idle);
    load();
}

TSettings::~TSettings()
{
    m_context.reading.onPortStateChanged = nullptr;
    m_v1.onResultText = nullptr;
    m_v1.onLamp = nullptr;
    m_v2.onWindowStatus = nullptr;
    m_v2.onErrorLabel = nullptr;
    m_v2.onReply = nullptr;
    m_v2.onPortChanged = nullptr;
}

// --- Building -------------------------------------------------------------------------------

QCheckBox* TSettings::flagBox(const char* name, const char* caption, bool Settings::*field, QWidget* parent)
{
    auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
    box->setObjectName(name);
    connect(box, &QCheckBox::toggled, this, [this, field](bool on) { m_context.settings.*field = on; });
    m_showers.push_back([this, box, field] { box->setChecked(m_context.settings.*field); });
    return box;
}

QCheckBox* TSettings::ruleBox(const char* name, const char* caption, void (*rule)(Settings&, bool), QWidget* parent)
{
    auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
    box->setObjectName(name);
    connect(box, &QCheckBox::toggled, this, [this, rule](bool on) {
        rule(m_context.settings, on);
        showTies();
    });
    return box;
}

QComboBox* TSettings::textCombo(const char* name, const QStringList& items, std::string Settings::*field,
                                QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->addItems(items);
    if (field) {
        connect(combo, &QComboBox::currentTextChanged, this,
                [this, field](const QString& text) { m_context.settings.*field = cellBytes(text); });
        m_showers.push_back([this, combo, field] { showComboText(combo, cellText(m_context.settings.*field)); });
    }
    return combo;
}

QLineEdit* TSettings::textEdit(const char* name, int maxLength, std::string Settings::*field, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setMaxLength(maxLength);
    // Single-byte text in the code page, like every cell.
    refuseUnheldCharacters(edit);
    connect(edit, &QLineEdit::textChanged, this,
            [this, field](const QString& text) { m_context.settings.*field = cellBytes(text); });
    m_showers.push_back([this, edit, field] { edit->setText(cellText(m_context.settings.*field)); });
    return edit;
}

ColourButton* TSettings::colourButton(const char* name, const QString& title, uint32_t Settings::*field,
                                      QWidget* parent)
{
    auto* swatch = new ColourButton(parent);
    swatch->setObjectName(name);
    connect(swatch, &QPushButton::clicked, this, [this, swatch, field, title] {
        OwnDialog own(*this);
        if (auto chosen = chooseColour(m_context.settings.*field, title)) {
            m_context.settings.*field = *chosen;
            swatch->setColour(*chosen);
        }
    });
    m_showers.push_back([this, swatch, field] { swatch->setColour(m_context.settings.*field); });
    return swatch;
}

QPushButton* TSettings::button(const char* name, const char* caption, QWidget* parent)
{
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

QWidget* TSettings::buildCommunicationPage()
{
    auto* page = new QWidget;
    page->setObjectName("TabSheet1");
    auto* pageLayout = new QVBoxLayout(page);
    auto* top = new QHBoxLayout;
    pageLayout->addLayout(top);

    // Left: the port, the table's look and its colours.
    auto* left = new QVBoxLayout;
    top->addLayout(left);
    GroupBox_port = new QGroupBox("   Serial port settings   ", page);
    GroupBox_port->setObjectName("GroupBox_port");
    auto* portForm = new QGridLayout(GroupBox_port);
    Combo_com_name = textCombo("Combo_com_name", {}, &Settings::Name, GroupBox_port);
    Combo_com_name->setMinimumWidth(150);
    Combo_com_speed = textCombo("Combo_com_speed", kSpeeds, &Settings::Speed, GroupBox_port);
    Combo_com_parity = textCombo("Combo_com_parity", kParities, &Settings::Parity, GroupBox_port);
    portForm->addWidget(new QLabel("Name", GroupBox_port), 0, 0);
    portForm->addWidget(Combo_com_name, 0, 1);
    portForm->addWidget(new QLabel("Speed", GroupBox_port), 1, 0);
    portForm->addWidget(Combo_com_speed, 1, 1);
    portForm->addWidget(new QLabel("Parity", GroupBox_port), 2, 0);
    portForm->addWidget(Combo_com_parity, 2, 1);
    Butt_open_port = button("Butt_open_port", "Connect to port", GroupBox_port);
    Butt_open_port->setVisible(false);
    portForm->addWidget(Butt_open_port, 3, 1);
    left->addWidget(GroupBox_port);

    auto* lines = new QHBoxLayout;
    Check_rts = flagBox("Check_rts", "RTS control", &Settings::RTS, page);
    Check_dtr = flagBox("Check_dtr", "DTR control", &Settings::DTR, page);
    const QString storedOnly = "Kept in the settings; the port never drives the line";
    Check_rts->setToolTip(storedOnly);
    Check_dtr->setToolTip(storedOnly);
    lines->addWidget(Check_rts);
    lines->addWidget(Check_dtr);
    lines->addStretch(1);
    left->addLayout(lines);

    auto* misc = new QGridLayout;
    int row = 0;
    // One character; what cannot be one is refused as it is typed, the reason in the
    // status bar, and the separator in force stays.
    Edit_export_separator = new QLineEdit(page);
    Edit_export_separator->setObjectName("Edit_export_separator");
    Edit_export_separator->setMaxLength(1);
    connect(Edit_export_separator, &QLineEdit::textEdited, this, &TSettings::separatorEdited);
    connect(Edit_export_separator, &QLineEdit::editingFinished, this, [this] {
        if (Edit_export_separator->text().isEmpty())
            Edit_export_separator->setText(cellText(m_context.settings.ExportSeparator));
    });
    m_showers.push_back(
        [this] { Edit_export_separator->setText(cellText(m_context.settings.ExportSeparator)); });
    Edit_export_separator->setFixedWidth(40);
    Edit_export_separator->setToolTip("The field separator of every CSV file written or read");
    misc->addWidget(new QLabel("Export separator:", page), row, 0);
    misc->addWidget(Edit_export_separator, row++, 1, Qt::AlignLeft);

    auto* retries = new QLabel("Retries", page);
    retries->setObjectName("Label_retries");
    retries->setVisible(false);
    UD_retry_read = new QSpinBox(page);
    UD_retry_read->setObjectName("UD_retry_read");
    UD_retry_read->setRange(0, kMaxRetries);
    UD_retry_read->setVisible(false);
    connect(UD_retry_read, qOverload<int>(&QSpinBox::valueChanged), this,
            [this](int v) { m_context.settings.Retry = v; });
    misc->addWidget(retries, row, 0);
    misc->addWidget(UD_retry_read, row++, 1);

    UD_fontSize = new QSpinBox(page);
    UD_fontSize->setObjectName("UD_fontSize");
    UD_fontSize->setRange(kMinFontSize, kMaxFontSize);
    Edit_fontSize = UD_fontSize->findChild<QLineEdit*>();
    Edit_fontSize->setObjectName("Edit_fontSize");
    connect(UD_fontSize, qOverload<int>(&QSpinBox::valueChanged), this,
            [this](int v) { m_context.settings.FontSize = v; });
    m_showers.push_back([this] {
        UD_fontSize->setValue(m_context.settings.FontSize);
        // The up-down holds what it shows.
        m_context.settings.FontSize = UD_fontSize->value();
    });
    Check_fontBold = flagBox("Check_fontBold", "Bold", &Settings::BoldFont, page);
    auto* font = new QHBoxLayout;
    font->addWidget(UD_fontSize);
    font->addWidget(Check_fontBold);
    font->addStretch(1);
    misc->addWidget(new QLabel("Font size in table", page), row, 0);
    misc->addLayout(font, row++, 1);

    Color_tableRow = colourButton("Color_tableRow", "Color row last read", &Settings::ColorRow, page);
    misc->addWidget(new QLabel("Color row last read", page), row, 0);
    misc->addWidget(Color_tableRow, row++, 1, Qt::AlignLeft);
    Color_lowBattery =
        colourButton("Color_lowBattery", "Color devices with low battery", &Settings::LowBattery, page);
    misc->addWidget(new QLabel("Color devices with low battery", page), row, 0);
    misc->addWidget(Color_lowBattery, row++, 1, Qt::AlignLeft);
    Color_fromRepeater =
        colourButton("Color_fromRepeater", "Color devices, coming from repeater:", &Settings::FromRepeater, page);
    Check_repeater = flagBox("Check_repeater", "", &Settings::ShowRepeaters, page);
    Check_repeater->setToolTip("Colour the meters heard through a repeater");
    auto* repeater = new QHBoxLayout;
    repeater->addWidget(Color_fromRepeater);
    repeater->addWidget(Check_repeater);
    repeater->addStretch(1);
    misc->addWidget(new QLabel("Color devices, coming from repeater:", page), row, 0);
    misc->addLayout(repeater, row++, 1);
    left->addLayout(misc);
    left->addStretch(1);

    // Middle: how telegrams are taken and what is saved.
    auto* boxes = new QVBoxLayout;
    top->addSpacing(12);
    top->addLayout(boxes);
    Check_readOnce = flagBox("Check_readOnce", "Read meters only ONCE", &Settings::ReadOnce, page);
    Check_useNotes = flagBox("Check_useNotes", "Overwrite field \"Notes\"", &Settings::UseNotes, page);
    Check_autoSave = flagBox("Check_autoSave", "Automatically save data on Exit", &Settings::AutoSave, page);
    Check_saveMeters = flagBox("Check_saveMeters", "Save meters and AES keys", &Settings::SaveMeters, page);
    Check_aesFill = flagBox("Check_aesFill", "Add 00 to key, if key not full", &Settings::AutoFillKey, page);
    Check_dbKey = ruleBox("Check_dbKey", "Use database key for known meters", setUseDBMeters, page);
    Check_wrongCI = flagBox("Check_wrongCI", "Discard telegram if wrong CI", &Settings::DiscardCI, page);
    Check_excludeRepeated = flagBox("Check_excludeRepeated", "Exclude repeated", &Settings::DiscardRepeated, page);
    Check_simpleExport = flagBox("Check_simpleExport", "Simple import/export", &Settings::SimpleExport, page);
    Check_decodeApator = flagBox("Check_decodeApator", "Decode Apator half OMS", &Settings::Apator, page);
    Check_QundisMfr = flagBox("Check_QundisMfr", "Decode QDS mfr specific", &Settings::DecodeQundis, page);
    Check_measureUnit = flagBox("Check_measureUnit", "Do not add measure unit", &Settings::RemoveUnit, page);
    for (QCheckBox* box : {Check_readOnce, Check_useNotes, Check_autoSave, Check_saveMeters, Check_aesFill,
                           Check_dbKey, Check_wrongCI, Check_excludeRepeated, Check_simpleExport})
        boxes->addWidget(box);
    for (QCheckBox* box : {Check_decodeApator, Check_QundisMfr, Check_measureUnit}) {
        box->setVisible(false);
        boxes->addWidget(box);
    }
    boxes->addStretch(1);
    top->addStretch(1);

    pageLayout->addWidget(buildEncryptionGroup(page), 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    BitBtn2 = new QPushButton("Cancel", page);
    BitBtn2->setObjectName("BitBtn2");
    BitBtn2->setToolTip("Hide the window; the settings file stays as it is");
    BitBtn1 = new QPushButton("Apply", page);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setToolTip("Save the settings of this page in the settings file");
    buttons->addWidget(BitBtn2);
    buttons->addWidget(BitBtn1);
    pageLayout->addLayout(buttons);
    connect(BitBtn2, &QPushButton::clicked, this, &QWidget::hide);
    connect(BitBtn1, &QPushButton::clicked, this, &TSettings::applyCommunication);
    return page;
}

QGroupBox* TSettings::buildEncryptionGroup(QWidget* parent)
{
    GroupBox_encryption = new QGroupBox("   Encryption and  reader settings   ", parent);
    GroupBox_encryption->setObjectName("GroupBox_encryption");
    auto* layout = new QGridLayout(GroupBox_encryption);

    Check_aes128 = ruleBox("Check_aes128", "Decrypt AES-128", setAES128_5, GroupBox_encryption);
    Check_aes128Mode1 = flagBox("Check_aes128Mode1", "AES-128 mode 1", &Settings::AES128_1, GroupBox_encryption);
    Check_aes128Mode1->setVisible(false);
    Check_masterKey = ruleBox("Check_masterKey", "Use Master key for all meters", setUseMaster, GroupBox_encryption);
    Edit_masterKey = textEdit("Edit_masterKey", kMasterKeyLength, &Settings::MasterKey, GroupBox_encryption);
    Edit_masterKey->setPlaceholderText("AES-128 master key");
    Edit_masterKey->setToolTip("32 hexadecimal digits; a key pasted with spaces or dashes is kept as its digits");
    Edit_masterKey->installEventFilter(this);
    Label_masterKeyProblem = makeKeyField(Edit_masterKey, keyReasonLabel("Label_masterKeyProblem", GroupBox_encryption));
    Check_v1 = ruleBox("Check_v1", "v1", setV1, GroupBox_encryption);
    Check_v2 = ruleBox("Check_v2", "v2", setV2, GroupBox_encryption);
    Check_v1->setToolTip("A first-generation receiver is attached");
    Check_v2->setToolTip("An RXL-IoT receiver is attached");
    BitBtn11 = button("BitBtn11", "Check version", GroupBox_encryption);
    BitBtn11->setEnabled(false);

    auto* keyRow = new QHBoxLayout;
    keyRow->addWidget(Check_aes128);
    keyRow->addWidget(Check_aes128Mode1);
    keyRow->addSpacing(16);
    keyRow->addWidget(Check_masterKey);
    keyRow->addWidget(Edit_masterKey, 1);
    auto* keyArea = new QVBoxLayout;
    keyArea->addLayout(keyRow);
    keyArea->addWidget(Label_masterKeyProblem, 0, Qt::AlignRight);
    layout->addLayout(keyArea, 0, 0, 1, 2);

    auto* versionRow = new QHBoxLayout;
    versionRow->addWidget(Check_v1);
    versionRow->addWidget(Check_v2);
    versionRow->addSpacing(16);
    versionRow->addWidget(BitBtn11);
    versionRow->addStretch(1);
    layout->addLayout(versionRow, 1, 0, 1, 2);

    layout->addWidget(buildV1Group(GroupBox_encryption), 2, 0);
    layout->addWidget(buildV2Group(GroupBox_encryption), 2, 1);

    auto* freeRow = new QHBoxLayout;
    Edit_freeCommand = new QLineEdit(GroupBox_encryption);
    Edit_freeCommand->setObjectName("Edit_freeCommand");
    Edit_freeCommand->setToolTip("Sent to the receiver as typed, without a line end");
    refuseUnheldCharacters(Edit_freeCommand);
    Edit_freeCommand->installEventFilter(this);
    Button4 = button("Button4", "Send a command", GroupBox_encryption);
    freeRow->addWidget(Edit_freeCommand, 1);
    freeRow->addWidget(Button4);
    layout->addLayout(freeRow, 3, 0, 1, 2);
    return GroupBox_encryption;
}

QGroupBox* TSettings::buildV1Group(QWidget* parent)
{
    GroupBox_v1 = new QGroupBox("   v1 Settings   ", parent);
    GroupBox_v1->setObjectName("GroupBox_v1");
    auto* layout = new QGridLayout(GroupBox_v1);
    int row = 0;
    LED_success = new StatusLamp(GroupBox_v1);
    LED_success->setObjectName("LED_success");
    LED_success->setToolTip("Result of the last Set");
    layout->addWidget(LED_success, row++, 2, Qt::AlignRight);

    auto addRow = [&](const char* label, QWidget* control, QPushButton* set) {
        if (label)
            layout->addWidget(new QLabel(label, GroupBox_v1), row, 0);
        layout->addWidget(control, row, label ? 1 : 0, 1, label ? 1 : 2);
        layout->addWidget(set, row++, 2);
        set->setToolTip("Save the value in the receiver's memory");
    };
    Combo_RCtype = textCombo("Combo_RCtype", kNetworkTypes, &Settings::CType, GroupBox_v1);
    Button1 = button("Button1", "Set", GroupBox_v1);
    addRow("Concentrator network type", Combo_RCtype, Button1);
    Combo_RFPower = textCombo("Combo_RFPower", kRFPowers, &Settings::RFPower, GroupBox_v1);
    BitBtn8 = button("BitBtn8", "Set", GroupBox_v1);
    addRow("RF strength", Combo_RFPower, BitBtn8);
    Combo_RCmode = textCombo("Combo_RCmode", kV1Modes, &Settings::CMode, GroupBox_v1);
    Button2 = button("Button2", "Set", GroupBox_v1);
    addRow("Concentrator mode", Combo_RCmode, Button2);
    Combo_protocol = textCombo("Combo_protocol", kProtocols, &Settings::Protocol, GroupBox_v1);
    BitBtn7 = button("BitBtn7", "Set", GroupBox_v1);
    addRow("Concentrator Protocol", Combo_protocol, BitBtn7);
    Check_setRSSI = flagBox("Check_setRSSI", "RSSI", &Settings::RSSI, GroupBox_v1);
    BitBtn6 = button("BitBtn6", "Set", GroupBox_v1);
    addRow(nullptr, Check_setRSSI, BitBtn6);

    // The receiver's install filter is set only by service staff.
    auto* filterLabel = new QLabel("Filter On/Off", GroupBox_v1);
    filterLabel->setObjectName("Label_filter");
    Combo_installMode = textCombo("Combo_installMode", kInstallModes, nullptr, GroupBox_v1);
    Button3 = button("Button3", "Set", GroupBox_v1);
    for (QWidget* w : {static_cast<QWidget*>(filterLabel), static_cast<QWidget*>(Combo_installMode),
                       static_cast<QWidget*>(Button3)})
        w->setVisible(false);
    layout->addWidget(filterLabel, row++, 0);
    layout->addWidget(Combo_installMode, row, 1);
    layout->addWidget(Button3, row++, 2);

    Check_setModeRAM = flagBox("Check_setModeRAM", "Set in RAM on START", &Settings::SetModeRAM, GroupBox_v1);
    Check_setModeRAM->setToolTip("Start sets the concentrator mode in the receiver's RAM");
    layout->addWidget(Check_setModeRAM, row++, 0, 1, 3);
    layout->setRowStretch(row, 1);
    return GroupBox_v1;
}

QGroupBox* TSettings::buildV2Group(QWidget* parent)
{
    GroupBox_v2 = new QGroupBox("   v2 Settings   ", parent);
    GroupBox_v2->setObjectName("GroupBox_v2");
    auto* layout = new QGridLayout(GroupBox_v2);
    int row = 0;
    Label_S2error = new QLabel("Error command", GroupBox_v2);
    Label_S2error->setObjectName("Label_S2error");
    Label_S2error->setStyleSheet("color: red;");
    // Its room stays when it is hidden, so that the rows below do not jump.
    QSizePolicy keepRoom = Label_S2error->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    Label_S2error->setSizePolicy(keepRoom);
    Label_S2error->setVisible(false);
    layout->addWidget(Label_S2error, row++, 0, 1, 3);

    Combo_S2mode = textCombo("Combo_S2mode", kV2Modes, nullptr, GroupBox_v2);
    BitBtn3 = button("BitBtn3", "Set", GroupBox_v2);
    layout->addWidget(new QLabel("Wireless m-bus mode", GroupBox_v2), row, 0);
    layout->addWidget(Combo_S2mode, row, 1);
    layout->addWidget(BitBtn3, row++, 2);

    Check_S2decryption = flagBox("Check_S2decryption", "Decryption On/Off", &Settings::Decryption, GroupBox_v2);
    Butt_S2decryption = button("Butt_S2decryption", "Set", GroupBox_v2);
    layout->addWidget(Check_S2decryption, row, 0, 1, 2);
    layout->addWidget(Butt_S2decryption, row++, 2);

    Check_S2rssi = flagBox("Check_S2rssi", "RSSI On/Off", &Settings::RSSI_v2, GroupBox_v2);
    BitBtn10 = button("BitBtn10", "Set", GroupBox_v2);
    layout->addWidget(Check_S2rssi, row, 0, 1, 2);
    layout->addWidget(BitBtn10, row++, 2);

    layout->addWidget(new QLabel("Set Master decryption key in RXL-IoT", GroupBox_v2), row++, 0, 1, 3);
    Edit_S2masterkey = new QLineEdit(GroupBox_v2);
    Edit_S2masterkey->setObjectName("Edit_S2masterkey");
    Edit_S2masterkey->setToolTip("32 hexadecimal digits; a key pasted with spaces or dashes is kept as its digits");
    Edit_S2masterkey->installEventFilter(this);
    Label_S2keyProblem = makeKeyField(Edit_S2masterkey, keyReasonLabel("Label_S2keyProblem", GroupBox_v2));
    BitBtn9 = button("BitBtn9", "Save", GroupBox_v2);
    layout->addWidget(Edit_S2masterkey, row, 0, 1, 2);
    layout->addWidget(BitBtn9, row++, 2);
    layout->addWidget(Label_S2keyProblem, row++, 0, 1, 3);

    BitBtn12 = button("BitBtn12", "Get main", GroupBox_v2);
    BitBtn12->setToolTip("Ask the receiver for its main settings");
    layout->addWidget(BitBtn12, row++, 2);

    layout->addWidget(new QLabel("Respond", GroupBox_v2), row++, 0, 1, 3);
    Memo_S2 = new QPlainTextEdit(GroupBox_v2);
    Memo_S2->setObjectName("Memo_S2");
    Memo_S2->setReadOnly(true);
    Memo_S2->setMinimumHeight(70);
    BitBtn13 = button("BitBtn13", "Clear log", GroupBox_v2);
    layout->addWidget(Memo_S2, row, 0, 1, 2);
    layout->addWidget(BitBtn13, row++, 2, Qt::AlignTop);
    for (QPushButton* b : {BitBtn3, Butt_S2decryption, BitBtn10, BitBtn9})
        if (b->toolTip().isEmpty())
            b->setToolTip("Send the command to the receiver");
    return GroupBox_v2;
}

QWidget* TSettings::buildAdditionalPage()
{
    auto* page = new QWidget;
    page->setObjectName("TabSheet2");
    auto* pageLayout = new QVBoxLayout(page);
    auto* top = new QHBoxLayout;
    pageLayout->addLayout(top);

    auto* titles = new QGridLayout;
    top->addLayout(titles);
    titles->addWidget(new QLabel("Additional values", page), 0, 0);
    titles->addWidget(new QLabel("to show:", page), 1, 0);
    UD_addValues = new QSpinBox(page);
    UD_addValues->setObjectName("UD_addValues");
    UD_addValues->setRange(0, kMaxCount);
    EditAddValues = UD_addValues->findChild<QLineEdit*>();
    EditAddValues->setObjectName("EditAddValues");
    EditAddValues->setReadOnly(true);
    UD_addValues->setToolTip("Number of additional value columns of the meter table");
    connect(UD_addValues, qOverload<int>(&QSpinBox::valueChanged), this, [this](int v) {
        m_context.settings.Count = v;
        applyTitleRule();
    });
    m_showers.push_back([this] {
        UD_addValues->setValue(m_context.settings.Count);
        m_context.settings.Count = UD_addValues->value();
    });
    titles->addWidget(UD_addValues, 1, 1, Qt::AlignLeft);

    std::string Settings::*const fields[kTitleFields] = {&Settings::Title1, &Settings::Title2, &Settings::Title3,
                                                         &Settings::Title4, &Settings::Title5, &Settings::Title6,
                                                         &Settings::Title7, &Settings::Title8, &Settings::Title9};
    QLineEdit** members[kTitleFields] = {&Edit1, &Edit2, &Edit3, &Edit4, &Edit5, &Edit6, &Edit7, &Edit8, &Edit9};
    for (int i = 0; i < kTitleFields; ++i) {
        const QByteArray name = "Edit" + QByteArray::number(i + 1);
        m_titles[i] = *members[i] = textEdit(name.constData(), kTitleLength, fields[i], page);
        titles->addWidget(new QLabel(QString("Title %1").arg(i + 1), page), i + 2, 0);
        titles->addWidget(m_titles[i], i + 2, 1);
    }
    titles->setRowStretch(kTitleFields + 2, 1);

    // The code page: which character each byte of a cell or a file stands for.
    auto* codePageLabel = new QLabel("Code page of texts:", page);
    Combo_codePage = new QComboBox(page);
    Combo_codePage->setObjectName("Combo_codePage");
    Combo_codePage->addItem("Windows-1251 (Cyrillic)", QString::fromLatin1(kWindows1251Name));
    Combo_codePage->addItem("Windows-1252 (Western)", QString::fromLatin1(kWindows1252Name));
    Combo_codePage->setToolTip("How the bytes of cells, data files and CSV files are shown and typed; "
                               "the bytes themselves stay as they are");
    codePageLabel->setBuddy(Combo_codePage);
    connect(Combo_codePage, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int index) {
        if (index < 0)
            return;
        m_context.settings.CodePage = Combo_codePage->itemData(index).toString().toStdString();
        emit codePageChanged();
    });
    m_showers.push_back([this] {
        const std::string before = Combo_codePage->currentData().toString().toStdString();
        Combo_codePage->setCurrentIndex(settingsCodePage(m_context.settings) == CodePage::Windows1251 ? 0 : 1);
        if (Combo_codePage->currentData().toString().toStdString() != before)
            emit codePageChanged();
    });
    titles->addWidget(codePageLabel, kTitleFields + 3, 0);
    titles->addWidget(Combo_codePage, kTitleFields + 3, 1);

    top->addSpacing(40);
    auto* colours = new QGridLayout;
    top->addLayout(colours);
    auto* heading = new QLabel("Select colors for MRV devices", page);
    heading->setObjectName("Label_colorsMrv");
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    colours->addWidget(heading, 0, 0, 1, 2);
    Check_enableColorMrv = flagBox("Check_enableColorMrv", "Enable coloring", &Settings::ColorMrv, page);
    colours->addWidget(Check_enableColorMrv, 1, 0, 1, 2);
    Color_testMrv = colourButton("Color_testMrv", "Select color for test mode:", &Settings::ColorTest, page);
    Color_processMrv = colourButton("Color_processMrv", "Select color for processing", &Settings::ColorProcess, page);
    Color_doneMrv = colourButton("Color_doneMrv", "Select color for finished test", &Settings::ColorDone, page);
    colours->addWidget(new QLabel("Select color for test mode:", page), 2, 0);
    colours->addWidget(Color_testMrv, 2, 1);
    colours->addWidget(new QLabel("Select color for processing", page), 3, 0);
    colours->addWidget(Color_processMrv, 3, 1);
    colours->addWidget(new QLabel("Select color for finished test", page), 4, 0);
    colours->addWidget(Color_doneMrv, 4, 1);
    colours->setRowStretch(5, 1);
    top->addStretch(1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    BitBtn4 = new QPushButton("Close", page);
    BitBtn4->setObjectName("BitBtn4");
    BitBtn4->setToolTip("Hide the window; the settings file stays as it is");
    BitBtn5 = new QPushButton("Apply", page);
    BitBtn5->setObjectName("BitBtn5");
    BitBtn5->setToolTip("Save the settings of this page in the settings file");
    buttons->addWidget(BitBtn4);
    buttons->addWidget(BitBtn5);
    pageLayout->addLayout(buttons);
    connect(BitBtn4, &QPushButton::clicked, this, &QWidget::hide);
    connect(BitBtn5, &QPushButton::clicked, this, &TSettings::applyAdditional);
    return page;
}

void TSettings::wireCommands()
{
    m_v1.onResultText = [this](const std::string& text) { windowStatus(1, q(text)); };
    m_v1.onLamp = [this](V1Commands::Lamp lamp) {
        setLamp(lamp);
        Timer1->start();
    };
    connect(Button1, &QPushButton::clicked, this,
            [this] { pressV1Set(V1Parameter::NetworkType, Combo_RCtype->currentText()); });
    connect(BitBtn8, &QPushButton::clicked, this,
            [this] { pressV1Set(V1Parameter::RFPower, Combo_RFPower->currentText()); });
    connect(Button2, &QPushButton::clicked, this,
            [this] { pressV1Set(V1Parameter::Mode, Combo_RCmode->currentText()); });
    connect(BitBtn7, &QPushButton::clicked, this,
            [this] { pressV1Set(V1Parameter::Protocol, Combo_protocol->currentText()); });
    connect(BitBtn6, &QPushButton::clicked, this,
            [this] { pressV1Set(V1Parameter::Rssi, Check_setRSSI->isChecked() ? "1" : "0"); });
    connect(Button3, &QPushButton::clicked, this,
            [this] { pressV1Set(V1Parameter::InstallMode, Combo_installMode->currentText()); });

    m_v2.onWindowStatus = [this](int panel, const std::string& text) { windowStatus(panel, q(text)); };
    m_v2.onErrorLabel = [this](bool shown) { Label_S2error->setVisible(shown); };
    m_v2.onReply = [this](const std::string& reply) { addReply(reply); };
    m_v2.onPortChanged = [this](bool) { updatePortControls(); };
    m_v2.readingPort = [this] { return m_context.reading.openPortName(); };
    // A command may show a box of its own.
    auto guarded = [this](auto run) {
        return [this, run] {
            OwnDialog own(*this);
            run();
        };
    };
    connect(BitBtn3, &QPushButton::clicked, this,
            guarded([this] { m_v2.sendMode(cellBytes(Combo_S2mode->currentText())); }));
    connect(Butt_S2decryption, &QPushButton::clicked, this,
            guarded([this] { m_v2.sendDecryption(Check_S2decryption->isChecked()); }));
    connect(BitBtn10, &QPushButton::clicked, this, guarded([this] { m_v2.sendRssi(Check_S2rssi->isChecked()); }));
    connect(BitBtn9, &QPushButton::clicked, this, guarded([this] {
                const std::string key = cellBytes(Edit_S2masterkey->text());
                showKeyProblem(Label_S2keyProblem, keyProblemText(readKeyText(key)));
                m_v2.sendMasterKey(key);
            }));
    connect(BitBtn12, &QPushButton::clicked, this, guarded([this] { m_v2.sendGetMain(); }));
    connect(BitBtn13, &QPushButton::clicked, Memo_S2, &QPlainTextEdit::clear);
    connect(Button4, &QPushButton::clicked, this,
            guarded([this] { m_v2.sendFree(cellBytes(Edit_freeCommand->text())); }));
    connect(Butt_open_port, &QPushButton::clicked, this, [this] { m_v2.acquire(); });

    m_context.reading.onPortStateChanged = [this](const ReadingControl::State&) { updatePortControls(); };
    updatePortControls();
}

// --- Loading and saving ---------------------------------------------------------------------

void TSettings::load()
{
    loadSettingsFile(m_context.settings, m_context.paths.iniFile());
    m_baseline = settingTexts(m_context.settings);
    showRecord();
    applyTitleRule();
    PageControl1->setCurrentIndex(0);
}

void TSettings::reload()
{
    Settings fromFile = m_context.settings;
    reloadSettingsFile(fromFile, m_context.paths.iniFile());
    const std::vector<std::string> file = settingTexts(fromFile);
    const std::vector<std::string> shown = settingTexts(m_context.settings);
    setLamp(V1Commands::Lamp::Idle);
    // Edits made since the record was loaded or applied are not dropped unasked; once
    // kept, the same edits over the same file are kept without asking again.
    if (shown != m_baseline && shown != file) {
        if (m_kept.first == file && m_kept.second == shown)
            return;
        OwnDialog own(*this);
        const size_t choice = m_context.op.askChoice(kCaption, kUnsavedEditsText, MessageIcon::Question,
                                                     {kKeepChanges, kReadFileAgain});
        if (choice == 0) {
            m_kept = {file, shown};
            return;
        }
    }
    m_context.settings = fromFile;
    m_baseline = file;
    m_kept = {};
    showRecord();
    applyTitleRule();
}

void TSettings::showRecord()
{
    // The controls only show the record here; their change handlers stay out of it.
    const QList<QWidget*> controls = findChildren<QWidget*>();
    std::vector<std::pair<QWidget*, bool>> blocked;
    blocked.reserve(size_t(controls.size()));
    for (QWidget* w : controls)
        blocked.emplace_back(w, w->blockSignals(true));
    for (const auto& show : m_showers)
        show();
    showTies();
    for (const auto& [w, before] : blocked)
        w->blockSignals(before);
}

void TSettings::showTies()
{
    const Settings& s = m_context.settings;
    const std::pair<QCheckBox*, bool> ties[] = {
        {Check_dbKey, s.UseDBMeters}, {Check_masterKey, s.UseMaster}, {Check_aes128, s.AES128_5},
        {Check_aes128Mode1, s.AES128_1}, {Check_v1, s.V1}, {Check_v2, s.V2},
    };
    for (const auto& [box, on] : ties) {
        const bool before = box->blockSignals(true);
        box->setChecked(on);
        box->blockSignals(before);
    }
    GroupBox_v1->setEnabled(s.V1);
    GroupBox_v2->setEnabled(!s.V1);
}

void TSettings::applyTitleRule()
{
    const int count = UD_addValues->value();
    for (int i = 0; i < kTitleFields; ++i)
        m_titles[i]->setEnabled(count >= 1 && count <= kTitleFields && i < count);
}

void TSettings::applyCommunication()
{
    apply();
}

void TSettings::applyAdditional()
{
    apply();
}

void TSettings::apply()
{
    // Either page's Apply keeps both pages, so that nothing typed on the other is lost.
    const Settings& s = m_context.settings;
    if (const WriteOutcome saved = saveBothPages(s, m_context.paths.iniFile()); saved) {
        m_baseline = settingTexts(s);
        m_kept = {};
    } else {
        OwnDialog own(*this);
        m_context.op.showMessage(kSavingSettingsCaption, savingSettingsFailedText(saved), MessageIcon::Warning);
    }
    // The table takes the look whether or not the file could be written.
    m_context.table.setAppearance(s.Count, s.FontSize, s.BoldFont);
    hide();
}

// --- Showing --------------------------------------------------------------------------------

void TSettings::showWindow()
{
    show();
    raise();
    activateWindow();
}

void TSettings::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    if (!m_centred) {
        m_centred = true;
        // As large as the pages, as far as the screen allows; the pages scroll the rest.
        resize(layout()->sizeHint());
        if (QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    }
    fitOnScreen(this);
    QTimer::singleShot(0, this, [this] { fitOnScreen(this); });
    m_justShown = true;
    reload();
    refreshPortList();
}

bool TSettings::isOtherWindowOfProgram(QWindow* window) const
{
    // Lists, menus and tooltips of any window, and boxes and dialogs (modal, or shown over
    // this window), are no other window.
    const Qt::WindowType type = window->type();
    if (type == Qt::Popup || type == Qt::ToolTip || type == Qt::SplashScreen || window->modality() != Qt::NonModal)
        return false;
    for (const QWindow* w = window; w; w = w->transientParent())
        if (w == windowHandle())
            return false;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->windowHandle() == window && (top == this || isAncestorOf(top)))
            return false;
    return true;
}

void TSettings::focusWindowChanged(QWindow* now)
{
    QPointer<QWindow> before = m_lastFocusWindow;
    m_lastFocusWindow = now;
    // The focus went elsewhere first: the next return is not the showing's own.
    if (now != windowHandle())
        m_justShown = false;
    if (!now || now != windowHandle() || before == now || !isVisible())
        return;
    const bool cameBackToProgram = std::exchange(m_leftProgram, false);
    // The showing itself has reloaded already.
    if (std::exchange(m_justShown, false) || m_ownDialogs > 0)
        return;
    if (before ? isOtherWindowOfProgram(before) : cameBackToProgram)
        reload();
}

void TSettings::separatorEdited(const QString& text)
{
    const std::string value = cellBytes(text);
    const std::string problem = exportSeparatorProblem(value);
    windowStatus(1, q(problem));
    if (problem.empty()) {
        m_context.settings.ExportSeparator = value;
        return;
    }
    // An empty field waits for the next character; anything else is taken back at once.
    if (!text.isEmpty())
        Edit_export_separator->setText(cellText(m_context.settings.ExportSeparator));
}

void TSettings::refreshPortList()
{
    const bool before = Combo_com_name->blockSignals(true);
    const QString current = cellText(m_context.settings.Name);
    Combo_com_name->clear();
#ifdef Q_OS_WIN
    for (int i = 1; i <= kPortCount; ++i)
        Combo_com_name->addItem(QString("COM%1").arg(i));
    Combo_com_name->lineEdit()->setMaxLength(kPortNameLength);
#else
    // Linux and macOS name their ports ttyUSB0, ttyACM0, cu.usbserial-...; any typed name
    // or path is taken as it is.
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& port : ports) {
        Combo_com_name->addItem(port.portName());
        QString tip = port.systemLocation();
        if (!port.description().isEmpty())
            tip = port.description() + " (" + tip + ")";
        Combo_com_name->setItemData(Combo_com_name->count() - 1, tip, Qt::ToolTipRole);
    }
    if (!current.isEmpty() && Combo_com_name->findText(current, Qt::MatchExactly) < 0) {
        Combo_com_name->addItem(current);
        const QString device = cellText(deviceForPortName(cellBytes(current)));
        const bool present = m_context.commandPort.exists(cellBytes(device));
        Combo_com_name->setItemData(Combo_com_name->count() - 1, present ? device : device + " (not present)",
                                    Qt::ToolTipRole);
    }
#endif
    showComboText(Combo_com_name, current);
    Combo_com_name->blockSignals(before);
}

// --- Commands -------------------------------------------------------------------------------

void TSettings::pressV1Set(V1Parameter parameter, const QString& choice)
{
    OwnDialog own(*this);
    m_v1.pressSet(parameter, V1Commands::valueFor(parameter, cellBytes(choice)));
}

void TSettings::setLamp(V1Commands::Lamp lamp)
{
    switch (lamp) {
    case V1Commands::Lamp::Idle:
        LED_success->setColour(kLampIdle);
        break;
    case V1Commands::Lamp::Success:
        LED_success->setColour(kLampSuccess);
        break;
    case V1Commands::Lamp::Failure:
        LED_success->setColour(kLampFailure);
        break;
    }
}

void TSettings::addReply(const std::string& reply)
{
    // One reply is one new entry; its own line breaks stay, a closing one is not needed.
    // Bytes that are not text show as hex.
    const std::string shown = V2Commands::replyText(reply);
    QString text = QString::fromLatin1(shown.data(), int(shown.size()));
    text.replace("\r\n", "\n").replace('\r', '\n');
    if (text.endsWith('\n'))
        text.chop(1);
    Memo_S2->appendPlainText(text);
}

void TSettings::updatePortControls()
{
    const bool portInUse = m_context.reading.portOpen() || m_v2.portOpen();
    for (QComboBox* combo : {Combo_com_name, Combo_com_speed, Combo_com_parity})
        combo->setEnabled(!portInUse);
    Butt_open_port->setText(m_context.reading.portOpen() ? "Disconnect" : "Connect to port");
}

void TSettings::windowStatus(int panel, const QString& text)
{
    (panel == 0 ? StatusPanel0 : StatusPanel1)->setText(text);
}

bool TSettings::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (watched == Edit_masterKey || watched == Edit_S2masterkey) {
            if (enter && watched == Edit_S2masterkey) {
                BitBtn9->click();
                return true;
            }
            // Backspace is refused like any other key that is no hex digit; the field's
            // validator refuses the rest and says why. Shortcuts (copy, paste, select all)
            // and the cursor keys still work.
            if (key->key() == Qt::Key_Backspace)
                return true;
        } else if (watched == Edit_freeCommand && enter) {
            Button4->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace palvero
