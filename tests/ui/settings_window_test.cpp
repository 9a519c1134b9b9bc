// The Settings window against scripted serial ports: its controls and texts, loading and
// the rules of the tied boxes, the title fields and up-downs, Apply and Cancel, the key
// filter, the result lamp, the v2 reply log, and how the port controls follow the ports.

#include "cell_text.h"
#include "choose_from_list.h"
#include "colour_button.h"
#include "key_field.h"
#include "fake_serial_port.h"
#include "main_window.h"
#include "program.h"
#include "scripted_operator.h"
#include "settings_window.h"
#include "status_lamp.h"
#include "temp_dir.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace palvero;
using palvero::test::FakeSerialPort;
using palvero::test::FakeSleeper;
using palvero::test::ScriptedOperator;
using palvero::test::TempDir;
using palvero::test::chooseFromList;

namespace {

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}

class RecordingLog : public ErrorLogger {
public:
    void LogErrorCode(int) override {}
    void LogErrorText(const std::string&) override {}
};

// The window beside the main window it serves, over fake reading and command ports.
struct Harness {
    explicit Harness(const std::string& ini = {}, const std::string& programFolder = "")
    {
        const auto folder = programFolder.empty() ? dir.path() : dir / programFolder;
        if (!ini.empty())
            palvero::test::writeFile(folder / "palvero.ini", ini);
        const ProgramPaths paths(folder / "palvero");
        main = std::make_unique<TForm1>(
            MainWindowContext{settings, formats, op, log, nullptr, port, sleeper, paths});
        window = std::make_unique<TSettings>(
            SettingsWindowContext{settings, main->table(), main->reading(), commandPort, sleeper, op, paths});
    }

    void show()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    template <typename T>
    T* get(const char* name)
    {
        return window->findChild<T*>(name);
    }
    std::string ini() { return palvero::test::readFile(dir / "palvero.ini"); }
    // A v1 receiver that prompts after 0x00 and after "M".
    void promptingReceiver()
    {
        port.wakeAnswer = {'>'};
        port.afterWrite = [this](const std::vector<uint8_t>& bytes) {
            if (bytes == std::vector<uint8_t>{'M'})
                port.arrive({'>'});
        };
    }

    TempDir dir;
    std::vector<std::string> transcript;
    Settings settings;
    FixedFormats formats;
    ScriptedOperator op;
    RecordingLog log;
    FakeSerialPort port{transcript};
    FakeSerialPort commandPort{transcript};
    FakeSleeper sleeper{transcript};
    std::unique_ptr<TForm1> main;
    std::unique_ptr<TSettings> window;
};

// The visible text of a control: a button's caption, a group's title, a label's text, a
// field's hint.
QString captionOf(QObject* o)
{
    if (auto* b = qobject_cast<QAbstractButton*>(o))
        return b->text();
    if (auto* g = qobject_cast<QGroupBox*>(o))
        return g->title();
    if (auto* l = qobject_cast<QLabel*>(o))
        return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(o))
        return e->placeholderText();
    return {};
}

QStringList itemsOf(QComboBox* combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

QString enabledTitles(TSettings& w)
{
    QString on;
    for (QLineEdit* e : {w.Edit1, w.Edit2, w.Edit3, w.Edit4, w.Edit5, w.Edit6, w.Edit7, w.Edit8, w.Edit9})
        on += e->isEnabled() ? '1' : '0';
    return on;
}

// Types characters that no key of a US keyboard gives, as an input method sends them.
void typeText(QWidget* widget, const QString& text)
{
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

} // namespace

class SettingsWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void windowAndControls_data();
    void windowAndControls();
    void listsAndLimits();
    void tiedBoxesOnLoad_data();
    void tiedBoxesOnLoad();
    void tiedBoxesOnClick();
    void titleFieldsAndUpDowns_data();
    void titleFieldsAndUpDowns();
    void controlsEditTheRecordAtOnce();
    void codePageShowsAndTakesTheTitles();
    void hidingKeepsTheChangeUntilTheNextShowing_data();
    void hidingKeepsTheChangeUntilTheNextShowing();
    void masterKeyFieldsTakeOnlyHexDigits();
    void applyWritesThePageAndSetsTheTable();
    void applyWithoutWritePermission();
    void v1SetLightsTheLamp();
    void v2CommandsAndTheReplyLog();
    void portControlsFollowThePorts();
    void portListHoldsTheNameInUse();
    void programOpensTheWindowFromTools();
    void bothPagesPaint();
    void listChoiceStaysChosen_data();
    void listChoiceStaysChosen();
    void v1SetSendsTheModeChosenFromTheList();
    void reloadAsksBeforeDroppingEdits_data();
    void reloadAsksBeforeDroppingEdits();
    void applyFromEitherPageKeepsBothPages();
    void separatorIsOneVisibleCharacter();
    void keyFieldsTakePastedKeys();
    void v2PageTellsTheTruth();
};

