// The main window against a scripted serial port: the table model, row colours, start-up
// appearance, search, table keys, header double clicks, the tree of meters, status texts,
// Start/Stop, the close query and the named controls.

#include "compact_formats.h"
#include "crc16.h"
#include "fake_serial_port.h"
#include "main_window.h"
#include "measurement_file.h"
#include "meters_file.h"
#include "meter_table_model.h"
#include "meter_tree.h"
#include "row_colours.h"
#include "scripted_operator.h"
#include "telegram_data.h"
#include "temp_dir.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <set>

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
    void beginReading(std::function<void(const std::string&)> sink) override
    {
        readerLog = std::move(sink);
        ++readings;
    }
    void endReading() override { readerLog = nullptr; }
    std::vector<int> codes;
    std::vector<std::string> texts;
    std::function<void(const std::string&)> readerLog;
    int readings = 0;
};

// Counts the paint events that a widget receives.
struct PaintCounter : QObject {
    explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* e) override
    {
        count += e->type() == QEvent::Paint;
        return false;
    }
    int count = 0;
};

constexpr uint8_t kWater = 0x07;
constexpr uint8_t kHeat = 0x04;
constexpr uint8_t kLowBatteryStatus = 0x04;

// A receiver frame of an unencrypted meter: short transport header and one volume record
// of 1000 litres, so a water meter shows "1.000" m3.
std::vector<uint8_t> meterFrame(const std::string& id, const char* mfr = "KAM", uint8_t deviceType = kWater,
                                uint8_t status = 0x00, uint8_t ci = 0x7A)
{
    // Three letters of five bits each, the first in the highest bits, low byte first.
    const unsigned m = unsigned(mfr[0] - 64) << 10 | unsigned(mfr[1] - 64) << 5 | unsigned(mfr[2] - 64);
    std::vector<uint8_t> f = {0x68, 0x00, 0x44, uint8_t(m & 0xFF), uint8_t(m >> 8)};
    // Identification number: 8 BCD digits, least significant byte first.
    for (int i = 3; i >= 0; --i)
        f.push_back(uint8_t(std::stoi(id.substr(size_t(i) * 2, 2), nullptr, 16)));
    const uint8_t rest[] = {0x01, deviceType, ci, 0x01, status, 0x00, 0x00,
                            0x04, 0x13, 0xE8, 0x03, 0x00, 0x00, 0x9A, 0x16};
    f.insert(f.end(), std::begin(rest), std::end(rest));
    f[1] = uint8_t(f.size() - 3);
    return f;
}

