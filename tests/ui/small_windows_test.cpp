// The small windows behind the main window's commands: the signal strength chart, the
// key dialog, the full-decode window with its telegram dialog, and the about box, wired
// to the main window as the program wires them.

#include "about_window.h"
#include "decode_telegram_dialog.h"
#include "enter_key_window.h"
#include "key_field.h"
#include "undo_stack.h"
#include "fake_serial_port.h"
#include "full_decode_window.h"
#include "main_window.h"
#include "meter_table_model.h"
#include "meter_tree.h"
#include "program.h"
#include "scripted_operator.h"
#include "signal_chart.h"
#include "telegram_data.h"
#include "temp_dir.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <algorithm>
#include <memory>

using namespace palvero;
using palvero::test::FakeSerialPort;
using palvero::test::FakeSleeper;
using palvero::test::ScriptedOperator;
using palvero::test::TempDir;

namespace {

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}

class RecordingLog : public ErrorLogger {
public:
    void LogErrorCode(int code) override { codes.push_back(code); }
    void LogErrorText(const std::string& text) override { texts.push_back(text); }
    std::vector<int> codes;
    std::vector<std::string> texts;
};

// A receiver frame of an unencrypted water meter of KAM: short transport header and one
// volume record of 1000 litres, then the RSSI byte (0x9A shows as -77).
std::vector<uint8_t> meterFrame(const std::string& id, uint8_t rssi = 0x9A)
{
    std::vector<uint8_t> f = {0x68, 0x00, 0x44, 0x2D, 0x2C};
    for (int i = 3; i >= 0; --i)
        f.push_back(uint8_t(std::stoi(id.substr(size_t(i) * 2, 2), nullptr, 16)));
    const uint8_t rest[] = {0x01, 0x07, 0x7A, 0x01, 0x00, 0x00, 0x00, 0x04, 0x13, 0xE8, 0x03, 0x00, 0x00, rssi, 0x16};
    f.insert(f.end(), std::begin(rest), std::end(rest));
    f[1] = uint8_t(f.size() - 3);
    return f;
}

QString spaced(const std::vector<uint8_t>& bytes)
{
    return q(hexBytesSpaced(bytes.data(), bytes.size()));
}

const std::vector<QString> kWaterListing = {"Decode of telegram for device 10000001", "1. 1.000 m3, ", ""};

palvero::test::RealTelegram realTelegram(const std::string& source)
{
    for (const auto& t : palvero::test::loadRealTelegrams(PALVERO_TEST_DATA "/telegrams/real-world.tsv"))
        if (t.source == source)
            return t;
    return {};
}

// The main window and the four windows, created and attached as the program does.
struct Harness {
    Harness()
    {
        std::filesystem::create_directories(dir / "files");
        settings.Name = "ttyS9";
        const ProgramPaths paths(dir / "palvero");
        window = std::make_unique<TForm1>(
            MainWindowContext{settings, formats, op, log, &keys, port, sleeper, paths});
        about = std::make_unique<TForm4>(window.get());
        window->attachAboutWindow(about.get());
        keyDialog = std::make_unique<TEnterAES>(
            KeyWindowContext{settings, op, log, window->table(), window->tree()}, window.get());
        window->attachKeyWindow(keyDialog.get());
        fullDecode = std::make_unique<TFullDecode>(
            FullDecodeContext{window->table(), settings, formats, op, log, &keys, paths,
                              &window->reception().lastTelegrams()},
            window.get());
        window->attachFullDecodeWindow(fullDecode.get());
        chart = std::make_unique<TForm5>(window->table());
        window->attachSignalChart(chart.get());
    }
    ~Harness()
    {
        // The windows go before the main window, which owns the table they watch.
        chart.reset();
        fullDecode.reset();
        keyDialog.reset();
        about.reset();
    }

    void feed(const std::vector<uint8_t>& frame) { window->reception().receive(frame); }
    void feedMeters(std::initializer_list<const char*> ids)
    {
        for (const char* id : ids)
            feed(meterFrame(id));
    }
    MeterTable& table() { return window->table(); }
    QAction* action(const char* name) { return window->findChild<QAction*>(name); }
    void select(int row) { table().selectedRow = row; }
    QStringList memo() { return fullDecode->Memo_decode->toPlainText().split('\n'); }
    int blocks()
    {
        const QStringList lines = memo();
        return int(std::count_if(lines.begin(), lines.end(),
                                 [](const QString& l) { return l.startsWith("Decode of telegram for device "); }));
    }

    struct Keys : MeterKeySource {
        MeterKeyLookup findMeterKey(const std::string&) override { return {}; }
    };

    TempDir dir;
    std::vector<std::string> transcript;
    Settings settings;
    FixedFormats formats;
    ScriptedOperator op;
    RecordingLog log;
    Keys keys;
    FakeSerialPort port{transcript};
    FakeSleeper sleeper{transcript};
    std::unique_ptr<TForm1> window;
    std::unique_ptr<TForm4> about;
    std::unique_ptr<TEnterAES> keyDialog;
    std::unique_ptr<TFullDecode> fullDecode;
    std::unique_ptr<TForm5> chart;
};

} // namespace

class SmallWindowsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void commandsAreEnabledAndReachTheirWindows();
    void programCreatesTheWindowsHidden();
    void windowCaptionsAndTexts();

    void chartPointsFollowTheTable();
    void chartIsRebuiltOnlyWhileShownAndAtMostEveryInterval();
    void chartFollowsRemovedRowsWhileShown();
    void chartHighlightsTheExactMeter();
    void chartViewZoomsAndResets();
    void chartPaintsTenThousandMeters();

    void keyPadding_data();
    void keyPadding();
    void keyFieldTakesOnlyHexDigits();
    void keyForTheRowOrForAllMeters_data();
    void keyForTheRowOrForAllMeters();
    void keyGoesToTheMeterNamedInTheLabel();
    void keyDoneWithoutAKeySaysSo();
    void keyForAllAsksFirstAndUndoTakesItBack_data();
    void keyForAllAsksFirstAndUndoTakesItBack();
    void keyFieldTakesPastedKeys();
    void popupClearsTheAllMetersBoxMenuKeepsIt();
    void masterKeyKeepsTheDialogClosed();
    void keyDialogKeyboard();
    void keyTakesEffectWithTheNextTelegram_data();
    void keyTakesEffectWithTheNextTelegram();

    void fullDecodeOfTheSelectedRow();
    void fullDecodeUsesTheRowsKey();
    void fullDecodeOfARowWithoutTelegram_data();
    void fullDecodeOfARowWithoutTelegram();
    void fullDecodeOfAReceivedRow();
    void decodeTelegramLeavesTheTableAlone();
    void decodeTelegramTakesTheKeyOfItsMeter();
    void decodeTelegramRefusesBadText_data();
    void decodeTelegramRefusesBadText();
    void savingTheFullDecode();
    void fullDecodeKeyboard();
    void copyFullTelegram();
};