void SettingsWindowTest::windowAndControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<bool>("enabled");

    auto row = [](const char* name, const char* caption, bool shown = true, bool enabled = true) {
        QTest::newRow(name) << name << QString::fromUtf8(caption) << shown << enabled;
    };
    row("GroupBox_port", "   Serial port settings   ");
    row("Butt_open_port", "Connect to port", false);
    row("Check_rts", "RTS control");
    row("Check_dtr", "DTR control");
    row("UD_retry_read", "", false);
    row("Color_tableRow", "");
    row("Check_repeater", "");
    row("Check_readOnce", "Read meters only ONCE");
    row("Check_useNotes", "Overwrite field \"Notes\"");
    row("Check_autoSave", "Automatically save data on Exit");
    row("Check_saveMeters", "Save meters and AES keys");
    row("Check_aesFill", "Add 00 to key, if key not full");
    row("Check_fontBold", "Bold");
    row("Check_decodeApator", "Decode Apator half OMS", false);
    row("Check_dbKey", "Use database key for known meters");
    row("Check_wrongCI", "Discard telegram if wrong CI");
    row("Check_excludeRepeated", "Exclude repeated");
    row("Check_simpleExport", "Simple import/export");
    row("Check_QundisMfr", "Decode QDS mfr specific", false);
    row("Check_measureUnit", "Do not add measure unit", false);
    row("GroupBox_encryption", "   Encryption and  reader settings   ");
    row("Check_aes128", "Decrypt AES-128");
    row("Check_aes128Mode1", "AES-128 mode 1", false);
    row("Check_masterKey", "Use Master key for all meters");
    row("Edit_masterKey", "AES-128 master key");
    row("Check_v1", "v1");
    row("Check_v2", "v2");
    row("BitBtn11", "Check version", true, false);
    // A file without V1 gives a v2 receiver: the v1 group waits disabled.
    row("GroupBox_v1", "   v1 Settings   ", true, false);
    row("Button1", "Set");
    row("BitBtn8", "Set");
    row("Button2", "Set");
    row("BitBtn7", "Set");
    row("Check_setRSSI", "RSSI");
    row("BitBtn6", "Set");
    row("Combo_installMode", "", false);
    row("Button3", "Set", false);
    row("Check_setModeRAM", "Set in RAM on START");
    row("GroupBox_v2", "   v2 Settings   ");
    row("Label_S2error", "Error command", false);
    row("BitBtn3", "Set");
    row("Check_S2decryption", "Decryption On/Off");
    row("Butt_S2decryption", "Set");
    row("Check_S2rssi", "RSSI On/Off");
    row("BitBtn10", "Set");
    row("BitBtn9", "Save");
    row("BitBtn12", "Get main");
    row("BitBtn13", "Clear log");
    row("Button4", "Send a command");
    row("BitBtn2", "Cancel");
    row("BitBtn1", "Apply");
    row("Check_enableColorMrv", "Enable coloring");
    row("BitBtn4", "Close");
    row("BitBtn5", "Apply");
}