QColor platformColour(uint32_t value)
{
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

// The window with everything it works with; each test builds its own.
struct Harness {
    explicit Harness(const std::string& ini = {}, const std::string& compactFormats = {})
    {
        std::filesystem::create_directories(dir / "files");
        if (!ini.empty())
            palvero::test::writeFile(dir / "palvero.ini", ini);
        if (!compactFormats.empty())
            palvero::test::writeFile(dir / "files" / kCompactFormatsFileName, compactFormats);
        settings.Name = "ttyS9";
        window = std::make_unique<TForm1>(
            MainWindowContext{settings, formats, op, log, nullptr, port, sleeper, ProgramPaths(dir / "palvero")});
    }

    void feed(const std::vector<uint8_t>& frame) { window->reception().receive(frame); }
    void feedMeters(std::initializer_list<const char*> ids)
    {
        for (const char* id : ids)
            feed(meterFrame(id));
    }
    MeterTable& table() { return window->table(); }
    MeterTableModel& model() { return window->model(); }

    QStringList meterIds()
    {
        QStringList ids;
        for (int r = 1; r < table().rowCount(); ++r)
            ids << q(table().cell(r, col::MeterId));
        return ids;
    }
    QStringList numbers()
    {
        QStringList n;
        for (int r = 1; r < table().rowCount(); ++r)
            n << q(table().cell(r, col::No));
        return n;
    }
    QAction* action(const char* name) { return window->findChild<QAction*>(name); }
    void select(int tableRow) { window->Grid_values->setCurrentIndex(model().index(tableRow - 1, 0)); }
    bool logged(const std::string& line)
    {
        const auto& log = table().readerLog;
        return std::find(log.begin(), log.end(), line) != log.end();
    }
    void show()
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    TempDir dir;
    std::vector<std::string> transcript;
    Settings settings;
    FixedFormats formats;
    ScriptedOperator op;
    RecordingLog log;
    FakeSerialPort port{transcript};
    FakeSleeper sleeper{transcript};
    std::unique_ptr<TForm1> window;
};

// Where the model and the table part ways; empty when they agree on every cell and title.
QString mismatch(MeterTableModel& model, const MeterTable& table)
{
    if (model.rowCount() != table.dataRowCount())
        return QString("rows: model %1, table %2").arg(model.rowCount()).arg(table.dataRowCount());
    if (model.columnCount() != table.columnCount())
        return QString("columns: model %1, table %2").arg(model.columnCount()).arg(table.columnCount());
    for (int c = 0; c < table.columnCount(); ++c)
        if (model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString() != q(table.cell(0, c)))
            return QString("title of column %1").arg(c);
    for (int r = 1; r < table.rowCount(); ++r)
        for (int c = 0; c < table.columnCount(); ++c)
            if (model.index(r - 1, c).data().toString() != q(table.cell(r, c)))
                return QString("cell %1,%2").arg(r).arg(c);
    return {};
}

// The model rows that a set of dataChanged signals covered.
std::set<int> changedRows(const QSignalSpy& spy, int columns, bool* wholeRows)
{
    std::set<int> rows;
    *wholeRows = true;
    for (const auto& args : spy) {
        const auto from = args.at(0).value<QModelIndex>();
        const auto to = args.at(1).value<QModelIndex>();
        *wholeRows = *wholeRows && from.column() == 0 && to.column() == columns - 1;
        for (int r = from.row(); r <= to.row(); ++r)
            rows.insert(r);
    }
    return rows;
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void modelFollowsEveryChangeOfTheTable();
    void telegramRepaintsOnlyTheRowsWhoseColourChanges();
    void rowColours_data();
    void rowColours();
    void startupAppearanceFromTheSettingsFile_data();
    void startupAppearanceFromTheSettingsFile();
    void appearanceChangeIsApplied();
    void typingSelectsTheLastMatchingMeter();
    void searchNeedsTwoMeters();
    void keyPressLooksUpTheWholeText();
    void removingTheSelectedRow_data();
    void removingTheSelectedRow();
    void exportingTheWholeTable_data();
    void exportingTheWholeTable();
    void headerDoubleClick_data();
    void headerDoubleClick();
    void headerDoubleClickNeedsTwoMeters();
    void meterHeardAgainKeepsOneNode();
    void nodeImage_data();
    void nodeImage();
    void greenNode_data();
    void greenNode();
    void greenNodeNeedsDecryptionOn_data();
    void greenNodeNeedsDecryptionOn();
    void clearingTheTable_data();
    void clearingTheTable();
    void rebuiltTableRebuildsTheTree();
    void clearingRepaintsTreeAndCounts();
    void readingQuietensTheErrorLog();
    void learnedCompactFormatsOutliveTheWindow();
    void cellsAreSingleByteText();
    void statusTexts();
    void startAndStop();
    void manualThatCannotBeOpenedSaysSo_data();
    void manualThatCannotBeOpenedSaysSo();
    void portThatCannotBeOpened_data();
    void portThatCannotBeOpened();
    void lostReceiverEndsTheReading();
    void closeQuery_data();
    void closeQuery();
    void closingWhileReadingClosesThePort();
    void namedControls_data();
    void namedControls();
    void doNotAddNewDevices();
    void clearingTheKeys();
    void savesAtExit_data();
    void savesAtExit();
    void exitThatCannotSaveLetsTheOperatorStay();
    void savingFromTheMenus();
};

void MainWindowTest::modelFollowsEveryChangeOfTheTable()
{
    Harness h;
    h.show();
    QAbstractItemModelTester tester(&h.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy inserted(&h.model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&h.model(), &QAbstractItemModel::rowsRemoved);

    // The first meter takes the empty row; later ones are appended.
    h.feedMeters({"10000001"});
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(h.model().rowCount(), 1);
    h.feedMeters({"20000002", "30000003", "20000002", "40000004"});
    QCOMPARE(inserted.count(), 3);
    QCOMPARE(h.model().rowCount(), 4);
    QCOMPARE(mismatch(h.model(), h.table()), QString());
    h.window->grab(); // paints every visible cell through the delegate

    h.select(2);
    h.window->removeSelectedRow();
    QCOMPARE(removed.count(), 1);
    QCOMPARE(mismatch(h.model(), h.table()), QString());

    h.table().setAppearance(3, 8, false);
    QCOMPARE(h.model().columnCount(), 19);
    QCOMPARE(mismatch(h.model(), h.table()), QString());
    h.table().setAppearance(0, 8, false);
    QCOMPARE(h.model().columnCount(), 16);

    h.window->headerDoubleClicked(col::MeterId);
    QCOMPARE(mismatch(h.model(), h.table()), QString());
    h.window->headerDoubleClicked(col::Medium);
    QCOMPARE(mismatch(h.model(), h.table()), QString());

    TextGrid imported(3, h.table().columnCount());
    imported.setCell(1, col::MeterId, "50000005");
    imported.setCell(2, col::MeterId, "60000006");
    h.table().replaceData(imported);
    h.table().notifyTableRebuilt();
    QCOMPARE(mismatch(h.model(), h.table()), QString());

    h.window->clearTableButton();
    QCOMPARE(h.model().rowCount(), 1);
    QCOMPARE(mismatch(h.model(), h.table()), QString());
    h.feedMeters({"70000007", "80000008"});
    QCOMPARE(mismatch(h.model(), h.table()), QString());
    h.window->clearTablePopup();
    QCOMPARE(mismatch(h.model(), h.table()), QString());

    // Removing the only meter empties its row instead.
    h.feedMeters({"90000009"});
    h.select(1);
    h.window->removeSelectedRow();
    QCOMPARE(h.model().rowCount(), 1);
    QCOMPARE(mismatch(h.model(), h.table()), QString());
    h.window->grab();
}

void MainWindowTest::telegramRepaintsOnlyTheRowsWhoseColourChanges()
{
    Harness h;
    h.feedMeters({"10000001", "20000002", "30000003", "40000004"});
    QSignalSpy changed(&h.model(), &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&h.model(), &QAbstractItemModel::modelReset);
    QSignalSpy layout(&h.model(), &QAbstractItemModel::layoutChanged);

    // Meter 3 again: its row and the row read before it (meter 4) change colour; meter 2
    // changes nothing. Meter 1 is the selected row, which may be repainted.
    h.feedMeters({"30000003"});
    bool wholeRows = false;
    const std::set<int> rows = changedRows(changed, h.model().columnCount(), &wholeRows);
    QVERIFY(wholeRows);
    QVERIFY(rows.count(2));
    QVERIFY(rows.count(3));
    QVERIFY(!rows.count(1));
    QCOMPARE(reset.count(), 0);
    QCOMPARE(layout.count(), 0);
}

void MainWindowTest::rowColours_data()
{
    QTest::addColumn<bool>("showRepeaters");
    QTest::addColumn<bool>("colorMrv");
    QTest::addColumn<int>("lastRead");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QList<int>>("flags");
    QTest::addColumn<QString>("expected");

    const int repeated = int(RowFlag::Repeated), battery = int(RowFlag::LowBattery);
    const int testing = int(RowFlag::MrvTest), process = int(RowFlag::MrvProcess), done = int(RowFlag::MrvDone);
    // The row under test is table row 2.
    QTest::newRow("plain row") << false << false << 3 << 1 << QList<int>{} << "white";
    QTest::newRow("last read") << false << false << 2 << 1 << QList<int>{} << "row";
    QTest::newRow("selected") << false << false << 0 << 2 << QList<int>{} << "highlight";
    QTest::newRow("selected, another read last") << false << false << 3 << 2 << QList<int>{} << "highlight";
    QTest::newRow("last read over selected") << false << false << 2 << 2 << QList<int>{} << "row";
    QTest::newRow("repeater not shown") << false << false << 0 << 1 << QList<int>{repeated} << "white";
    QTest::newRow("repeater shown") << true << false << 0 << 1 << QList<int>{repeated} << "repeater";
    QTest::newRow("repeater over last read") << true << false << 2 << 1 << QList<int>{repeated} << "repeater";
    QTest::newRow("repeater over selected") << true << false << 0 << 2 << QList<int>{repeated} << "repeater";
    QTest::newRow("low battery over last read") << false << false << 2 << 1 << QList<int>{battery} << "battery";
    QTest::newRow("low battery over selected") << false << false << 0 << 2 << QList<int>{battery} << "battery";
    QTest::newRow("low battery over repeater") << true << false << 0 << 1 << QList<int>{repeated, battery}
                                               << "battery";
    QTest::newRow("test states not enabled") << false << false << 2 << 1 << QList<int>{testing, process, done}
                                             << "row";
    QTest::newRow("test") << false << true << 0 << 1 << QList<int>{testing} << "test";
    QTest::newRow("process over test") << false << true << 0 << 1 << QList<int>{testing, process} << "process";
    QTest::newRow("done over process") << false << true << 0 << 1 << QList<int>{testing, process, done} << "done";
    QTest::newRow("process alone") << false << true << 2 << 1 << QList<int>{process} << "process";
    QTest::newRow("done over low battery") << true << true << 2 << 2 << QList<int>{repeated, battery, done}
                                           << "done";
    QTest::newRow("low battery, test states off") << false << false << 0 << 1 << QList<int>{battery, done}
                                                  << "battery";
}

void MainWindowTest::rowColours()
{
    QFETCH(bool, showRepeaters);
    QFETCH(bool, colorMrv);
    QFETCH(int, lastRead);
    QFETCH(int, selected);
    QFETCH(QList<int>, flags);
    QFETCH(QString, expected);

    Harness h;
    Settings& s = h.settings;
    // Every byte distinct, so that a colour with its bytes swapped shows.
    s.ColorRow = 0x112233;
    s.FromRepeater = 0x445566;
    s.LowBattery = 0x778899;
    s.ColorTest = 0xAABBCC;
    s.ColorProcess = 0xDDEEF0;
    s.ColorDone = 0x102030;
    s.ShowRepeaters = showRepeaters;
    s.ColorMrv = colorMrv;
    h.feedMeters({"10000001", "20000002", "30000003"});
    h.table().lastReadRow = lastRead;
    h.table().selectedRow = selected;
    for (int f : flags)
        h.table().setFlag(RowFlag(f), 2, true);

    const std::map<QString, uint32_t> colours = {
        {"white", 0xFFFFFF}, {"row", s.ColorRow},      {"repeater", s.FromRepeater}, {"battery", s.LowBattery},
        {"test", s.ColorTest}, {"process", s.ColorProcess}, {"done", s.ColorDone}};

    const RowBrush brush = rowBrush(h.table(), s, 2);
    const QBrush highlight = QApplication::palette().brush(QPalette::Highlight);
    if (expected == "highlight") {
        QCOMPARE(brush.kind, RowBrush::Highlight);
    } else {
        QCOMPARE(brush.kind, RowBrush::Colour);
        QCOMPARE(brush.colour, colours.at(expected));
    }
    for (int column : {0, col::MeterId, h.model().columnCount() - 1}) {
        const QBrush shown = h.model().index(1, column).data(Qt::BackgroundRole).value<QBrush>();
        if (expected == "highlight") {
            QCOMPARE(shown, highlight);
            QCOMPARE(h.model().index(1, column).data(Qt::ForegroundRole).value<QBrush>(),
                     QApplication::palette().brush(QPalette::HighlightedText));
        } else {
            QCOMPARE(shown.color(), platformColour(colours.at(expected)));
        }
    }
}

void MainWindowTest::startupAppearanceFromTheSettingsFile_data()
{
    QTest::addColumn<QString>("ini");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("rowHeight");
    QTest::addColumn<int>("pointSize");
    QTest::addColumn<bool>("bold");

    QTest::newRow("no settings file") << "" << 16 << 20 << 8 << false;
    QTest::newRow("three values, bold 10 point")
        << "[Titles]\r\nCount=3\r\n[Misc]\r\nFontSize=10\r\nBoldFont=1\r\n" << 19 << 22 << 10 << true;
    QTest::newRow("more values than columns")
        << "[Misc]\r\nFontSize=14\r\nBoldFont=0\r\n[Titles]\r\nCount=40\r\n" << 32 << 26 << 14 << false;
}

void MainWindowTest::startupAppearanceFromTheSettingsFile()
{
    QFETCH(QString, ini);
    QFETCH(int, columns);
    QFETCH(int, rowHeight);
    QFETCH(int, pointSize);
    QFETCH(bool, bold);

    Harness h(ini.toStdString());
    QTableView* grid = h.window->Grid_values;
    QCOMPARE(h.model().columnCount(), columns);
    QCOMPARE(grid->model()->columnCount(), columns);
    QCOMPARE(grid->verticalHeader()->defaultSectionSize(), rowHeight);
    QCOMPARE(grid->rowHeight(0), rowHeight);
    QCOMPARE(grid->font().pointSize(), pointSize);
    QCOMPARE(grid->font().bold(), bold);
    QCOMPARE(grid->horizontalHeader()->font().pointSize(), pointSize); // the title row too
    QCOMPARE(grid->horizontalHeader()->font().bold(), bold);
    QCOMPARE(grid->horizontalHeader()->maximumHeight(), rowHeight);
    for (int c = 0; c < columns; ++c) {
        const QString title = h.model().headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        QCOMPARE(title, c < col::Fixed ? QString(MeterTable::titles()[size_t(c)]) : QString());
        QVERIFY(grid->columnWidth(c) > 0);
    }
    QCOMPARE(h.model().headerData(col::Rssi, Qt::Horizontal, Qt::DisplayRole).toString(), QString("RSSI, dBm "));
}

void MainWindowTest::appearanceChangeIsApplied()
{
    Harness h("[Titles]\r\nCount=3\r\n[Misc]\r\nFontSize=10\r\nBoldFont=1\r\n");
    QTableView* grid = h.window->Grid_values;
    h.feedMeters({"10000001", "20000002"});

    h.table().setAppearance(5, 12, false);
    QCOMPARE(h.model().columnCount(), 21);
    QCOMPARE(grid->rowHeight(1), 24);
    QCOMPARE(grid->font().pointSize(), 12);
    QVERIFY(!grid->font().bold());
    QVERIFY(grid->columnWidth(20) > 0);
    QCOMPARE(q(h.table().cell(2, col::MeterId)), QString("20000002"));

    // Same column count: font and height still change.
    h.table().setAppearance(5, 9, true);
    QCOMPARE(h.model().columnCount(), 21);
    QCOMPARE(grid->rowHeight(0), 21);
    QCOMPARE(grid->font().pointSize(), 9);
    QVERIFY(grid->font().bold());
    QCOMPARE(grid->horizontalHeader()->font().pointSize(), 9);
    QCOMPARE(grid->horizontalHeader()->height(), 21);
}

void MainWindowTest::typingSelectsTheLastMatchingMeter()
{
    Harness h;
    h.feedMeters({"12340001", "55555555", "91234999", "00001111"});
    QTest::keyClicks(h.window->Edit_searchID, "1234");
    QCOMPARE(h.window->Edit_searchID->text(), QString("1234"));
    QCOMPARE(h.table().selectedRow, 3);
    QCOMPARE(h.window->Grid_values->currentIndex().row(), 2);
    QCOMPARE(h.model().index(2, 0).data(Qt::BackgroundRole).value<QBrush>(),
             QApplication::palette().brush(QPalette::Highlight));

    // No meter contains it: the selection stays.
    h.window->Edit_searchID->setText("7777");
    QCOMPARE(h.table().selectedRow, 3);
    // Emptying the field selects nothing new either.
    h.window->Edit_searchID->clear();
    QCOMPARE(h.table().selectedRow, 3);
    h.window->Edit_searchID->setText("5555");
    QCOMPARE(h.table().selectedRow, 2);

    QTest::keyClicks(h.window->Edit_searchID, "123456789");
    QCOMPARE(h.window->Edit_searchID->text().size(), 8);
}

void MainWindowTest::searchNeedsTwoMeters()
{
    Harness h;
    h.feedMeters({"12340001"});
    QTest::keyClicks(h.window->Edit_searchID, "1234");
    QTest::keyClick(h.window->Edit_searchID, Qt::Key_End);
    QVERIFY(!h.window->Grid_values->currentIndex().isValid());
    QCOMPARE(h.table().selectedRow, 1);
}

void MainWindowTest::keyPressLooksUpTheWholeText()
{
    Harness h;
    // An imported row can hold a shorter ID than a telegram gives.
    h.feedMeters({"99999999", "12345678", "00001234"});
    h.table().setCell(1, col::MeterId, "1234");

    h.window->Edit_searchID->setText("1234");
    QCOMPARE(h.table().selectedRow, 3); // contained in the last row
    QTest::keyClick(h.window->Edit_searchID, Qt::Key_End);
    QCOMPARE(h.table().selectedRow, 1); // equal to the whole text
    QCOMPARE(h.window->Grid_values->currentIndex().row(), 0);
}

void MainWindowTest::removingTheSelectedRow_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Delete key") << "key";
    QTest::newRow("popup command") << "popup";
}

void MainWindowTest::removingTheSelectedRow()
{
    QFETCH(QString, how);
    Harness h;
    h.settings.LowBattery = 0x0000FF;
    h.feedMeters({"10000001", "20000002"});
    h.feed(meterFrame("30000003", "KAM", kWater, kLowBatteryStatus));
    QCOMPARE(h.window->Tree_meters->topLevelItemCount(), 3);

    h.select(2);
    QCOMPARE(h.table().selectedRow, 2);
    if (how == "key")
        QTest::keyClick(h.window->Grid_values, Qt::Key_Delete);
    else
        h.action("Removeselectedrow1")->trigger();

    QCOMPARE(h.meterIds(), QStringList({"10000001", "30000003"}));
    QCOMPARE(h.numbers(), QStringList({"1", "2"}));
    QCOMPARE(h.model().rowCount(), 2);
    QCOMPARE(h.window->Tree_meters->topLevelItemCount(), 2);
    QVERIFY(!h.window->tree().hasNode("20000002"));
    QVERIFY(h.window->tree().meterNode("10000001"));
    QVERIFY(h.window->tree().meterNode("30000003"));
    // The flags moved up with their row.
    QVERIFY(h.table().flag(RowFlag::LowBattery, 2));
    QVERIFY(!h.table().flag(RowFlag::LowBattery, 3));
    QCOMPARE(h.model().index(1, 0).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(255, 0, 0));
    QCOMPARE(h.model().index(0, 0).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(Qt::white));
}

void MainWindowTest::exportingTheWholeTable_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Ctrl+e") << "e";
    QTest::newRow("Ctrl+E") << "E";
    QTest::newRow("popup command") << "popup";
}