void SmallWindowsTest::commandsAreEnabledAndReachTheirWindows()
{
    Harness h;
    const std::pair<const char*, const char*> commands[] = {
        {"Viewsignalstrenght1", "View signal strenght"}, {"EnterAES128key1", "Enter AES-128 key"},
        {"EnterAES128key2", "Enter AES-128 key"},       {"About1", "About"},
        {"Fulldecode1", "Full decode"},                 {"CopyFulltelegram1", "Copy Full telegram"},
        {"Decodetelegram1", "Decode telegram..."},
    };
    for (const auto& [name, caption] : commands) {
        QAction* a = h.action(name);
        QVERIFY2(a, name);
        QVERIFY2(a->isEnabled(), name);
        QCOMPARE(a->text(), QString(caption));
    }
    QCOMPARE(h.action("Decodetelegram1")->shortcut(), QKeySequence("Ctrl+D"));

    h.feedMeters({"10000001"});
    h.action("About1")->trigger();
    QVERIFY(h.about->isVisible());
    // The about box says where the manuals and the README lie.
    const QString about = h.about->Label3->text();
    for (const char* part : {"UsrManEn.pdf", "UsrManBg.pdf", "README.txt", "sources"})
        QVERIFY2(about.contains(part), part);
    QVERIFY(about.contains(QDir::toNativeSeparators(QCoreApplication::applicationDirPath())));
    QVERIFY(h.about->minimumSize() != h.about->maximumSize());
    h.action("Viewsignalstrenght1")->trigger();
    QVERIFY(h.chart->isVisible());
    h.action("EnterAES128key1")->trigger();
    QVERIFY(h.keyDialog->isVisible());
    h.action("Fulldecode1")->trigger();
    QVERIFY(h.fullDecode->isVisible());
    h.action("Decodetelegram1")->trigger();
    QVERIFY(h.fullDecode->telegramDialog().isVisible());

    // Closing hides; the windows live on with what they held.
    h.about->BitBtn1->click();
    QVERIFY(!h.about->isVisible());
    h.chart->close();
    QVERIFY(!h.chart->isVisible());
    QCOMPARE(h.chart->points().size(), size_t(2));
}

void SmallWindowsTest::programCreatesTheWindowsHidden()
{
    TempDir dir;
    std::filesystem::create_directories(dir / "files");
    Program program(dir / "palvero");
    for (const char* name : {"Viewsignalstrenght1", "EnterAES128key1", "EnterAES128key2", "About1", "Fulldecode1",
                             "CopyFulltelegram1", "Decodetelegram1"})
        QVERIFY2(program.mainWindow().findChild<QAction*>(name)->isEnabled(), name);
    for (const char* name : {"TForm4", "TEnterAES", "TFullDecode", "TForm5"}) {
        const auto windows = QApplication::topLevelWidgets();
        const auto it = std::find_if(windows.begin(), windows.end(),
                                     [&](QWidget* w) { return w->objectName() == name; });
        QVERIFY2(it != windows.end(), name);
        QVERIFY2(!(*it)->isVisible(), name);
        QVERIFY2((*it)->windowFlags() & Qt::WindowStaysOnTopHint, name);
    }
}