void SettingsWindowTest::windowAndControls()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(bool, shown);
    QFETCH(bool, enabled);

    Harness h;
    QVERIFY(!h.window->isVisible());
    QCOMPARE(h.window->objectName(), QString("TSettings"));
    QCOMPARE(h.window->windowTitle(), QString("Palvero -> Settings"));
    QVERIFY(h.window->windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!(h.window->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(!h.window->isModal());
    QCOMPARE(h.window->PageControl1->tabText(0), QString("   Communication settings   "));
    QCOMPARE(h.window->PageControl1->tabText(1), QString("   Additional information   "));
    QCOMPARE(h.window->PageControl1->currentIndex(), 0);

    QWidget* control = h.get<QWidget>(qPrintable(name));
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(captionOf(control), caption);
    QWidget* page = name == "Check_enableColorMrv" || name == "BitBtn4" || name == "BitBtn5"
        ? h.window->PageControl1->widget(1)
        : h.window->PageControl1->widget(0);
    QCOMPARE(control->isVisibleTo(page), shown);
    // Enabled in itself: the v1 group is disabled as a whole, its controls are not.
    QCOMPARE(!control->testAttribute(Qt::WA_ForceDisabled), enabled);
}

void SettingsWindowTest::listsAndLimits()
{
    Harness h;
    TSettings& w = *h.window;
    QCOMPARE(itemsOf(w.Combo_com_speed),
             QStringList({"300", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"}));
    QCOMPARE(itemsOf(w.Combo_com_parity), QStringList({"None", "Even", "Odd", "Mark", "Space"}));
    QCOMPARE(itemsOf(w.Combo_RCtype), QStringList({"MASTER", "REPEATER"}));
    QCOMPARE(itemsOf(w.Combo_RCmode), QStringList({"T1", "T2", "S1", "S2", "R", "T1+C", "T2+C"}));
    QCOMPARE(itemsOf(w.Combo_protocol), QStringList({"MORVANE", "MORVANE with CRC"}));
    QCOMPARE(itemsOf(w.Combo_RFPower), QStringList({"1", "2", "3", "4", "5"}));
    QCOMPARE(itemsOf(w.Combo_S2mode), QStringList({"T1", "S1", "C (Frame B)"}));
    QCOMPARE(itemsOf(w.Combo_installMode), QStringList({"Normal", "Accept All"}));
    const QString limits = QString("%1-%2 %3-%4 %5-%6")
                               .arg(w.UD_fontSize->minimum())
                               .arg(w.UD_fontSize->maximum())
                               .arg(w.UD_addValues->minimum())
                               .arg(w.UD_addValues->maximum())
                               .arg(w.UD_retry_read->minimum())
                               .arg(w.UD_retry_read->maximum());
    QCOMPARE(limits, QString("6-36 0-16 0-9"));
    QCOMPARE(h.get<QLineEdit>("Edit_fontSize"), w.Edit_fontSize);
    QVERIFY(h.get<QLineEdit>("EditAddValues")->isReadOnly());
    QCOMPARE(w.Edit_export_separator->maxLength(), 1);
    // Room for a key pasted with blanks; the field keeps 32 digits (masterKeyFieldsTakeOnlyHexDigits).
    QCOMPARE(w.Edit_masterKey->maxLength(), kKeyFieldLength);
    QCOMPARE(w.Edit_S2masterkey->maxLength(), kKeyFieldLength);
    QCOMPARE(w.Edit9->maxLength(), 15);
    QCOMPARE(w.Timer1->interval(), 2000);
    QVERIFY(h.get<StatusLamp>("LED_success"));
    QCOMPARE(w.LED_success->colour(), TSettings::kLampIdle);

    QStringList labels;
    for (QLabel* l : w.findChildren<QLabel*>())
        labels << l->text();
    for (const char* text : {"Name", "Speed", "Parity", "Retries", "Export separator:", "Font size in table",
                             "Color row last read", "Color devices with low battery",
                             "Color devices, coming from repeater:", "Concentrator network type", "RF strength",
                             "Concentrator mode", "Concentrator Protocol", "Filter On/Off", "Wireless m-bus mode",
                             "Set Master decryption key in RXL-IoT", "Respond", "Additional values", "to show:",
                             "Title 1", "Title 9", "Select colors for MRV devices", "Select color for test mode:",
                             "Select color for processing", "Select color for finished test"})
        QVERIFY2(labels.contains(text), text);
    QVERIFY(h.get<QLabel>("Label_colorsMrv")->font().bold());
}

void SettingsWindowTest::tiedBoxesOnLoad_data()
{
    QTest::addColumn<QString>("ini");
    QTest::addColumn<bool>("v1");
    QTest::addColumn<bool>("master");
    QTest::addColumn<bool>("database");

    QTest::newRow("no file") << "" << false << false << false;
    QTest::newRow("V1 and V2 set: v2") << "[Wireless]\r\nV1=1\r\nV2=1\r\n" << false << false << false;
    QTest::newRow("neither: v1") << "[Wireless]\r\nV1=0\r\nV2=0\r\n" << true << false << false;
    QTest::newRow("V1 only") << "[Wireless]\r\nV1=1\r\nV2=0\r\n" << true << false << false;
    QTest::newRow("both keys: master only") << "[Misc]\r\nUseDBMeters=1\r\n[Wireless]\r\nUseMaster=1\r\n" << false
                                            << true << false;
    QTest::newRow("database key only") << "[Misc]\r\nUseDBMeters=1\r\n" << false << false << true;
}

void SettingsWindowTest::tiedBoxesOnLoad()
{
    QFETCH(QString, ini);
    QFETCH(bool, v1);
    QFETCH(bool, master);
    QFETCH(bool, database);

    Harness h(ini.toStdString());
    // At creation (start-up defaults) and at the first showing (activation defaults) alike.
    for (const char* when : {"load", "reload"}) {
        if (QByteArray(when) == "reload")
            h.show();
        TSettings& w = *h.window;
        QVERIFY2(w.Check_v1->isChecked() == v1 && w.Check_v2->isChecked() == !v1, when);
        QVERIFY2(w.GroupBox_v1->isEnabled() == v1 && w.GroupBox_v2->isEnabled() == !v1, when);
        QVERIFY2(h.settings.V1 == v1 && h.settings.V2 == !v1, when);
        QVERIFY2(w.Check_masterKey->isChecked() == master && h.settings.UseMaster == master, when);
        QVERIFY2(w.Check_dbKey->isChecked() == database && h.settings.UseDBMeters == database, when);
    }
}

void SettingsWindowTest::tiedBoxesOnClick()
{
    Harness h;
    TSettings& w = *h.window;
    h.show();

    w.Check_v1->click();
    QVERIFY(h.settings.V1 && !h.settings.V2 && !w.Check_v2->isChecked());
    QVERIFY(w.GroupBox_v1->isEnabled() && !w.GroupBox_v2->isEnabled());
    w.Check_v1->click();
    QVERIFY(!h.settings.V1 && h.settings.V2 && w.Check_v2->isChecked());
    QVERIFY(!w.GroupBox_v1->isEnabled() && w.GroupBox_v2->isEnabled());
    w.Check_v2->click();
    QVERIFY(h.settings.V1 && w.Check_v1->isChecked() && w.GroupBox_v1->isEnabled());

    w.Check_masterKey->click();
    QVERIFY(h.settings.UseMaster);
    w.Check_dbKey->click();
    QVERIFY(h.settings.UseDBMeters && !h.settings.UseMaster && !w.Check_masterKey->isChecked());
    w.Check_dbKey->click(); // clearing one leaves the other clear
    QVERIFY(!h.settings.UseDBMeters && !h.settings.UseMaster);

    w.Check_aes128->click();
    QVERIFY(h.settings.AES128_5 && !h.settings.AES128_1 && !w.Check_aes128Mode1->isChecked());
    w.Check_aes128->click();
    QVERIFY(!h.settings.AES128_5 && h.settings.AES128_1 && w.Check_aes128Mode1->isChecked());
}

void SettingsWindowTest::titleFieldsAndUpDowns_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("enabled");
    QTest::addColumn<int>("shown");

    QTest::newRow("0") << 0 << "000000000" << 0;
    QTest::newRow("1") << 1 << "100000000" << 1;
    QTest::newRow("3") << 3 << "111000000" << 3;
    QTest::newRow("9") << 9 << "111111111" << 9;
    QTest::newRow("10") << 10 << "000000000" << 10;
    QTest::newRow("12") << 12 << "000000000" << 12;
    QTest::newRow("16") << 16 << "000000000" << 16;
    QTest::newRow("20: the up-down stops at 16") << 20 << "000000000" << 16;
    QTest::newRow("-3: the up-down stops at 0") << -3 << "000000000" << 0;
}

void SettingsWindowTest::titleFieldsAndUpDowns()
{
    QFETCH(int, count);
    QFETCH(QString, enabled);
    QFETCH(int, shown);

    // From the file, at creation and at each showing.
    Harness h("[Titles]\r\nCount=" + std::to_string(count) + "\r\n[Misc]\r\nFontSize=" + std::to_string(count * 3)
              + "\r\n");
    QCOMPARE(h.window->UD_addValues->value(), shown);
    QCOMPARE(enabledTitles(*h.window), enabled);
    QCOMPARE(h.settings.Count, shown);
    QCOMPARE(h.window->UD_fontSize->value(), std::clamp(count * 3, 6, 36));
    h.show();
    QCOMPARE(enabledTitles(*h.window), enabled);

    // From the up-down, after every change.
    Harness user;
    user.window->UD_addValues->setValue(count);
    QCOMPARE(enabledTitles(*user.window), enabled);
    QCOMPARE(user.settings.Count, shown);
}

void SettingsWindowTest::controlsEditTheRecordAtOnce()
{
    Harness h;
    TSettings& w = *h.window;
    h.show();
    w.Combo_com_name->setEditText("ttyUSB0");
    w.Combo_com_speed->setEditText("14400");
    w.Combo_RCmode->setCurrentText("T1+C");
    w.Check_readOnce->click();
    w.Check_S2rssi->click();
    w.UD_addValues->setValue(3);
    QTest::keyClicks(w.Edit3, "Flow");
    w.UD_fontSize->stepBy(4);
    w.chooseColour = [](uint32_t current, const QString& title) -> std::optional<uint32_t> {
        if (title != "Color row last read" || current != 12639424)
            return std::nullopt;
        return 0x00123456;
    };
    w.Color_tableRow->click();
    w.Color_lowBattery->click(); // cancelled: stays

    QCOMPARE(q(h.settings.Name), QString("ttyUSB0"));
    QCOMPARE(q(h.settings.Speed), QString("14400"));
    QCOMPARE(q(h.settings.CMode), QString("T1+C"));
    QVERIFY(h.settings.ReadOnce);
    QVERIFY(!h.settings.RSSI_v2);
    QCOMPARE(q(h.settings.Title3), QString("Flow"));
    QCOMPARE(h.settings.FontSize, 12);
    QCOMPARE(h.settings.ColorRow, 0x00123456u);
    QCOMPARE(w.Color_tableRow->colour(), 0x00123456u);
    QCOMPARE(h.settings.LowBattery, 65535u);
    // In force at once, without Apply: nothing is written.
    QVERIFY(!std::filesystem::exists(h.dir / "palvero.ini"));
}

void SettingsWindowTest::codePageShowsAndTakesTheTitles()
{
    Harness h("[Titles]\r\nCount=3\r\nTitle1=\xCF\xE0\r\n[Palvero]\r\nCodePage=Windows-1251\r\n");
    bindCellCodePage(&h.settings);
    TSettings& w = *h.window;
    QSignalSpy changed(&w, &TSettings::codePageChanged);
    h.show();
    QCOMPARE(w.Combo_codePage->currentText(), QString("Windows-1251 (Cyrillic)"));
    QCOMPARE(itemsOf(w.Combo_codePage), QStringList({"Windows-1251 (Cyrillic)", "Windows-1252 (Western)"}));
    QCOMPARE(w.Edit1->text(), QString("\u041F\u0430"));
    // A character the code page holds is typed as its byte; one it cannot hold is refused.
    w.Edit2->setFocus();
    typeText(w.Edit2, QString("\u0412\u043E\u00E9"));
    QCOMPARE(w.Edit2->text(), QString("\u0412\u043E"));
    QCOMPARE(h.settings.Title2, std::string("\xC2\xEE"));

    const int before = changed.count();
    w.PageControl1->setCurrentIndex(1);
    w.Combo_codePage->setFocus();
    QTest::keyClick(w.Combo_codePage, Qt::Key_Down);
    QCOMPARE(q(h.settings.CodePage), QString("Windows-1252"));
    QCOMPARE(changed.count(), before + 1);
    QCOMPARE(cellText(h.settings.Title1), QString("\u00CF\u00E0")); // the same bytes, shown as Western
    w.BitBtn5->click();
    QVERIFY(h.ini().find("Title2=\xC2\xEE\r\n") != std::string::npos);
    QVERIFY(h.ini().find("[Palvero]\r\nCodePage=Windows-1252\r\n") != std::string::npos);
    bindCellCodePage(nullptr);
}

void SettingsWindowTest::hidingKeepsTheChangeUntilTheNextShowing_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel") << "BitBtn2";
    QTest::newRow("Close") << "BitBtn4";
    QTest::newRow("close box") << "close";
    QTest::newRow("Escape") << "escape";
}

void SettingsWindowTest::hidingKeepsTheChangeUntilTheNextShowing()
{
    QFETCH(QString, how);

    // No file: the first showing leaves the port as start-up set it.
    Harness h;
    QCOMPARE(q(h.settings.Speed), QString("19200"));
    QCOMPARE(q(h.settings.Parity), QString("None"));
    h.show();
    QCOMPARE(h.window->Combo_com_speed->currentText(), QString("19200"));
    QCOMPARE(h.window->Combo_com_parity->currentText(), QString("None"));
    QCOMPARE(q(h.settings.Speed + " " + h.settings.Parity), QString("19200 None"));
    QVERIFY(h.op.messages.empty());

    h.window->Check_wrongCI->click();
    if (how == "close")
        QVERIFY(h.window->close());
    else if (how == "escape")
        QTest::keyClick(h.window.get(), Qt::Key_Escape);
    else
        h.get<QPushButton>(qPrintable(how))->click();
    QVERIFY(!h.window->isVisible());
    QVERIFY(h.settings.DiscardCI);
    QVERIFY(!std::filesystem::exists(h.dir / "palvero.ini"));

    // The next showing asks before it drops the edit.
    h.op.choiceAnswers = {"Read the file again"};
    h.show();
    QCOMPARE(h.op.choices.size(), size_t(1));
    QVERIFY(!h.settings.DiscardCI);
    QVERIFY(!h.window->Check_wrongCI->isChecked());

    // Coming back from another window of the program reloads too.
    h.window->Check_wrongCI->click();
    h.op.choiceAnswers = {"Read the file again"};
    h.main->show();
    h.main->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(h.main.get()));
    h.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
    QCOMPARE(h.op.choices.size(), size_t(2));
    QVERIFY(!h.settings.DiscardCI);
}

void SettingsWindowTest::masterKeyFieldsTakeOnlyHexDigits()
{
    Harness h;
    h.show();
    for (QLineEdit* field : {h.window->Edit_masterKey, h.window->Edit_S2masterkey}) {
        QTest::keyClicks(field, "0aF9gG z-x.");
        QCOMPARE(field->text(), QString("0aF9"));
        QTest::keyClick(field, Qt::Key_Backspace);
        QCOMPARE(field->text(), QString("0aF9"));
        QTest::keyClicks(field, "abcdef0123456789ABCDEF0123456789");
        QCOMPARE(field->text().size(), 32);
    }
    QCOMPARE(q(h.settings.MasterKey), QString("0aF9abcdef0123456789ABCDEF012345"));
}

void SettingsWindowTest::applyWritesThePageAndSetsTheTable()
{
    Harness h("[Titles]\r\nCount=0\r\n");
    TSettings& w = *h.window;
    h.show();
    w.UD_fontSize->setValue(14);
    w.Check_fontBold->click();
    w.UD_addValues->setValue(3);
    w.BitBtn1->click();
    QVERIFY(!w.isVisible());
    QCOMPARE(h.main->table().appearance().fontSize, 14);
    QVERIFY(h.main->table().appearance().bold);
    // The first page's Apply keeps the second page's count too.
    QCOMPARE(h.main->table().columnCount(), 19);
    std::string ini = h.ini();
    QVERIFY(ini.find("FontSize=14") != std::string::npos);
    QVERIFY(ini.find("Count=3") != std::string::npos);
    QVERIFY(ini.find("[Com port]\r\nName=COM1\r\nSpeed=19200\r\nParity=None\r\nRTS=0\r\nDTR=0\r\n")
            != std::string::npos);

    h.show();
    w.UD_addValues->setValue(5);
    w.PageControl1->setCurrentIndex(1);
    w.BitBtn5->click();
    QVERIFY(!w.isVisible());
    QCOMPARE(h.main->table().columnCount(), 21);
    ini = h.ini();
    QVERIFY(ini.find("[Titles]\r\nCount=5\r\nTitle1=\r\nTitle2=") != std::string::npos);
    QVERIFY(ini.find("Title9=\r\n") != std::string::npos);
    QVERIFY(h.op.messages.empty());
}

void SettingsWindowTest::applyWithoutWritePermission()
{
    // The program folder is a plain file: nothing can be written beside the program.
    Harness h({}, "plain");
    palvero::test::writeFile(h.dir / "plain", "x");
    h.show();
    h.window->UD_fontSize->setValue(20);
    h.window->BitBtn1->click();
    h.window->UD_addValues->setValue(2);
    h.window->BitBtn5->click();
    QCOMPARE(h.op.messages.size(), size_t(2));
    for (const auto& m : h.op.messages) {
        QCOMPARE(q(m.caption), QString("Saving settings"));
        QCOMPARE(q(m.text), QString("Settings will not be saved, no write permission"));
        QCOMPARE(m.icon, MessageIcon::Warning);
    }
    QVERIFY(!h.window->isVisible());
    QCOMPARE(h.main->table().appearance().fontSize, 20);
    QCOMPARE(h.main->table().columnCount(), 18);
    QCOMPARE(h.settings.FontSize, 20);
}

void SettingsWindowTest::v1SetLightsTheLamp()
{
    Harness h("[Wireless]\r\nV1=1\r\nV2=0\r\n");
    TSettings& w = *h.window;
    h.show();
    h.promptingReceiver();
    w.Combo_RCmode->setCurrentText("S1");
    w.Button2->click();
    QCOMPARE(palvero::test::hexBytes(h.port.written), std::string("00 4D 03 03 FF 58"));
    QCOMPARE(w.StatusPanel1->text(), QString("Parameter succesfully saved!"));
    QCOMPARE(w.LED_success->colour(), TSettings::kLampSuccess);
    QVERIFY(w.Timer1->isActive());
    QVERIFY(!h.port.isOpen());
    QCOMPARE(h.main->StatusPanel0->text(), QString("COM1 is closed"));
    QTRY_COMPARE_WITH_TIMEOUT(w.LED_success->colour(), TSettings::kLampIdle, 3000);
    QVERIFY(!w.Timer1->isActive());

    h.port.wakeAnswer.clear(); // silent
    w.BitBtn6->click();
    QCOMPARE(w.StatusPanel1->text(), QString("Error setting parameter"));
    QCOMPARE(w.LED_success->colour(), TSettings::kLampFailure);
    // Showing the window again puts the lamp back to idle.
    w.hide();
    h.show();
    QCOMPARE(w.LED_success->colour(), TSettings::kLampIdle);

    h.port.probeFails = true;
    w.Button1->click();
    QCOMPARE(w.StatusPanel1->text(), QString("Serial port opened or not existing"));
    QCOMPARE(q(h.op.messages.back().text), QString("Unable to use selected COM port!"));
    QCOMPARE(w.LED_success->colour(), TSettings::kLampIdle);
}

void SettingsWindowTest::v2CommandsAndTheReplyLog()
{
    Harness h;
    TSettings& w = *h.window;
    h.show();
    w.Combo_S2mode->setEditText("T2");
    w.BitBtn3->click();
    QVERIFY(w.Label_S2error->isVisibleTo(&w));
    QCOMPARE(w.Label_S2error->text(), QString("Error command"));
    QCOMPARE(w.StatusPanel1->text(), QString("Not a valid command"));
    QVERIFY(h.transcript.empty());

    w.Combo_S2mode->setCurrentText("S1");
    w.BitBtn3->click();
    QVERIFY(!w.Label_S2error->isVisibleTo(&w));
    QCOMPARE(std::string(h.commandPort.written.begin(), h.commandPort.written.end()), std::string("set wmod=3"));
    QVERIFY(w.Timer_setv2->isActive());
    QCOMPARE(w.Timer_setv2->interval(), 1700);
    QVERIFY(!w.Combo_com_name->isEnabled());
    h.commandPort.arrive({'O', 'K', '\r', '\n'});
    w.v2().replyTick();
    QCOMPARE(w.Memo_S2->toPlainText(), QString("OK"));
    QVERIFY(!w.Timer_setv2->isActive());
    QVERIFY(!h.commandPort.isOpen());
    QVERIFY(w.Combo_com_name->isEnabled());

    // A key field typed short: refused, nothing sent.
    h.commandPort.written.clear();
    QTest::keyClicks(w.Edit_S2masterkey, "abc");
    QTest::keyClick(w.Edit_S2masterkey, Qt::Key_Return);
    QVERIFY(w.Label_S2error->isVisibleTo(&w));
    QVERIFY(h.commandPort.written.empty());
    QVERIFY(!h.commandPort.isOpen());

    w.BitBtn13->click();
    QCOMPARE(w.Memo_S2->toPlainText(), QString());

    // The free command goes out on Enter in its field; the window stays.
    QTest::keyClicks(w.Edit_freeCommand, "get main");
    QTest::keyClick(w.Edit_freeCommand, Qt::Key_Return);
    QCOMPARE(std::string(h.commandPort.written.begin(), h.commandPort.written.end()), std::string("get main"));
    QVERIFY(w.isVisible());
}

void SettingsWindowTest::portControlsFollowThePorts()
{
    Harness h;
    TSettings& w = *h.window;
    auto portControls = [&w] {
        return QString("%1%2%3 %4")
            .arg(w.Combo_com_name->isEnabled())
            .arg(w.Combo_com_speed->isEnabled())
            .arg(w.Combo_com_parity->isEnabled())
            .arg(w.Butt_open_port->text());
    };
    QCOMPARE(portControls(), QString("111 Connect to port"));
    h.main->Butt_read->click();
    QCOMPARE(portControls(), QString("000 Disconnect"));
    h.main->Butt_read->click();
    QCOMPARE(portControls(), QString("111 Connect to port"));
    w.Butt_open_port->click(); // acquires the command port
    QVERIFY(w.v2().portOpen());
    QCOMPARE(portControls(), QString("000 Connect to port"));
    w.v2().release();
    QCOMPARE(portControls(), QString("111 Connect to port"));
}

void SettingsWindowTest::portListHoldsTheNameInUse()
{
    const std::string path = "/tmp/palvero-no-such-receiver";
    Harness h("[Com port]\r\nName=" + path + "\r\n");
    h.commandPort.deviceMissing = true;
    h.show();
    QComboBox* names = h.window->Combo_com_name;
    QCOMPARE(names->currentText(), q(path));
    const int index = names->findText(q(path));
    QVERIFY(index >= 0);
    QCOMPARE(names->itemData(index, Qt::ToolTipRole).toString(), q(path + " (not present)"));
#ifndef Q_OS_WIN
    // Long names and paths are taken as typed.
    QVERIFY(names->lineEdit()->maxLength() > 6);
    names->setEditText("/dev/serial/by-id/usb-receiver-if00");
    QCOMPARE(q(h.settings.Name), QString("/dev/serial/by-id/usb-receiver-if00"));
#endif
}

void SettingsWindowTest::programOpensTheWindowFromTools()
{
    TempDir dir;
    Program program(dir / "palvero");
    QAction* command = program.mainWindow().findChild<QAction*>("Settings1");
    QVERIFY(command);
    QVERIFY(command->isEnabled());
    QVERIFY(!program.settingsWindow().isVisible());
    command->trigger();
    QVERIFY(program.settingsWindow().isVisible());
    program.settingsWindow().BitBtn2->click();
    QVERIFY(!program.settingsWindow().isVisible());
}

void SettingsWindowTest::bothPagesPaint()
{
    // Set PALVERO_SCREENSHOTS to a folder to keep the pictures (run under a real display).
    Harness h("[Wireless]\r\nV1=1\r\nV2=0\r\n[Titles]\r\nCount=3\r\nTitle1=Flow\r\n");
    h.show();
    const QString folder = qEnvironmentVariable("PALVERO_SCREENSHOTS");
    const char* files[] = {"settings-communication.png", "settings-additional.png"};
    for (int page = 0; page < 2; ++page) {
        h.window->PageControl1->setCurrentIndex(page);
        const QPixmap shot = h.window->grab();
        QVERIFY(!shot.isNull());
        if (!folder.isEmpty())
            QVERIFY(shot.save(folder + "/" + files[page]));
    }
}

void SettingsWindowTest::listChoiceStaysChosen_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QString>("item");
    QTest::addColumn<bool>("mouse");
    const struct {
        const char* combo;
        const char* item;
    } lists[] = {
        {"Combo_com_name", "ttyUSB7"}, {"Combo_com_speed", "115200"},  {"Combo_com_parity", "Odd"},
        {"Combo_RCtype", "REPEATER"},  {"Combo_RFPower", "3"},         {"Combo_RCmode", "T1+C"},
        {"Combo_protocol", "MORVANE with CRC"},
    };
    for (const auto& l : lists)
        for (bool mouse : {true, false})
            QTest::newRow(qPrintable(QString("%1 %2 %3").arg(l.combo, l.item, mouse ? "mouse" : "keys")))
                << l.combo << l.item << mouse;
}