void MainWindowTest::exportingTheWholeTable()
{
    QFETCH(QString, how);
    Harness h;
    h.feedMeters({"12340001", "55555555"});
    const std::filesystem::path out = h.dir / "walk.csv";
    h.op.fileAnswers.push_back(out.string());

    // Without Ctrl the letter does nothing.
    QTest::keyClick(h.window->Grid_values, 'e');
    QCOMPARE(h.op.dialogs.size(), size_t(0));

    if (how == "popup")
        h.action("Exportwholetable1")->trigger();
    else
        QTest::keyClick(h.window->Grid_values, how.at(0).toLatin1(), Qt::ControlModifier);

    QCOMPARE(h.op.dialogs.size(), size_t(1));
    QCOMPARE(q(h.op.dialogs[0].fileName), QString("meters.csv"));
    QCOMPARE(q(h.op.dialogs[0].title), QString("Export table to CSV"));
    QCOMPARE(q(h.op.dialogs[0].folder), q((h.dir / "files").string()));
    const QStringList lines = q(palvero::test::readFile(out)).split("\r\n");
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines[0].startsWith("1;12340001;KAM;"), qPrintable(lines[0]));
    QVERIFY2(lines[1].startsWith("2;55555555;KAM;"), qPrintable(lines[1]));
    QCOMPARE(lines[2], QString());
    QCOMPARE(h.window->StatusPanel1->text(), "2 rows written to " + q(out.string()));
}