void SmallWindowsTest::windowCaptionsAndTexts()
{
    Harness h;
    QCOMPARE(h.about->windowTitle(), QString("Palvero ->About"));
    QCOMPARE(h.about->Label1->text(), QString("About this program"));
    QCOMPARE(h.about->Label2->text(), QString("wMbus reader version  1.1.1.74"));
    QVERIFY(!h.about->Label3->text().isEmpty());
    QCOMPARE(h.about->BitBtn1->text(), QString("Close"));

    TEnterAES& k = *h.keyDialog;
    QCOMPARE(k.windowTitle(), QString("Enter AES-128 key "));
    QCOMPARE(k.Label1->text(), QString("Note: Key should be 32 symbols, entered in HEX, without spaces (FAC812...)"));
    QCOMPARE(k.Check_allAES->text(), QString("Use this Key for all "));
    QCOMPARE(k.Label2->text(), QString("meters in the table"));
    QCOMPARE(k.BitBtn1->text(), QString("Done"));
    QCOMPARE(k.BitBtn2->text(), QString("Cancel"));
    // Room for a key pasted with blanks; 32 digits are kept (keyFieldTakesOnlyHexDigits).
    QCOMPARE(k.Edit_enterKey->maxLength(), kKeyFieldLength);
    QVERIFY(k.Edit_enterKey->font().bold());
    QVERIFY(k.Edit_enterKey->font().pointSize() > QApplication::font().pointSize());
    QVERIFY(!(k.windowFlags() & Qt::WindowCloseButtonHint));

    TFullDecode& d = *h.fullDecode;
    QCOMPARE(d.windowTitle(), QString("Full decode of radio telegram"));
    QCOMPARE(d.BitBtn1->text(), QString("Save"));
    QCOMPARE(d.BitBtn2->text(), QString("Clear"));
    QCOMPARE(d.BitBtn3->text(), QString("Close"));
    QCOMPARE(d.Memo_decode->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(d.Memo_decode->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QVERIFY(!(d.windowFlags() & Qt::WindowCloseButtonHint));

    TForm5& c = *h.chart;
    QCOMPARE(c.windowTitle(), QString("Signal strenght Chart"));
    QCOMPARE(c.Chart_signal->title(), QString("Meters in range, by Serial number"));
    QCOMPARE(c.Chart_signal->valueAxisTitle(), QString("Strength, in dBm"));
    QCOMPARE(c.Chart_signal->valueMinimum(), -120);
    QCOMPARE(c.Chart_signal->valueMaximum(), -20);
    QCOMPARE(BarChart::valueLabel(-120), QString("-120"));
    QCOMPARE(BarChart::valueLabel(0), QString());
    QCOMPARE(c.Label1->text().remove('&'), QString("Highlight exact meter/device"));
    QCOMPARE(c.Edit_searchMeter->maxLength(), 8);
    QCOMPARE(c.BitBtn1->text(), QString("Close"));
    for (QPushButton* b : {c.BitBtn2, c.BitBtn3, c.BitBtn4}) {
        QVERIFY(!b->icon().isNull());
        QVERIFY(!b->toolTip().isEmpty());
    }
}

void SmallWindowsTest::chartPointsFollowTheTable()
{
    Harness h;
    h.chart->show();
    QCOMPARE(h.chart->points().size(), size_t(1)); // an empty table: the fixed point alone
    const ChartBar& fixed = h.chart->points()[0];
    QCOMPARE(fixed.x, 0);
    QCOMPARE(fixed.y, 0);
    QCOMPARE(q(fixed.label), QString("0"));

    h.feed(meterFrame("10000001", 0x9A));
    h.feed(meterFrame("20000002", 0xAE));
    h.feed(meterFrame("30000003", 0xFE));
    h.feed(meterFrame("40000004", 0x40));
    h.table().setCell(2, col::Rssi, "");         // no bar: a gap at row 2
    h.table().setCell(3, col::Rssi, "strong");  // not a whole number
    h.table().setCell(4, col::Rssi, "-87.5");   // nor is this
    const int added = h.table().appendRow();    // a row without meter ID but with a value
    h.table().setCell(added, col::Rssi, "-10");
    h.chart->updateChart();

    const std::vector<std::tuple<int, int, QString>> expected = {
        {0, 0, "0"}, {1, -77, "10000001"}, {3, 0, "30000003"}, {4, 0, "40000004"}, {5, -10, ""}};
    const auto& points = h.chart->points();
    QCOMPARE(points.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        QCOMPARE(points[i].x, std::get<0>(expected[i]));
        QCOMPARE(points[i].y, std::get<1>(expected[i]));
        QCOMPARE(q(points[i].label), std::get<2>(expected[i]));
        QCOMPARE(h.chart->Chart_signal->barColour(i), BarChart::kBarColour);
    }
    // Values outside the axis range are kept as they are.
    h.table().setCell(2, col::Rssi, "-127");
    h.chart->updateChart();
    QCOMPARE(h.chart->points()[2].y, -127);
    QVERIFY(h.table().scratchLines.empty());
}

void SmallWindowsTest::chartIsRebuiltOnlyWhileShownAndAtMostEveryInterval()
{
    Harness h;
    h.feedMeters({"10000001", "20000002"});
    QCOMPARE(h.chart->rebuildCount(), 0L); // hidden: telegrams cost the chart nothing

    h.chart->show();
    QCOMPARE(h.chart->rebuildCount(), 1L); // showing brings it up to date at once
    QCOMPARE(h.chart->points().size(), size_t(3));

    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 200; ++i) {
        char id[9];
        std::snprintf(id, sizeof id, "5%07d", i);
        h.feed(meterFrame(id));
    }
    const bool burstWithinInterval = clock.elapsed() < TForm5::kRebuildInterval;
    if (burstWithinInterval)
        QCOMPARE(h.chart->rebuildCount(), 1L);
    QTRY_COMPARE_WITH_TIMEOUT(h.chart->points().size(), size_t(203), 5000);
    if (burstWithinInterval)
        QCOMPARE(h.chart->rebuildCount(), 2L);

    h.chart->hide();
    const long before = h.chart->rebuildCount();
    h.feedMeters({"60000006"});
    QTest::qWait(TForm5::kRebuildInterval * 2);
    QCOMPARE(h.chart->rebuildCount(), before);
    h.chart->show();
    QCOMPARE(h.chart->points().size(), size_t(204));
}

void SmallWindowsTest::chartFollowsRemovedRowsWhileShown()
{
    Harness h;
    h.feedMeters({"10000001", "20000002", "30000003"});
    h.chart->show();
    h.select(2);
    h.window->removeSelectedRow();
    QTRY_COMPARE_WITH_TIMEOUT(h.chart->points().size(), size_t(3), 5000);
    QCOMPARE(q(h.chart->points()[2].label), QString("30000003"));
    QCOMPARE(h.chart->points()[2].x, 2);

    h.window->clearTablePopup();
    QTRY_COMPARE_WITH_TIMEOUT(h.chart->points().size(), size_t(1), 5000);
}

void SmallWindowsTest::chartHighlightsTheExactMeter()
{
    Harness h;
    h.feedMeters({"10000001", "20000002", "12000002"});
    h.chart->show();
    BarChart& chart = *h.chart->Chart_signal;

    QTest::keyClicks(h.chart->Edit_searchMeter, "2000000");
    for (size_t i = 0; i < h.chart->points().size(); ++i)
        QCOMPARE(chart.barColour(i), BarChart::kBarColour); // seven digits match no meter exactly
    QTest::keyClicks(h.chart->Edit_searchMeter, "2");
    QCOMPARE(chart.barColour(2), BarChart::kHighlightColour);
    QCOMPARE(chart.barColour(1), BarChart::kBarColour);
    QCOMPARE(chart.barColour(3), BarChart::kBarColour);
    QCOMPARE(chart.barColour(0), BarChart::kBarColour);

    // The highlight stays with the meter when the chart is rebuilt.
    h.feedMeters({"30000003"});
    h.chart->updateChart();
    QCOMPARE(chart.barColour(2), BarChart::kHighlightColour);
    h.chart->Edit_searchMeter->clear();
    QCOMPARE(chart.barColour(2), BarChart::kBarColour);
    h.chart->grab();
}

void SmallWindowsTest::chartViewZoomsAndResets()
{
    Harness h;
    for (int i = 0; i < 100; ++i) {
        char id[9];
        std::snprintf(id, sizeof id, "7%07d", i);
        h.feed(meterFrame(id));
    }
    h.chart->show();
    BarChart& chart = *h.chart->Chart_signal;
    QCOMPARE(chart.viewStart(), -0.5);
    QCOMPARE(chart.viewEnd(), 100.5);

    h.chart->BitBtn2->click();
    QVERIFY(chart.isZoomed());
    QCOMPARE(chart.viewEnd() - chart.viewStart(), 50.5);
    h.chart->BitBtn2->click();
    QCOMPARE(chart.viewEnd() - chart.viewStart(), 25.25);
    h.chart->BitBtn3->click();
    QCOMPARE(chart.viewEnd() - chart.viewStart(), 50.5);
    h.chart->grab();

    // A highlighted meter outside the view is brought into it.
    QTest::keyClicks(h.chart->Edit_searchMeter, "70000099");
    QVERIFY(chart.viewStart() <= 100 && 100 <= chart.viewEnd());
    h.chart->Edit_searchMeter->clear();
    QTest::keyClicks(h.chart->Edit_searchMeter, "70000000");
    QVERIFY(chart.viewStart() <= 1 && 1 <= chart.viewEnd());

    // Zoomed views keep their place while telegrams add meters.
    const double start = chart.viewStart();
    h.feedMeters({"80000001"});
    h.chart->updateChart();
    QCOMPARE(chart.viewStart(), start);

    h.chart->BitBtn4->click();
    QVERIFY(!chart.isZoomed());
    QCOMPARE(chart.viewEnd(), 101.5);
    h.chart->BitBtn3->click();
    QVERIFY(!chart.isZoomed());
}

void SmallWindowsTest::chartPaintsTenThousandMeters()
{
    Harness h;
    std::vector<ChartBar> bars = {{0, 0, "0"}};
    for (int x = 1; x <= 10000; ++x)
        if (x % 97 != 0)
            bars.push_back({x, -(x % 130), std::to_string(10000000 + x)});
    h.chart->show();
    BarChart& chart = *h.chart->Chart_signal;
    chart.setBars(bars);
    chart.setHighlight("10004321");
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!h.chart->grab().isNull());
    for (int i = 0; i < 12; ++i) {
        chart.zoomIn();
        QVERIFY(!h.chart->grab().isNull());
    }
    chart.resetView();
    chart.resize(2, 2); // smaller than its margins
    QVERIFY(!chart.grab().isNull());
    qInfo("painting 10,000 bars at 14 zoom levels: %lld ms", static_cast<long long>(clock.elapsed()));
}