void SettingsWindowTest::listChoiceStaysChosen()
{
    QFETCH(QString, combo);
    QFETCH(QString, item);
    QFETCH(bool, mouse);

    Harness h("[Com port]\r\nName=COM1\r\n[Wireless]\r\nV1=1\r\nV2=0\r\n");
    TSettings& w = *h.window;
    h.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto* list = h.get<QComboBox>(qPrintable(combo));
    // The port list offers the ports present; this one stands for a receiver plugged in.
    if (combo == "Combo_com_name")
        list->addItem("ttyUSB7");
    w.Check_readOnce->click(); // an edit made before, not yet applied

    QVERIFY(chooseFromList(list, item, mouse));
    QCOMPARE(list->currentText(), item);
    const std::pair<const char*, std::string> fields[] = {
        {"Combo_com_name", h.settings.Name},  {"Combo_com_speed", h.settings.Speed},
        {"Combo_com_parity", h.settings.Parity}, {"Combo_RCtype", h.settings.CType},
        {"Combo_RFPower", h.settings.RFPower}, {"Combo_RCmode", h.settings.CMode},
        {"Combo_protocol", h.settings.Protocol},
    };
    for (const auto& [name, value] : fields)
        if (combo == name)
            QCOMPARE(q(value), item);
    QVERIFY(h.settings.ReadOnce);
    QVERIFY(w.Check_readOnce->isChecked());
    QVERIFY2(h.op.messages.empty(), "no question: the focus came back from the window's own list");
}