void MainWindowTest::headerDoubleClick_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("ids");

    QTest::newRow("Meter ID sorts") << col::MeterId << QStringList{"10000001", "20000002", "30000003"};
    QTest::newRow("Medium groups") << col::Medium << QStringList{"20000002", "30000003", "10000001"};
    QTest::newRow("MFR groups") << col::Mfr << QStringList{"30000003", "20000002", "10000001"};
    QTest::newRow("No. does nothing") << col::No << QStringList{"30000003", "10000001", "20000002"};
    QTest::newRow("Auxiliary ID does nothing") << col::AuxiliaryId << QStringList{"30000003", "10000001", "20000002"};
    QTest::newRow("Main value does nothing") << col::MainValue << QStringList{"30000003", "10000001", "20000002"};
}

void MainWindowTest::headerDoubleClick()
{
    QFETCH(int, column);
    QFETCH(QStringList, ids);
    Harness h;
    h.feed(meterFrame("30000003", "KAM", kHeat));
    h.feed(meterFrame("10000001", "ABB", kHeat));
    h.feed(meterFrame("20000002", "KAM", kWater));
    h.show();

    h.window->Grid_values->scrollTo(h.model().index(0, column));
    QHeaderView* header = h.window->Grid_values->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QCOMPARE(header->logicalIndexAt(at), column);
    QTest::mouseDClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);

    QCOMPARE(h.meterIds(), ids);
    QCOMPARE(h.numbers(), QStringList({"1", "2", "3"}));
    QCOMPARE(mismatch(h.model(), h.table()), QString());
}

void MainWindowTest::headerDoubleClickNeedsTwoMeters()
{
    Harness h;
    h.feedMeters({"30000003"});
    QSignalSpy reset(&h.model(), &QAbstractItemModel::modelReset);
    for (int column : {col::MeterId, col::Mfr, col::Medium})
        h.window->headerDoubleClicked(column);
    QCOMPARE(reset.count(), 0);
    QCOMPARE(h.meterIds(), QStringList{"30000003"});
}

void MainWindowTest::meterHeardAgainKeepsOneNode()
{
    Harness h;
    h.feedMeters({"10000001", "10000001", "20000002", "10000001"});
    QTreeWidget* tree = h.window->Tree_meters;
    QCOMPARE(tree->topLevelItemCount(), 2);
    QCOMPARE(tree->topLevelItem(0)->text(0), QString("10000001"));
    QCOMPARE(tree->topLevelItem(1)->text(0), QString("20000002"));
    for (int i = 0; i < 2; ++i)
        QCOMPARE(tree->topLevelItem(i)->childCount(), 1);
}

void MainWindowTest::nodeImage_data()
{
    QTest::addColumn<QString>("mainValue");
    QTest::addColumn<QString>("notes");
    QTest::addColumn<int>("image");

    QTest::newRow("value, no notes") << "1.000" << "" << int(MeterTree::Read);
    QTest::newRow("value, notes without the word") << "1.000" << "Alarm request by the meter" << int(MeterTree::Read);
    QTest::newRow("no value") << "" << "" << int(MeterTree::NotRead);
    QTest::newRow("exception") << "Exception" << "" << int(MeterTree::NotRead);
    QTest::newRow("value, encrypted") << "1.000" << "Encrypted AES-128 mode 5" << int(MeterTree::NotRead);
}

void MainWindowTest::nodeImage()
{
    QFETCH(QString, mainValue);
    QFETCH(QString, notes);
    QFETCH(int, image);

    Harness h;
    MeterTable& t = h.table();
    t.setCell(1, col::No, "1");
    t.setCell(1, col::MeterId, "44440001");
    t.setCell(1, col::MainValue, mainValue.toStdString());
    t.setCell(1, col::Notes, notes.toStdString());
    t.setCell(1, col::EncryptionKey, "00112233445566778899AABBCCDDEEFF");
    t.notifyRowUpdated(1);

    MeterTree& tree = h.window->tree();
    QTreeWidgetItem* node = tree.meterNode("44440001");
    QVERIFY(node);
    QCOMPARE(int(tree.shownImage(node)), image);
    QCOMPARE(node->icon(0).cacheKey(), MeterTree::icon(MeterTree::Image(image)).cacheKey());
    QCOMPARE(node->childCount(), 1);
    QTreeWidgetItem* key = node->child(0);
    QCOMPARE(key->text(0), QString("00112233445566778899AABBCCDDEEFF"));
    QCOMPARE(int(tree.shownImage(key)), int(MeterTree::Key));
    QCOMPARE(key->icon(0).cacheKey(), MeterTree::icon(MeterTree::Key).cacheKey());
    QVERIFY(!tree.shownGreen(key));
}

void MainWindowTest::greenNode_data()
{
    QTest::addColumn<bool>("decrypted");
    QTest::addColumn<QString>("mainValue");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("notes");
    QTest::addColumn<bool>("green");

    QTest::newRow("read in full") << true << "1.000" << "14:03:22" << "06.12.2026" << "" << true;
    QTest::newRow("read in full, encrypted") << true << "1.000" << "14:03:22" << "06.12.2026" << "AES" << true;
    QTest::newRow("not decrypted") << false << "1.000" << "14:03:22" << "06.12.2026" << "" << false;
    QTest::newRow("no time") << true << "1.000" << "" << "06.12.2026" << "" << false;
    QTest::newRow("no date") << true << "1.000" << "14:03:22" << "" << "" << false;
    QTest::newRow("no value") << true << "" << "14:03:22" << "06.12.2026" << "" << false;
    QTest::newRow("exception") << true << "Exception" << "14:03:22" << "06.12.2026" << "" << false;
}