void SmallWindowsTest::keyPadding_data()
{
    QTest::addColumn<bool>("autoFill");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");

    const QString full = "000102030405060708090A0B0C0D0E0F";
    QTest::newRow("short, filled") << true << "12AB" << "12AB" + QString(28, '0');
    QTest::newRow("short, as typed") << false << "12AB" << "12AB";
    QTest::newRow("32 digits, filled") << true << full << full;
    QTest::newRow("32 digits, as typed") << false << full << full;
    // An empty field stores nothing, also when keys are filled up (keyDoneWithoutAKeySaysSo).
    QTest::newRow("lower case kept") << true << "fac812" << "fac812" + QString(26, '0');
}

void SmallWindowsTest::keyPadding()
{
    QFETCH(bool, autoFill);
    QFETCH(QString, typed);
    QFETCH(QString, stored);

    Harness h;
    h.settings.AutoFillKey = autoFill;
    h.feedMeters({"10000001"});
    h.action("EnterAES128key2")->trigger();
    QTest::keyClicks(h.keyDialog->Edit_enterKey, typed);
    h.keyDialog->BitBtn1->click();
    QVERIFY(!h.keyDialog->isVisible());
    QCOMPARE(q(h.table().cell(1, col::EncryptionKey)), stored);
    QCOMPARE(h.window->tree().meterNode("10000001")->child(0)->text(0), stored);
}

void SmallWindowsTest::keyFieldTakesOnlyHexDigits()
{
    Harness h;
    QLineEdit* field = h.keyDialog->Edit_enterKey;
    QTest::keyClicks(field, "12 xy-AB:g fF9");
    QCOMPARE(field->text(), QString("12ABfF9"));
    QTest::keyClick(field, Qt::Key_Backspace);
    QCOMPARE(field->text(), QString("12ABfF"));
    QTest::keyClicks(field, QString(40, 'e'));
    QCOMPARE(field->text().size(), 32);
}

void SmallWindowsTest::keyForTheRowOrForAllMeters_data()
{
    QTest::addColumn<bool>("allMeters");
    QTest::newRow("selected row") << false;
    QTest::newRow("every meter") << true;
}

void SmallWindowsTest::keyForTheRowOrForAllMeters()
{
    QFETCH(bool, allMeters);
    Harness h;
    h.feedMeters({"10000001", "20000002", "30000003"});
    const int noMeter = h.table().appendRow(); // a row without meter ID
    h.select(2);
    h.action("EnterAES128key2")->trigger();
    QCOMPARE(h.keyDialog->Label_aesKey->text(), QString("Enter AES-128 key for meter 20000002"));
    const QString key = "00112233445566778899AABBCCDDEEFF";
    QTest::keyClicks(h.keyDialog->Edit_enterKey, key);
    h.keyDialog->Check_allAES->setChecked(allMeters);
    h.op.yesNoAnswers = {true};
    h.keyDialog->BitBtn1->click();
    QCOMPARE(h.op.messages.size(), size_t(allMeters ? 1 : 0));
    if (allMeters)
        QCOMPARE(q(h.op.messages[0].text),
                 QString::fromUtf8("This key replaces the keys of all 3 meters in the table.\nUse it for them? (Edit "
                                   "\xE2\x80\xBA Undo takes it back.)"));

    for (int row = 1; row <= 3; ++row) {
        const QString expected = allMeters || row == 2 ? key : QString();
        QCOMPARE(q(h.table().cell(row, col::EncryptionKey)), expected);
        const QString id = q(h.table().cell(row, col::MeterId));
        QCOMPARE(h.window->tree().meterNode(id)->child(0)->text(0), expected);
        QCOMPARE(h.window->model().index(row - 1, col::EncryptionKey).data().toString(), expected);
    }
    QCOMPARE(q(h.table().cell(noMeter, col::EncryptionKey)), QString());
    QVERIFY(h.log.texts.empty());
}