void SettingsWindowTest::v1SetSendsTheModeChosenFromTheList()
{
    Harness h("[Wireless]\r\nV1=1\r\nV2=0\r\n");
    TSettings& w = *h.window;
    h.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    h.promptingReceiver();
    QVERIFY(chooseFromList(w.Combo_RCmode, "T1+C", true));
    QTest::mouseClick(w.Button2, Qt::LeftButton);
    QCOMPARE(palvero::test::hexBytes(h.port.written), std::string("00 4D 03 0A FF 58"));
    QCOMPARE(w.StatusPanel1->text(), QString("Parameter succesfully saved!"));
    QCOMPARE(w.Combo_RCmode->currentText(), QString("T1+C"));
}

void SettingsWindowTest::reloadAsksBeforeDroppingEdits_data()
{
    QTest::addColumn<QString>("edit");   // what the operator changes before the window is shown again
    QTest::addColumn<QString>("answer"); // the answer to the question, when one is asked
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("kept");
    QTest::newRow("edit kept") << "edit" << "Keep your changes" << true << true;
    QTest::newRow("edit dropped") << "edit" << "Read the file again" << true << false;
    QTest::newRow("edit as the file has it") << "same" << "" << false << true;
    QTest::newRow("no edit, the file changed") << "file" << "" << false << false;
}