void MainWindowTest::greenNode()
{
    QFETCH(bool, decrypted);
    QFETCH(QString, mainValue);
    QFETCH(QString, time);
    QFETCH(QString, date);
    QFETCH(QString, notes);
    QFETCH(bool, green);

    Harness h;
    MeterTable& t = h.table();
    t.setCell(1, col::MeterId, "44440001");
    t.setCell(1, col::MainValue, mainValue.toStdString());
    t.setCell(1, col::Time, time.toStdString());
    t.setCell(1, col::Date, date.toStdString());
    t.setCell(1, col::Notes, notes.toStdString());
    t.setFlag(RowFlag::Decrypted, 1, decrypted);
    t.notifyRowUpdated(1);

    MeterTree& tree = h.window->tree();
    QTreeWidgetItem* node = tree.meterNode("44440001");
    QVERIFY(node);
    QCOMPARE(tree.isRead("44440001"), green);
    QCOMPARE(tree.shownGreen(node), green);
    if (green)
        QCOMPARE(tree.shownImage(node), MeterTree::Read);
    h.window->Tree_meters->grab(); // the drawing rule runs in the painting

    // A later row of the same meter that is not read does not take the green away.
    const int later = t.appendRow();
    t.setCell(later, col::MeterId, "44440001");
    QCOMPARE(t.findMeterRow("44440001"), later);
    QCOMPARE(tree.isRead("44440001"), green);
}

void MainWindowTest::greenNodeNeedsDecryptionOn_data()
{
    QTest::addColumn<bool>("decryption");
    QTest::newRow("Decrypt AES-128 off") << false;
    QTest::newRow("Decrypt AES-128 on") << true;
}

void MainWindowTest::greenNodeNeedsDecryptionOn()
{
    QFETCH(bool, decryption);
    Harness h;
    h.settings.AES128_5 = decryption;
    h.feedMeters({"10000001"});
    QCOMPARE(q(h.table().cell(1, col::MainValue)), QString("1.000"));

    MeterTree& tree = h.window->tree();
    QTreeWidgetItem* node = tree.meterNode("10000001");
    QVERIFY(node);
    QCOMPARE(node->icon(0).cacheKey(), MeterTree::icon(MeterTree::Read).cacheKey());
    // Without decryption nothing sets the flag for a short-header telegram.
    QCOMPARE(tree.shownGreen(node), decryption);
}

void MainWindowTest::clearingTheTable_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("treeKept");
    QTest::addColumn<bool>("flagsKept");

    QTest::newRow("Clear table button") << "BitBtn1" << true << false;
    QTest::newRow("popup Clear table") << "Cleartable1" << false << true;
}

void MainWindowTest::clearingTheTable()
{
    QFETCH(QString, how);
    QFETCH(bool, treeKept);
    QFETCH(bool, flagsKept);

    Harness h;
    h.settings.AES128_5 = true;
    h.feedMeters({"10000001"});
    h.feed(meterFrame("20000002", "KAM", kWater, kLowBatteryStatus));
    QVERIFY(h.table().flag(RowFlag::Decrypted, 1));
    QVERIFY(h.table().flag(RowFlag::LowBattery, 2));

    if (how == "BitBtn1")
        h.window->BitBtn1->click();
    else
        h.action("Cleartable1")->trigger();

    QVERIFY(h.table().isFresh());
    QCOMPARE(h.model().rowCount(), 1);
    for (int c = 0; c < h.table().columnCount(); ++c)
        QCOMPARE(h.model().index(0, c).data().toString(), QString());
    QCOMPARE(h.window->Tree_meters->topLevelItemCount(), treeKept ? 2 : 0);
    QCOMPARE(h.table().flag(RowFlag::Decrypted, 1), flagsKept);
    QCOMPARE(h.table().flag(RowFlag::LowBattery, 2), flagsKept);
    QCOMPARE(h.table().mediumCounters().Water, 0u);

    // Heard again after the clear: a kept node is not doubled, a cleared tree gets it back.
    h.feedMeters({"10000001"});
    QCOMPARE(h.window->Tree_meters->topLevelItemCount(), treeKept ? 2 : 1);
    QCOMPARE(h.meterIds(), QStringList{"10000001"});
}

// Kept nodes turn red as soon as their rows are gone, not when the mouse passes; the
// counts of the finished reading are redrawn for the empty table.
void MainWindowTest::clearingRepaintsTreeAndCounts()
{
    Harness h;
    h.settings.AES128_5 = true;
    h.show();
    auto clock = std::chrono::steady_clock::time_point() + std::chrono::hours(5);
    h.window->reading().now = [&clock] { return clock; };
    h.window->Butt_read->click();
    h.port.arrive(meterFrame("10000001"));
    clock += std::chrono::seconds(3);
    h.window->Butt_read->click();
    MeterTree& tree = h.window->tree();
    QTRY_VERIFY(tree.shownGreen(tree.meterNode("10000001")));

    QTest::qWait(50); // every pending paint done
    PaintCounter paints(h.window->Tree_meters->viewport());
    h.window->BitBtn1->click();
    QTRY_VERIFY_WITH_TIMEOUT(paints.count > 0, 2000);
    QVERIFY(!tree.shownGreen(tree.meterNode("10000001")));
    QCOMPARE(h.window->StatusPanel1->text(),
             QString("Elapsed time: 00:00:03 (Water: 0, Cold water: 0, Hot water: 0, Heat: 0, H/C: 0, Gas: 0, "
                     "H.C.A: 0, Other: 0, Repeated: 0)"));
}

// A log that cannot be written is reported once per reading: the window tells the log when
// a reading starts and ends, and what the log could not write reaches the reader log.
void MainWindowTest::readingQuietensTheErrorLog()
{
    Harness h;
    h.window->Butt_read->click();
    QCOMPARE(h.log.readings, 1);
    QVERIFY(h.log.readerLog);
    h.log.readerLog("Cannot write glog.txt: Error 41");
    QVERIFY(h.logged("Cannot write glog.txt: Error 41"));
    h.window->Butt_read->click();
    QVERIFY(!h.log.readerLog);
}

// A compact frame format learned on one walk serves the next: the window keeps the learned
// formats in the data folder.
void MainWindowTest::learnedCompactFormatsOutliveTheWindow()
{
    // A full frame declaring a format of its own, then the compact frame that uses it.
    const auto full = palvero::test::receiverFrame(palvero::test::fromHex(
        "00 44 2D 2C 78 56 34 12 1B 16 78 02 FF 20 00 00 04 13 39 30 00 00 02 5A E8 03"));
    const auto header = palvero::test::fromHex("02 FF 20 04 13 02 5A");
    const auto records = palvero::test::fromHex("02 FF 20 00 00 04 13 39 30 00 00 02 5A E8 03");
    const uint16_t signature = crc16En13757(header.data(), header.size());
    const uint16_t check = crc16En13757(records.data(), records.size());
    std::vector<uint8_t> compact = palvero::test::fromHex("00 44 2D 2C 78 56 34 12 1B 16 79");
    for (uint16_t v : {signature, check}) {
        compact.push_back(uint8_t(v & 0xFF));
        compact.push_back(uint8_t(v >> 8));
    }
    for (uint8_t b : palvero::test::fromHex("00 00 39 30 00 00 E8 03"))
        compact.push_back(b);
    compact = palvero::test::receiverFrame(compact);

    Harness first;
    first.feed(full);
    const std::string learned = palvero::test::readFile(first.dir / "files" / kCompactFormatsFileName);
    QVERIFY(!learned.empty());

    Harness next("", learned);
    next.feed(compact);
    QCOMPARE(q(next.table().cell(1, col::MainValue)), QString("12.345"));
    Harness without;
    without.feed(compact);
    QCOMPARE(q(without.table().cell(1, col::MainValue)), QString());
}