void SmallWindowsTest::keyGoesToTheMeterNamedInTheLabel()
{
    Harness h;
    h.feedMeters({"10000001", "20000002", "30000003"});
    h.select(3);
    h.action("EnterAES128key1")->trigger();
    QTest::keyClicks(h.keyDialog->Edit_enterKey, "AB");
    // The operator clicks elsewhere in the table and re-orders it while the dialog is open.
    h.select(1);
    h.table().setCell(3, col::MeterId, "");
    h.table().setCell(1, col::MeterId, "30000003");
    QTest::keyClick(h.keyDialog->Edit_enterKey, Qt::Key_Return);
    QCOMPARE(q(h.table().cell(1, col::EncryptionKey)), "AB" + QString(30, '0'));
    QCOMPARE(q(h.table().cell(3, col::EncryptionKey)), QString());

    // A meter without a node in the tree: logged, the table still takes the key.
    h.table().setCell(2, col::MeterId, "99999999");
    h.select(2);
    h.action("EnterAES128key1")->trigger();
    h.keyDialog->BitBtn1->click();
    QCOMPARE(q(h.table().cell(2, col::EncryptionKey)), "AB" + QString(30, '0'));
    QCOMPARE(h.log.texts.size(), size_t(1));
}

void SmallWindowsTest::keyDoneWithoutAKeySaysSo()
{
    for (bool autoFill : {true, false}) {
        Harness h;
        h.settings.AutoFillKey = autoFill;
        h.feedMeters({"10000001"});
        h.table().setCell(1, col::EncryptionKey, "AB");
        h.action("EnterAES128key2")->trigger();
        h.keyDialog->Edit_enterKey->clear();
        h.keyDialog->BitBtn1->click();
        QVERIFY(h.keyDialog->isVisible());
        QCOMPARE(h.keyDialog->Label_keyProblem->text(), QString("No key typed: nothing is stored"));
        QCOMPARE(h.table().cell(1, col::EncryptionKey), std::string("AB"));
        QVERIFY(!h.window->undoStack().canUndo());
        // The label empties with the next showing.
        h.keyDialog->cancel();
        h.action("EnterAES128key2")->trigger();
        QCOMPARE(h.keyDialog->Label_keyProblem->text(), QString());
    }
}

void SmallWindowsTest::keyForAllAsksFirstAndUndoTakesItBack_data()
{
    QTest::addColumn<bool>("yes");
    QTest::addColumn<int>("meters");
    QTest::newRow("yes, three meters") << true << 3;
    QTest::newRow("no, three meters") << false << 3;
    QTest::newRow("yes, one meter") << true << 1;
}

void SmallWindowsTest::keyForAllAsksFirstAndUndoTakesItBack()
{
    QFETCH(bool, yes);
    QFETCH(int, meters);
    Harness h;
    for (const char* id : {"10000001", "20000002", "30000003"})
        if (h.table().dataRowCount() < meters || h.table().cell(1, col::MeterId).empty())
            h.feed(meterFrame(id));
    h.table().setCell(1, col::EncryptionKey, "0F");
    h.window->tree().updateKeyNode(1, h.log);
    h.action("EnterAES128key1")->trigger();
    h.keyDialog->Check_allAES->setChecked(true);
    QTest::keyClicks(h.keyDialog->Edit_enterKey, "00112233445566778899AABBCCDDEEFF");
    h.op.yesNoAnswers = {yes};
    QTest::keyClick(h.keyDialog->Edit_enterKey, Qt::Key_Return);
    QCOMPARE(h.op.messages.size(), size_t(1));
    QCOMPARE(h.op.messages[0].icon, MessageIcon::Question);
    QVERIFY(q(h.op.messages[0].text).startsWith(meters == 1 ? "This key replaces the keys of the 1 meter in"
                                                            : "This key replaces the keys of all 3 meters in"));
    QCOMPARE(h.keyDialog->isVisible(), !yes);
    QCOMPARE(h.table().cell(1, col::EncryptionKey), yes ? "00112233445566778899AABBCCDDEEFF" : "0F");
    QCOMPARE(h.window->undoStack().canUndo(), yes);
    if (!yes)
        return;
    h.action("Undo1")->trigger();
    QCOMPARE(h.table().cell(1, col::EncryptionKey), std::string("0F"));
    QCOMPARE(h.window->tree().meterNode("10000001")->child(0)->text(0), QString("0F"));
    for (int row = 2; row <= meters; ++row)
        QCOMPARE(h.table().cell(row, col::EncryptionKey), std::string());
}

void SmallWindowsTest::keyFieldTakesPastedKeys()
{
    Harness h;
    h.feedMeters({"10000001"});
    h.action("EnterAES128key2")->trigger();
    QLineEdit* field = h.keyDialog->Edit_enterKey;
    const struct {
        QString pasted, kept, problem;
    } cases[] = {
        {"fa c8 12 00 11 22 33 44 55 66 77 88 99 aa bb cc", "fac81200112233445566778899aabbcc", ""},
        {" 0xFAC81200-11223344-55667788-99AABBCC\n", "FAC8120011223344556677889" "9AABBCC", ""},
        {"FAC812 - key for 10000001", "", "\"k\" is not a hexadecimal digit: a key is 32 digits 0-9 and A-F"},
    };
    for (const auto& c : cases) {
        field->clear();
        QApplication::clipboard()->setText(c.pasted);
        QTest::keySequence(field, QKeySequence::Paste);
        QCOMPARE(field->text(), c.kept);
        QCOMPARE(h.keyDialog->Label_keyProblem->text(), c.problem);
    }
    QApplication::clipboard()->setText("fa c8 12 00 11 22 33 44 55 66 77 88 99 aa bb cc");
    field->clear();
    field->paste();
    h.keyDialog->BitBtn1->click();
    QCOMPARE(h.table().cell(1, col::EncryptionKey), std::string("fac81200112233445566778899aabbcc"));
}