void SettingsWindowTest::reloadAsksBeforeDroppingEdits()
{
    QFETCH(QString, edit);
    QFETCH(QString, answer);
    QFETCH(bool, asked);
    QFETCH(bool, kept);

    Harness h("[Misc]\r\nFontSize=9\r\n");
    TSettings& w = *h.window;
    h.show();
    if (edit == "edit")
        w.UD_fontSize->setValue(20);
    else if (edit == "same")
        w.UD_fontSize->setValue(9);
    else
        palvero::test::writeFile(h.dir / "palvero.ini", "[Misc]\r\nFontSize=11\r\n");
    w.BitBtn2->click();
    if (!answer.isEmpty())
        h.op.choiceAnswers = {answer.toStdString()};
    h.show();
    QCOMPARE(h.op.choices.size(), size_t(asked ? 1 : 0));
    if (asked) {
        QCOMPARE(q(h.op.messages[0].caption), QString("Palvero -> Settings"));
        QCOMPARE(h.op.choices[0], (std::vector<std::string>{"Keep your changes", "Read the file again"}));
    }
    const int expected = edit == "edit" ? (kept ? 20 : 9) : edit == "same" ? 9 : 11;
    QCOMPARE(h.settings.FontSize, expected);
    QCOMPARE(w.UD_fontSize->value(), expected);
    // Kept once, the same edits over the same file are not asked about again.
    w.hide();
    h.show();
    QCOMPARE(h.op.choices.size(), size_t(asked ? 1 : 0));
    QCOMPARE(h.settings.FontSize, expected);
}