void MainWindowTest::cellsAreSingleByteText()
{
    Harness h;
    h.table().setCell(1, col::Notes, "Caf\xE9 \xB0" "C");
    QCOMPARE(h.model().index(0, col::Notes).data().toString(), QString::fromUtf8("Caf\u00E9 \u00B0C"));
}

void MainWindowTest::rebuiltTableRebuildsTheTree()
{
    Harness h;
    h.feedMeters({"10000001"});

    TextGrid imported(4, h.table().columnCount());
    imported.setCell(1, col::MeterId, "70000007");
    imported.setCell(1, col::MainValue, "5.000");
    imported.setCell(1, col::EncryptionKey, "000102030405060708090A0B0C0D0E0F");
    imported.setCell(2, col::MainValue, "row without a meter");
    imported.setCell(3, col::MeterId, "80000008");
    h.table().replaceData(imported);
    h.table().notifyTableRebuilt();

    QTreeWidget* tree = h.window->Tree_meters;
    QCOMPARE(tree->topLevelItemCount(), 2);
    QCOMPARE(tree->topLevelItem(0)->text(0), QString("70000007"));
    QCOMPARE(tree->topLevelItem(1)->text(0), QString("80000008"));
    QVERIFY(!h.window->tree().hasNode("10000001"));
    for (int i = 0; i < 2; ++i) {
        QTreeWidgetItem* node = tree->topLevelItem(i);
        QCOMPARE(node->icon(0).cacheKey(), MeterTree::icon(MeterTree::NotRead).cacheKey());
        QCOMPARE(node->childCount(), 1);
        QCOMPARE(h.window->tree().shownImage(node->child(0)), MeterTree::Key);
    }
    QCOMPARE(tree->topLevelItem(0)->child(0)->text(0), QString("000102030405060708090A0B0C0D0E0F"));
    QCOMPARE(tree->topLevelItem(1)->child(0)->text(0), QString());

    // A rebuilt tree still keeps a meter heard again to one node.
    h.feedMeters({"80000008"});
    QCOMPARE(tree->topLevelItemCount(), 2);
}

void MainWindowTest::statusTexts()
{
    Harness h;
    QCOMPARE(h.window->StatusPanel0->minimumWidth(), 180);
    QCOMPARE(h.window->StatusPanel0->maximumWidth(), 180);

    h.feedMeters({"12345678"});
    QCOMPARE(h.window->StatusPanel0->text(), QString("Last read device: 12345678"));

    h.settings.DiscardCI = true;
    h.feed(meterFrame("87654321", "KAM", kWater, 0x00, 0x51));
    QCOMPARE(h.window->StatusPanel0->text(), QString("Wrong CI-field - 51"));
    QCOMPARE(h.meterIds(), QStringList{"12345678"});

    h.show();
    QCOMPARE(h.window->StatusPanel0->width(), 180);
}

void MainWindowTest::startAndStop()
{
    Harness h;
    auto clock = std::chrono::steady_clock::time_point() + std::chrono::hours(5);
    h.window->reading().now = [&clock] { return clock; };
    QCOMPARE(h.window->Butt_read->text(), QString("Start"));
    QVERIFY(!h.window->Timer_elapsedTime->isActive());
    QVERIFY(h.window->Button1->isEnabled());

    h.window->Butt_read->click();
    QCOMPARE(h.window->Butt_read->text(), QString("Stop"));
    QVERIFY(!h.window->Button1->isEnabled());
    QVERIFY(h.window->Timer_elapsedTime->isActive());
    QCOMPARE(h.window->Timer_elapsedTime->interval(), 1000);
    QVERIFY(h.port.isOpen());
    QVERIFY(std::count(h.transcript.begin(), h.transcript.end(), "open /dev/ttyS9 19200 None") == 1);
    QCOMPARE(h.window->StatusPanel0->text(), QString("ttyS9 - 19200,8,None"));

    // Telegrams come through the port while reading.
    h.port.arrive(meterFrame("10000001"));
    h.port.arrive(meterFrame("20000002", "KAM", kHeat));
    QCOMPARE(h.meterIds(), QStringList({"10000001", "20000002"}));
    QCOMPARE(h.window->StatusPanel0->text(), QString("Last read device: 20000002"));

    clock += std::chrono::seconds(65);
    QTRY_COMPARE_WITH_TIMEOUT(h.window->StatusPanel1->text(),
                              QString("Elapsed time: 00:01:05 / Devices found: 2 (Water: 1, Cold water: 0, "
                                      "Hot water: 0, Heat: 1, H/C: 0, Gas: 0, H.C.A: 0, Other: 0, Repeated: 0)"),
                              10000);

    h.window->Butt_read->click();
    QCOMPARE(h.window->Butt_read->text(), QString("Start"));
    QVERIFY(h.window->Button1->isEnabled());
    QVERIFY(!h.window->Timer_elapsedTime->isActive());
    QVERIFY(!h.port.isOpen());
    QCOMPARE(QString::fromStdString(h.transcript.back()), QString("close"));
    QCOMPARE(h.window->StatusPanel0->text(), QString("ttyS9 is closed"));
}

void MainWindowTest::manualThatCannotBeOpenedSaysSo_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("present");
    QTest::addColumn<bool>("viewer");
    QTest::addColumn<QString>("said"); // after "The manual <path> "; empty: no box
    for (const char* command : {"UserManualEN1", "UserManualBG1"}) {
        QTest::newRow(qPrintable(QString(command) + " missing")) << command << false << true << "is not in the program folder.";
        QTest::newRow(qPrintable(QString(command) + " no viewer"))
            << command << true << false << "cannot be opened: no PDF viewer is set up on this computer.";
        QTest::newRow(qPrintable(QString(command) + " opened")) << command << true << true << "";
    }
}

void MainWindowTest::manualThatCannotBeOpenedSaysSo()
{
    QFETCH(QString, command);
    QFETCH(bool, present);
    QFETCH(bool, viewer);
    QFETCH(QString, said);

    Harness h;
    const std::string file = command == "UserManualEN1" ? "UsrManEn.pdf" : "UsrManBg.pdf";
    const std::string path = (h.dir / file).string();
    if (present)
        palvero::test::writeFile(path, "%PDF-1.4");
    QStringList opened;
    h.window->openDocument = [&opened, viewer](const QString& p) {
        opened << p;
        return viewer;
    };
    h.window->findChild<QAction*>(command)->trigger();
    QCOMPARE(opened, present ? QStringList{q(path)} : QStringList{});
    QCOMPARE(h.op.messages.size(), size_t(said.isEmpty() ? 0 : 1));
    if (!said.isEmpty())
        QVERIFY2(q(h.op.messages[0].text).startsWith("The manual " + q(path) + " " + said),
                 qPrintable(q(h.op.messages[0].text)));
}

void MainWindowTest::portThatCannotBeOpened_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<bool>("f5");
    QTest::addColumn<QString>("logLine");
    QTest::addColumn<QString>("said"); // the part of the box that names the cause

    for (bool f5 : {false, true}) {
        const QString how = f5 ? ", F5" : ", button";
        QTest::newRow(qPrintable("held by another program" + how))
            << "held" << f5 << "The selected serial port (ttyS9) is in use by another program!"
            << "is in use by another program or may not be opened";
        QTest::newRow(qPrintable("not there" + how))
            << "missing" << f5 << "The selected serial port (ttyS9) does not exist!" << "does not exist";
        QTest::newRow(qPrintable("open fails" + how))
            << "open" << f5 << "Unknown Exception on opening serial port..." << "cannot be opened (Permission denied)";
    }
}