void SmallWindowsTest::popupClearsTheAllMetersBoxMenuKeepsIt()
{
    Harness h;
    h.feedMeters({"10000001"});
    h.keyDialog->Check_allAES->setChecked(true);
    h.action("EnterAES128key1")->trigger();
    QVERIFY(h.keyDialog->Check_allAES->isChecked());
    h.keyDialog->cancel();
    h.action("EnterAES128key2")->trigger();
    QVERIFY(!h.keyDialog->Check_allAES->isChecked());
}

void SmallWindowsTest::masterKeyKeepsTheDialogClosed()
{
    for (const char* command : {"EnterAES128key1", "EnterAES128key2"}) {
        Harness h;
        h.settings.UseMaster = true;
        h.feedMeters({"10000001"});
        h.action(command)->trigger();
        QVERIFY2(!h.keyDialog->isVisible(), command);
        QCOMPARE(h.op.messages.size(), size_t(1));
        QCOMPARE(q(h.op.messages[0].caption), QString("AES-128 overwrite"));
        QCOMPARE(q(h.op.messages[0].text), QString("You have selected MASTER KEY from Settings, so this key will "
                                                   "not have effect!\nPlease disable MASTER KEY first (from Settings "
                                                   "menu)!"));
        QCOMPARE(h.op.messages[0].icon, MessageIcon::Warning);
    }
}

void SmallWindowsTest::keyDialogKeyboard()
{
    Harness h;
    h.feedMeters({"10000001"});
    TEnterAES& k = *h.keyDialog;
    const std::string padded = "12" + std::string(30, '0');

    // Esc cancels from the field: nothing stored, the typed key kept for next time.
    h.action("EnterAES128key2")->trigger();
    QTest::keyClicks(k.Edit_enterKey, "12");
    QTest::keyClick(k.Edit_enterKey, Qt::Key_Escape);
    QVERIFY(!k.isVisible());
    QCOMPARE(h.table().cell(1, col::EncryptionKey), std::string());
    QCOMPARE(k.Edit_enterKey->text(), QString("12"));

    // Enter on the box does nothing; Enter on "Cancel" means "Done".
    h.action("EnterAES128key1")->trigger();
    QTest::keyClick(k.Check_allAES, Qt::Key_Return);
    QVERIFY(k.isVisible());
    QCOMPARE(h.table().cell(1, col::EncryptionKey), std::string());
    QTest::keyClick(k.BitBtn2, Qt::Key_Enter);
    QVERIFY(!k.isVisible());
    QCOMPARE(h.table().cell(1, col::EncryptionKey), padded);

    // Esc on the dialog itself, and "Cancel", change nothing.
    h.table().setCell(1, col::EncryptionKey, "");
    h.action("EnterAES128key1")->trigger();
    QTest::keyClick(&k, Qt::Key_Escape);
    QVERIFY(!k.isVisible());
    h.action("EnterAES128key1")->trigger();
    k.BitBtn2->click();
    QVERIFY(!k.isVisible());
    QCOMPARE(h.table().cell(1, col::EncryptionKey), std::string());
    h.action("EnterAES128key1")->trigger();
    QTest::keyClick(&k, Qt::Key_Return);
    QCOMPARE(h.table().cell(1, col::EncryptionKey), padded);
}

void SmallWindowsTest::keyTakesEffectWithTheNextTelegram_data()
{
    QTest::addColumn<bool>("readOnce");
    QTest::newRow("every telegram read") << false;
    // The undecrypted telegram gave no reading, so the meter is not read yet.
    QTest::newRow("Read meters only ONCE") << true;
}

void SmallWindowsTest::keyTakesEffectWithTheNextTelegram()
{
    QFETCH(bool, readOnce);
    const auto meter = realTelegram("aventieswm");
    QVERIFY(!meter.key.empty());
    const auto frame = palvero::test::receiverFrame(palvero::test::fromHex(meter.telegramHex));
    Harness h;
    h.settings.AES128_5 = true;
    h.settings.ReadOnce = readOnce;
    h.feed(frame);
    QCOMPARE(q(h.table().cell(1, col::MeterId)), q(meter.meterId));
    QVERIFY(!h.table().flag(RowFlag::Decrypted, 1));
    QVERIFY(h.table().cell(1, col::MainValue) != meter.mainValue);

    h.select(1);
    h.action("EnterAES128key2")->trigger();
    QTest::keyClicks(h.keyDialog->Edit_enterKey, q(meter.key));
    QTest::keyClick(h.keyDialog->Edit_enterKey, Qt::Key_Enter);
    QCOMPARE(h.table().cell(1, col::EncryptionKey), meter.key);

    h.feed(frame);
    QVERIFY(h.table().flag(RowFlag::Decrypted, 1));
    QCOMPARE(q(h.table().cell(1, col::MainValue)), q(meter.mainValue));
    QCOMPARE(q(h.table().cell(1, col::Units)), q(meter.units));
    QVERIFY(h.window->tree().isRead(q(meter.meterId)));
}