void SettingsWindowTest::applyFromEitherPageKeepsBothPages()
{
    for (int page : {0, 1}) {
        Harness h;
        TSettings& w = *h.window;
        h.show();
        w.Combo_com_name->setEditText("ttyUSB3"); // first page
        w.UD_addValues->setValue(2);              // second page
        QTest::keyClicks(w.Edit1, "Flow");
        w.PageControl1->setCurrentIndex(page);
        (page == 0 ? w.BitBtn1 : w.BitBtn5)->click();
        const std::string ini = h.ini();
        for (const char* line : {"Name=ttyUSB3\r\n", "Count=2\r\n", "Title1=Flow\r\n"})
            QVERIFY2(ini.find(line) != std::string::npos, line);
        QVERIFY(ini.find("[Com port]") < ini.find("[Misc]"));
        QVERIFY(ini.find("[Wireless]") < ini.find("[Titles]"));
        QCOMPARE(h.main->table().columnCount(), 18);
        // Applied: the next showing has nothing to ask about.
        h.show();
        QVERIFY(h.op.choices.empty());
    }
}

void SettingsWindowTest::separatorIsOneVisibleCharacter()
{
    Harness h;
    TSettings& w = *h.window;
    h.show();
    QLineEdit* field = w.Edit_export_separator;
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, "|");
    QCOMPARE(q(h.settings.ExportSeparator), QString("|"));
    QCOMPARE(w.StatusPanel1->text(), QString());

    // Emptied: refused with the reason; the separator in force stays, and comes back into
    // the field when the operator leaves it.
    QTest::keyClick(field, Qt::Key_Backspace);
    QCOMPARE(field->text(), QString());
    QCOMPARE(q(h.settings.ExportSeparator), QString("|"));
    QCOMPARE(w.StatusPanel1->text(), QString("The export separator cannot be empty: type one character, for example ;"));
    w.Check_readOnce->setFocus();
    QCOMPARE(field->text(), QString("|"));

    // A two-byte character is taken back at once.
    field->selectAll();
    QApplication::clipboard()->setText(QString::fromUtf8("\xC2\xA7"));
    field->paste();
    QCOMPARE(field->text(), QString("|"));
    QCOMPARE(q(h.settings.ExportSeparator), QString("|"));
    QVERIFY(!w.StatusPanel1->text().isEmpty());
    field->selectAll();
    QTest::keyClicks(field, " ");
    w.BitBtn1->click();
    QVERIFY(h.ini().find("ExportSeparator=\" \"\r\n") != std::string::npos);
    h.show();
    QCOMPARE(field->text(), QString(" "));
}