void MainWindowTest::portThatCannotBeOpened()
{
    QFETCH(QString, cause);
    QFETCH(bool, f5);
    QFETCH(QString, logLine);
    QFETCH(QString, said);

    Harness h;
    h.port.probeFails = cause == "held";
    h.port.deviceMissing = cause == "missing";
    h.port.openFails = cause == "open";
    h.port.error = "Permission denied";
    if (f5) {
        h.window->show();
        h.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
        QTest::keyClick(h.window.get(), Qt::Key_F5);
    } else {
        h.window->Butt_read->click();
    }
    QCOMPARE(h.window->Butt_read->text(), QString("Start"));
    QVERIFY(!h.window->Timer_elapsedTime->isActive());
    QVERIFY(h.window->Button1->isEnabled());
    QCOMPARE(h.window->StatusPanel0->text(), QString("ttyS9 is closed"));
    QVERIFY(h.logged(logLine.toStdString()));
    // One box names the port, the cause and where another one is chosen.
    QCOMPARE(h.op.messages.size(), size_t(1));
    const QString text = q(h.op.messages[0].text);
    QVERIFY2(text.startsWith("Reading cannot start: the serial port ttyS9 " + said), qPrintable(text));
    QVERIFY2(text.contains(QString::fromUtf8("Tools \xE2\x80\xBA Settings")), qPrintable(text));
}

void MainWindowTest::lostReceiverEndsTheReading()
{
    Harness h;
    h.window->Butt_read->click();
    h.port.arrive(meterFrame("10000001"));
    h.port.arrive(meterFrame("20000002"));

    h.port.loseDevice("Device hung up");
    QCOMPARE(h.window->Butt_read->text(), QString("Start"));
    QVERIFY(!h.window->Timer_elapsedTime->isActive());
    QVERIFY(h.window->Button1->isEnabled());
    QCOMPARE(h.window->StatusPanel0->text(), QString("ttyS9 is closed"));
    QVERIFY(h.logged("The receiver on ttyS9 was lost: Device hung up"));
    QCOMPARE(h.meterIds(), QStringList({"10000001", "20000002"}));
    QCOMPARE(h.window->Tree_meters->topLevelItemCount(), 2);

    // The receiver plugged in again: Start opens the port anew.
    h.window->Butt_read->click();
    QCOMPARE(h.window->Butt_read->text(), QString("Stop"));
    QVERIFY(h.port.isOpen());
    h.port.arrive(meterFrame("30000003"));
    QCOMPARE(h.meterIds(), QStringList({"10000001", "20000002", "30000003"}));
}

void MainWindowTest::closeQuery_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("answer");

    QTest::newRow("close, No") << "close" << false;
    QTest::newRow("close, Yes") << "close" << true;
    QTest::newRow("File Exit, No") << "Exit1" << false;
    QTest::newRow("File Exit, Yes") << "Exit1" << true;
}

void MainWindowTest::closeQuery()
{
    QFETCH(QString, how);
    QFETCH(bool, answer);

    Harness h;
    h.show();
    h.op.yesNoAnswers.push_back(answer);
    if (how == "close")
        QCOMPARE(h.window->close(), answer);
    else
        h.action("Exit1")->trigger();

    QCOMPARE(h.window->isVisible(), !answer);
    QCOMPARE(h.op.messages.size(), size_t(1));
    QCOMPARE(q(h.op.messages[0].caption), QString("Exit Confirmation"));
    QCOMPARE(q(h.op.messages[0].text), QString("Are you sure you want to exit?"));
    QCOMPARE(h.op.messages[0].icon, MessageIcon::Warning);
}

void MainWindowTest::closingWhileReadingClosesThePort()
{
    Harness h;
    h.show();
    h.window->Butt_read->click();
    QVERIFY(h.port.isOpen());

    h.op.yesNoAnswers.push_back(false);
    QVERIFY(!h.window->close());
    QVERIFY(h.port.isOpen());
    QCOMPARE(h.window->Butt_read->text(), QString("Stop"));

    h.op.yesNoAnswers.push_back(true);
    QVERIFY(h.window->close());
    QVERIFY(!h.port.isOpen());
    QVERIFY(!h.window->Timer_elapsedTime->isActive());
}

void MainWindowTest::namedControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("enabled");

    // Commands whose windows the program does not have yet, or has not attached to this
    // window alone.
    for (const char* name : {"Settings1", "Viewsignalstrenght1", "EnterAES128key1", "EnterAES128key2", "About1",
                             "Fulldecode1", "Decodetelegram1"})
        QTest::newRow(name) << name << "" << false;
    QTest::newRow("Butt_exportTable") << "Butt_exportTable" << "Export" << true;
    QTest::newRow("Templates1") << "Templates1" << "Templates" << true;
    QTest::newRow("ImportfromCSV1") << "ImportfromCSV1" << "Import from CSV" << true;
    QTest::newRow("Exportdata1") << "Exportdata1" << "Export data to CSV" << true;

    QTest::newRow("Butt_read") << "Butt_read" << "Start" << true;
    QTest::newRow("Check_noNew") << "Check_noNew" << "Do not add new devices" << true;
    QTest::newRow("BitBtn1") << "BitBtn1" << "Clear table" << true;
    QTest::newRow("Button1") << "Button1" << "Send data" << true;
    QTest::newRow("Edit_searchID") << "Edit_searchID" << "" << true;
    QTest::newRow("Edit_send_command") << "Edit_send_command" << "" << true;
    QTest::newRow("Grid_values") << "Grid_values" << "" << true;
    QTest::newRow("Tree_meters") << "Tree_meters" << "" << true;
    QTest::newRow("Timer_elapsedTime") << "Timer_elapsedTime" << "" << false;
    QTest::newRow("PopupMenu1") << "PopupMenu1" << "" << true;
    QTest::newRow("Savelogfile1") << "Savelogfile1" << "Save log file" << true;
    QTest::newRow("Printtabledata1") << "Printtabledata1" << "Print table data" << true;
    QTest::newRow("Exit1") << "Exit1" << "Exit" << true;
    QTest::newRow("UserManualBG1") << "UserManualBG1" << "User Manual BG" << true;
    QTest::newRow("UserManualEN1") << "UserManualEN1" << "User Manual EN" << true;
    QTest::newRow("Exportwholetable1") << "Exportwholetable1" << "Export whole table" << true;
    QTest::newRow("Cleartable1") << "Cleartable1" << "Clear table" << true;
    QTest::newRow("Removeselectedrow1") << "Removeselectedrow1" << "Remove selected row" << true;
    QTest::newRow("ClearAES128keys1") << "ClearAES128keys1" << "Clear AES-128 keys" << true;
    QTest::newRow("CopyFulltelegram1") << "CopyFulltelegram1" << "Copy Full telegram" << true;
    QTest::newRow("Reports1") << "Reports1" << "Reports" << true;
    QTest::newRow("SavedMeters1") << "SavedMeters1" << "Saved Meters" << true;
    QTest::newRow("Saveindatabase1") << "Saveindatabase1" << "Save in database" << true;
    QTest::newRow("Savemeasurementsindatabase1") << "Savemeasurementsindatabase1" << "Save measurements in database"
                                                 << true;
    QTest::newRow("Saveupdatemeterindatabase1") << "Saveupdatemeterindatabase1" << "Save/update meter in database"
                                                << true;
}

void MainWindowTest::namedControls()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(bool, enabled);

    Harness h;
    QCOMPARE(h.window->windowTitle(), QString("Palvero"));
    QObject* control = h.window->findChild<QObject*>(name);
    QVERIFY2(control, qPrintable(name));
    if (auto* timer = qobject_cast<QTimer*>(control)) {
        QCOMPARE(timer->isActive(), enabled);
        return;
    }
    QCOMPARE(control->property("enabled").toBool(), enabled);
    if (!caption.isEmpty())
        QCOMPARE(control->property("text").toString(), caption);
}