void SmallWindowsTest::fullDecodeOfTheSelectedRow()
{
    Harness h;
    h.feedMeters({"10000001", "20000002"});
    h.table().setCell(1, col::FullTelegram, spaced(meterFrame("10000001")).toStdString());
    const TextGrid before = h.table().grid();
    const int lastRead = h.table().lastReadRow;
    h.select(1);

    h.action("Fulldecode1")->trigger();
    QVERIFY(h.fullDecode->isVisible());
    QCOMPARE(h.fullDecode->lines(), (std::vector<std::string>{"Decode of telegram for device 10000001",
                                                                "1. 1.000 m3, ", ""}));
    h.action("Fulldecode1")->trigger();
    QCOMPARE(h.blocks(), 2);
    QCOMPARE(h.memo().size(), 6);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(h.memo()[3 + i], kWaterListing[size_t(i)]);

    // The table, its row and what the tree and chart see stay as they were.
    QCOMPARE(h.table().grid().row(1), before.row(1));
    QCOMPARE(h.table().grid().row(2), before.row(2));
    QCOMPARE(h.table().lastReadRow, lastRead);
    QVERIFY(h.table().fullDecodeListing.empty());
    QVERIFY(h.op.messages.empty());

    h.fullDecode->BitBtn2->click();
    QVERIFY(h.fullDecode->lines().empty());
    h.fullDecode->BitBtn3->click();
    QVERIFY(!h.fullDecode->isVisible());
}

void SmallWindowsTest::fullDecodeUsesTheRowsKey()
{
    const auto meter = realTelegram("aventieswm");
    const auto frame = palvero::test::receiverFrame(palvero::test::fromHex(meter.telegramHex));
    const QString shown = q(meter.mainValue + " " + meter.units + ", ");
    Harness h;
    h.settings.AES128_5 = true;
    h.feed(frame);
    h.table().setCell(1, col::FullTelegram, spaced(frame).toStdString());
    h.select(1);
    h.action("Fulldecode1")->trigger();
    const auto contains = [&] { return h.memo().filter(shown).size(); };
    QCOMPARE(contains(), 0);
    h.table().setCell(1, col::EncryptionKey, meter.key);
    h.action("Fulldecode1")->trigger();
    QCOMPARE(contains(), 1);
    QCOMPARE(h.blocks(), 2);
}

void SmallWindowsTest::fullDecodeOfARowWithoutTelegram_data()
{
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty") << "" << "";
    QTest::newRow("received telegram") << "N/A"
                                       << "Meter 10000001 has no telegram to decode: its \"Full telegram\" is N/A.\n"
                                          "Tools > Decode telegram... (Ctrl+D) decodes a telegram you paste.";
    QTest::newRow("cut short") << "68 19 44 2D"
                               << "The \"Full telegram\" of meter 10000001 cannot be decoded.\n"
                                  "4 bytes are too few: a telegram has at least 11, from its L field to its CI field.";
}

void SmallWindowsTest::fullDecodeOfARowWithoutTelegram()
{
    QFETCH(QString, cell);
    QFETCH(QString, message);
    Harness h; // an imported row: no telegram of the meter was heard
    h.table().setCell(1, col::No, "1");
    h.table().setCell(1, col::MeterId, "10000001");
    h.table().setCell(1, col::FullTelegram, cell.toStdString());
    h.action("Fulldecode1")->trigger();
    QVERIFY(h.fullDecode->isVisible());
    QVERIFY(h.fullDecode->lines().empty());
    if (message.isEmpty()) {
        QVERIFY(h.op.messages.empty());
    } else {
        QCOMPARE(h.op.messages.size(), size_t(1));
        QCOMPARE(q(h.op.messages[0].caption), QString("Full decode of radio telegram"));
        QCOMPARE(q(h.op.messages[0].text), message);
    }
}

// A received row holds "N/A": its full decode is that of the telegram heard last from the
// meter, as it arrived, so a key entered since then decrypts it.
void SmallWindowsTest::fullDecodeOfAReceivedRow()
{
    const auto meter = realTelegram("aventieswm");
    const QString shown = q(meter.mainValue + " " + meter.units + ", ");
    Harness h;
    h.settings.AES128_5 = true;
    h.feed(palvero::test::receiverFrame(palvero::test::fromHex(meter.telegramHex)));
    QCOMPARE(q(h.table().cell(1, col::FullTelegram)), QString("N/A"));
    h.select(1);
    h.action("Fulldecode1")->trigger();
    QCOMPARE(h.op.messages.size(), size_t(0));
    QCOMPARE(h.memo().first(), q("Decode of telegram for device " + meter.meterId));
    QCOMPARE(h.memo().filter(shown).size(), 0);
    h.table().setCell(1, col::EncryptionKey, meter.key);
    h.action("Fulldecode1")->trigger();
    QCOMPARE(h.memo().filter(shown).size(), 1);
}

void SmallWindowsTest::decodeTelegramLeavesTheTableAlone()
{
    Harness h;
    h.feedMeters({"20000002"});
    const TextGrid before = h.table().grid();
    h.chart->show();
    const long rebuilds = h.chart->rebuildCount();

    h.action("Decodetelegram1")->trigger();
    DecodeTelegramDialog& ask = h.fullDecode->telegramDialog();
    QVERIFY(ask.isVisible());
    // A telegram from its L field, pasted over two lines.
    ask.Memo_telegram->setPlainText("14 44 2D 2C 01 00 00 10 01 07 7A 01 00 00 00\n04 13 E8 03 00 00");
    ask.Butt_decode->click();
    QVERIFY(!ask.isVisible());
    QVERIFY(h.fullDecode->isVisible());
    QCOMPARE(h.memo(), QStringList({"Decode of telegram for device 10000001", "1. 1.000 m3, ", ""}));

    // A whole receiver frame, Enter in the field decodes.
    h.action("Decodetelegram1")->trigger();
    ask.Memo_telegram->setPlainText(spaced(meterFrame("30000003")));
    QTest::keyClick(ask.Memo_telegram, Qt::Key_Return);
    QCOMPARE(h.blocks(), 2);
    QCOMPARE(h.memo().at(3), QString("Decode of telegram for device 30000003"));

    QCOMPARE(h.table().dataRowCount(), 1);
    QCOMPARE(h.table().grid().row(1), before.row(1));
    QCOMPARE(h.window->Tree_meters->topLevelItemCount(), 1);
    QTest::qWait(TForm5::kRebuildInterval * 2);
    QCOMPARE(h.chart->rebuildCount(), rebuilds);
}