void SettingsWindowTest::keyFieldsTakePastedKeys()
{
    // The fields' validator itself: small_windows_test keyFieldTakesPastedKeys.
    Harness h("[Wireless]\r\nV1=0\r\nV2=1\r\n");
    TSettings& w = *h.window;
    h.show();
    QApplication::clipboard()->setText("00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff");
    w.Edit_masterKey->paste();
    QCOMPARE(q(h.settings.MasterKey), QString("00112233445566778899aabbccddeeff"));
    QApplication::clipboard()->setText("key 0011");
    w.Edit_masterKey->selectAll();
    w.Edit_masterKey->paste();
    QCOMPARE(q(h.settings.MasterKey), QString("00112233445566778899aabbccddeeff"));
    QCOMPARE(w.Label_masterKeyProblem->text(), QString("\"k\" is not a hexadecimal digit: a key is 32 digits 0-9 and A-F"));

    // "Save" with a key that is not one says why beside the field, and sends nothing.
    w.Edit_S2masterkey->setText("0011");
    w.BitBtn9->click();
    QCOMPARE(w.Label_S2keyProblem->text(), QString("Only 4 hexadecimal digits: a key has 32"));
    QVERIFY(w.Label_S2error->isVisibleTo(&w));
    QVERIFY(h.commandPort.written.empty());
}

void SettingsWindowTest::v2PageTellsTheTruth()
{
    Harness h;
    TSettings& w = *h.window;
    h.show();
    // The error label keeps its room: the rows below do not move when it shows.
    const QPoint before = w.BitBtn3->mapTo(&w, QPoint(0, 0));
    w.Combo_S2mode->setEditText("T2");
    w.BitBtn3->click();
    QVERIFY(w.Label_S2error->isVisibleTo(&w));
    QCOMPARE(w.BitBtn3->mapTo(&w, QPoint(0, 0)), before);
    // Shown only for the command refused: the next command hides it.
    w.BitBtn12->click();
    QVERIFY(!w.Label_S2error->isVisibleTo(&w));
    QCOMPARE(w.BitBtn3->mapTo(&w, QPoint(0, 0)), before);
    h.commandPort.arrive({'O', 'K', 0x00, 0x7F, '\r', '\n'});
    w.v2().replyTick();
    QCOMPARE(w.Memo_S2->toPlainText(), QString("OK[00 7F]"));

    // The reading holds the port: the command says so and probes nothing.
    h.main->Butt_read->click();
    QCOMPARE(h.main->Butt_read->text(), QString("Stop"));
    h.transcript.clear();
    h.op.messages.clear();
    w.BitBtn12->click();
    QCOMPARE(h.op.messages.size(), size_t(1));
    QCOMPARE(q(h.op.messages[0].text), QString(V2Commands::kReadingHoldsPortText));
    QCOMPARE(w.StatusPanel1->text(), QString("Stop the reading first"));
    QVERIFY(h.transcript.empty());
    h.main->Butt_read->click();
}

QTEST_MAIN(SettingsWindowTest)
#include "settings_window_test.moc"