void MainWindowTest::doNotAddNewDevices()
{
    Harness h;
    h.feedMeters({"10000001"});
    h.window->Check_noNew->click();
    h.feedMeters({"20000002"});
    QCOMPARE(h.meterIds(), QStringList{"10000001"});
    h.feed(meterFrame("10000001", "KAM", kHeat));
    QCOMPARE(q(h.table().cell(1, col::Medium)), QString("Heat"));

    h.window->Check_noNew->click();
    h.feedMeters({"20000002"});
    QCOMPARE(h.meterIds(), QStringList({"10000001", "20000002"}));
}

void MainWindowTest::clearingTheKeys()
{
    Harness h;
    h.feedMeters({"10000001", "20000002"});
    h.table().setCell(1, col::EncryptionKey, "000102030405060708090A0B0C0D0E0F");
    h.table().setCell(2, col::EncryptionKey, "F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF");
    QSignalSpy changed(&h.model(), &QAbstractItemModel::dataChanged);

    h.action("ClearAES128keys1")->trigger();
    for (int r = 1; r <= 2; ++r)
        QCOMPARE(q(h.table().cell(r, col::EncryptionKey)), QString());
    QCOMPARE(h.model().index(1, col::EncryptionKey).data().toString(), QString());
    bool wholeRows = false;
    const std::set<int> rows = changedRows(changed, h.model().columnCount(), &wholeRows);
    QVERIFY(rows.count(0) && rows.count(1));
}

void MainWindowTest::savesAtExit_data()
{
    QTest::addColumn<bool>("answer");
    QTest::addColumn<bool>("autoSave");
    QTest::addColumn<bool>("saveMeters");
    QTest::addColumn<bool>("files");
    QTest::addColumn<QStringList>("readings");
    QTest::addColumn<QStringList>("meters");
    QTest::addColumn<QList<int>>("codes");

    const QStringList both = {"10000001", "20000002"};
    const QStringList withKeys = {"00000009|K9", "10000001|000102030405060708090A0B0C0D0E0F", "20000002|"};
    QTest::newRow("Yes saves readings and new meters") << true << true << true << true << both << withKeys
                                                       << QList<int>();
    QTest::newRow("No saves nothing") << false << true << true << true << QStringList() << QStringList{"00000009|K9"}
                                      << QList<int>();
    QTest::newRow("readings only") << true << true << false << true << both << QStringList{"00000009|K9"}
                                   << QList<int>();
    QTest::newRow("meters only") << true << false << true << true << QStringList() << withKeys << QList<int>();
    // Without the files each save logs its code: the readings first, then the meters.
    QTest::newRow("order, shown by the missing files") << true << true << true << false << QStringList()
                                                       << QStringList() << QList<int>{21, 52};
}

void MainWindowTest::savesAtExit()
{
    QFETCH(bool, answer);
    QFETCH(bool, autoSave);
    QFETCH(bool, saveMeters);
    QFETCH(bool, files);
    QFETCH(QStringList, readings);
    QFETCH(QStringList, meters);
    QFETCH(QList<int>, codes);

    Harness h;
    const auto data = h.dir.path() / "files";
    if (files) {
        const auto stored = MeterKeyRecord{"00000009", "K9"}.encode();
        palvero::test::writeFile(data / "meters.mrv", std::string(stored.begin(), stored.end()));
        palvero::test::writeFile(data / "db.mrv", "");
    }
    h.settings.AutoSave = autoSave;
    h.settings.SaveMeters = saveMeters;
    h.feedMeters({"10000001", "20000002"});
    h.table().setCell(1, col::EncryptionKey, "000102030405060708090A0B0C0D0E0F");
    h.show();
    h.op.yesNoAnswers.push_back(answer);
    if (!files) // the box that names what was not saved: leave all the same
        h.op.choiceAnswers.push_back("Leave without saving");
    QCOMPARE(h.window->close(), answer);

    QStringList saved;
    QStringList storedMeters;
    if (files) {
        for (const auto& r : MeasurementFile(data, h.log, h.formats).ReadAll()) {
            saved << q(r.fields[1]);
            QCOMPARE(q(r.fields[10]), QString("2026-12-06"));
        }
        for (const auto& r : MetersFile(data, h.log).ReadAll())
            storedMeters << q(r.id + "|" + r.key);
    }
    QCOMPARE(saved, readings);
    QCOMPARE(storedMeters, meters);
    QCOMPARE(QList<int>(h.log.codes.begin(), h.log.codes.end()), codes);
}

void MainWindowTest::exitThatCannotSaveLetsTheOperatorStay()
{
    Harness h;
    const auto data = h.dir.path() / "files";
    palvero::test::writeFile(data / "meters.mrv", "");
    h.settings.AutoSave = true;
    h.feedMeters({"10000001", "20000002"});
    h.show();
    // db.mrv is missing: the operator stays (the box's first button), with the table; once the
    // file is there, the exit saves.
    h.op.yesNoAnswers = {true, true};
    QVERIFY(!h.window->close());
    QVERIFY(h.window->isVisible());
    QCOMPARE(q(h.op.messages.at(1).caption), QString("Data not saved"));
    QCOMPARE(h.table().dataRowCount(), 2);
    palvero::test::writeFile(data / "db.mrv", "");
    QVERIFY(h.window->close());
    QCOMPARE(h.op.messages.size(), size_t(3));
    QCOMPARE(MeasurementFile(data, h.log, h.formats).ReadAll().size(), size_t(2));
}

void MainWindowTest::savingFromTheMenus()
{
    Harness h;
    const auto data = h.dir.path() / "files";
    palvero::test::writeFile(data / "meters.mrv", "");
    palvero::test::writeFile(data / "db.mrv", "");
    MeasurementFile db(data, h.log, h.formats);
    MetersFile meters(data, h.log);

    // An empty table saves nothing.
    h.action("Saveindatabase1")->trigger();
    h.action("Saveupdatemeterindatabase1")->trigger();
    QCOMPARE(db.ReadAll().size(), size_t(0));
    QCOMPARE(meters.ReadAll().size(), size_t(0));

    h.feedMeters({"10000001", "20000002"});
    h.action("Saveindatabase1")->trigger();
    // The same readings a second time are stored once.
    h.action("Savemeasurementsindatabase1")->trigger();
    QCOMPARE(db.ReadAll().size(), size_t(2));
    h.formats.setNow({2026, 12, 6, 14, 5, 0});
    h.feedMeters({"20000002"});
    h.action("Saveindatabase1")->trigger();
    QCOMPARE(db.ReadAll().size(), size_t(3));

    h.table().setCell(2, col::EncryptionKey, "K2");
    h.select(2);
    h.action("Saveupdatemeterindatabase1")->trigger();
    h.table().setCell(2, col::EncryptionKey, "K2new");
    h.action("Saveupdatemeterindatabase1")->trigger();
    QCOMPARE(meters.ReadAll(), (std::vector<MeterKeyRecord>{{"20000002", "K2new"}}));
    QVERIFY(h.log.codes.empty());
    QVERIFY(h.op.messages.empty());

    // An ID the file cannot keep whole is refused, not cut into another meter.
    h.table().setCell(2, col::MeterId, "200000021");
    h.action("Saveupdatemeterindatabase1")->trigger();
    QCOMPARE(meters.ReadAll(), (std::vector<MeterKeyRecord>{{"20000002", "K2new"}}));
    QCOMPARE(h.op.messages.size(), size_t(1));
    QCOMPARE(q(h.op.messages[0].text), QString("Meter ID \"200000021\" is longer than 8 characters, which "
                                               "meters.mrv keeps: the meter is not saved."));
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