void SmallWindowsTest::decodeTelegramTakesTheKeyOfItsMeter()
{
    const auto meter = realTelegram("aventieswm");
    Harness h;
    h.settings.AES128_5 = true;
    h.feed(palvero::test::receiverFrame(palvero::test::fromHex(meter.telegramHex)));
    const QString shown = q(meter.mainValue + " " + meter.units + ", ");
    QVERIFY(h.fullDecode->decodeText(meter.telegramHex));
    QCOMPARE(h.memo().filter(shown).size(), 0);
    h.table().setCell(1, col::EncryptionKey, meter.key);
    QVERIFY(h.fullDecode->decodeText(meter.telegramHex));
    QCOMPARE(h.memo().filter(shown).size(), 1);
}

void SmallWindowsTest::decodeTelegramRefusesBadText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("odd digit count") << "0A 44 2D 2C 78 56 34 12 01 07 7A 1"
                                     << "The text holds 23 hexadecimal digits, an odd count: every byte takes two "
                                        "digits.";
    QTest::newRow("not hexadecimal") << "0A 44 2D 2C 78 56 34 12 01 07 7Z"
                                     << "\"Z\" at position 32 is not a hexadecimal digit.";
    QTest::newRow("L does not match") << "0B 44 2D 2C 78 56 34 12 01 07 7A"
                                      << "The L field (0x0B = 11) does not match the 10 bytes that follow it.";
    QTest::newRow("frame length does not match")
        << "68 0C 44 2D 2C 78 56 34 12 01 07 7A 9A 16"
        << "The frame's length byte (0x0C = 12) does not match the 11 bytes between it and the stop byte.";
    QTest::newRow("nothing") << "  "
                             << "Enter the telegram as hexadecimal bytes, for example 2E 44 2D 2C ...";
}

void SmallWindowsTest::decodeTelegramRefusesBadText()
{
    QFETCH(QString, text);
    QFETCH(QString, message);
    Harness h;
    h.action("Decodetelegram1")->trigger();
    DecodeTelegramDialog& ask = h.fullDecode->telegramDialog();
    ask.Memo_telegram->setPlainText(text);
    ask.Butt_decode->click();
    QCOMPARE(h.op.messages.size(), size_t(1));
    QCOMPARE(q(h.op.messages[0].caption), QString("Decode telegram"));
    QCOMPARE(q(h.op.messages[0].text), message);
    QCOMPARE(h.op.messages[0].icon, MessageIcon::Warning);
    // The text stays to be mended; nothing was decoded.
    QVERIFY(ask.isVisible());
    QCOMPARE(ask.Memo_telegram->toPlainText(), text);
    QVERIFY(!h.fullDecode->isVisible());
    QVERIFY(h.fullDecode->lines().empty());
    ask.Butt_cancel->click();
    QVERIFY(!ask.isVisible());
}

void SmallWindowsTest::savingTheFullDecode()
{
    Harness h;
    h.fullDecode->decodeText(spaced(meterFrame("10000001")).toStdString());
    h.fullDecode->decodeText(spaced(meterFrame("10000001")).toStdString());
    const std::string expected = "Decode of telegram for device 10000001\r\n1. 1.000 m3, \r\n\r\n"
                                 "Decode of telegram for device 10000001\r\n1. 1.000 m3, \r\n\r\n";

    // Ctrl+S from the text area asks for a TXT file.
    const auto file = h.dir / "decode.txt";
    palvero::test::writeFile(file, "older text that is replaced");
    h.op.fileAnswers.push_back(file.string());
    QTest::keyClick(h.fullDecode->Memo_decode, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(h.op.dialogs.size(), size_t(1));
    QCOMPARE(q(h.op.dialogs[0].filter), QString("TXT|*.txt"));
    QCOMPARE(q(h.op.dialogs[0].defaultExtension), QString("txt"));
    QCOMPARE(palvero::test::readFile(file), expected);

    // A cancelled dialog writes nothing.
    std::filesystem::remove(file);
    h.fullDecode->BitBtn1->click();
    QCOMPARE(h.op.dialogs.size(), size_t(2));
    QVERIFY(!std::filesystem::exists(file));
    QVERIFY(h.op.messages.empty());

    // A file that cannot be written: the message, the text stays.
    h.op.fileAnswers.push_back((h.dir / "no such folder" / "decode.txt").string());
    QVERIFY(!h.fullDecode->save());
    QCOMPARE(h.op.messages.size(), size_t(1));
    QCOMPARE(q(h.op.messages[0].text), QString("Unsuccesfull save of full decode window!"));
    QCOMPARE(h.blocks(), 2);
    QCOMPARE(h.log.texts.size(), size_t(1));
}

void SmallWindowsTest::fullDecodeKeyboard()
{
    Harness h;
    TFullDecode& d = *h.fullDecode;
    d.decodeText(spaced(meterFrame("10000001")).toStdString());
    QVERIFY(d.isVisible());
    const std::vector<std::string> listing = d.lines();

    // Enter in the text area closes the window instead of starting a line.
    d.Memo_decode->setFocus();
    QTest::keyClick(d.Memo_decode, Qt::Key_Return);
    QVERIFY(!d.isVisible());
    QCOMPARE(d.lines(), listing);
    for (QWidget* target : std::initializer_list<QWidget*>{d.Memo_decode, d.BitBtn2, d.BitBtn3, &d}) {
        for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Enter}) {
            d.showWindow();
            QTest::keyClick(target, key);
            QVERIFY(!d.isVisible());
        }
    }
    QCOMPARE(d.lines(), listing); // Enter on "Clear" does not clear
    for (QWidget* target : std::initializer_list<QWidget*>{d.BitBtn2, d.BitBtn3, &d})
        QTest::keyClick(target, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(h.op.dialogs.size(), size_t(3));
}

void SmallWindowsTest::copyFullTelegram()
{
    Harness h;
    h.feedMeters({"10000001", "20000002"});
    const QString frame = spaced(meterFrame("20000002"));
    h.table().setCell(2, col::FullTelegram, frame.toStdString());
    h.select(2);
    h.action("CopyFulltelegram1")->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), frame);
    h.select(1);
    h.action("CopyFulltelegram1")->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("N/A"));
}

QTEST_MAIN(SmallWindowsTest)
#include "small_windows_test.moc"
