// The main window in the field: route progress and the unread list, following the last
// read meter, the tree finding rows, undo of every table command, captures and their
// replay, printing, the search field, tooltips, shortcuts and the window's size.

#include "capture_replay.h"
#include "colour_legend.h"
#include "elided_label.h"
#include "fake_serial_port.h"
#include "main_window.h"
#include "meter_table_model.h"
#include "meter_tree.h"
#include "route_progress.h"
#include "scripted_operator.h"
#include "table_csv.h"
#include "table_printer.h"
#include "template_source.h"
#include "temp_dir.h"
#include "undo_stack.h"
#include "unread_meters_window.h"
#include "window_geometry.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <fstream>
#include <memory>

using namespace palvero;
using palvero::test::FakeSerialPort;
using palvero::test::FakeSleeper;
using palvero::test::ScriptedOperator;
using palvero::test::TempDir;

namespace {

namespace fs = std::filesystem;

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}

class NullLog : public ErrorLogger {
public:
    void LogErrorCode(int) override {}
    void LogErrorText(const std::string&) override {}
    void beginReading(std::function<void(const std::string&)>) override {}
    void endReading() override {}
};

// A water meter's frame with one volume record of 1000 litres; `encrypted` marks the
// payload as one AES block (mode 5) that no key opens.
std::vector<uint8_t> meterFrame(const std::string& id, bool encrypted = false, uint8_t status = 0x00)
{
    std::vector<uint8_t> f = {0x68, 0x00, 0x44, 0x2D, 0x2C};
    for (int i = 3; i >= 0; --i)
        f.push_back(uint8_t(std::stoi(id.substr(size_t(i) * 2, 2), nullptr, 16)));
    const uint8_t head[] = {0x01, 0x07, 0x7A, 0x01, status, uint8_t(encrypted ? 0x10 : 0x00),
                            uint8_t(encrypted ? 0x05 : 0x00)};
    f.insert(f.end(), std::begin(head), std::end(head));
    const uint8_t records[] = {0x04, 0x13, 0xE8, 0x03, 0x00, 0x00, 0x0F, 0x0F, 0x0F, 0x0F,
                               0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F};
    f.insert(f.end(), std::begin(records), std::end(records));
    f.push_back(0x9A);
    f.push_back(0x16);
    f[1] = uint8_t(f.size() - 3);
    return f;
}

void writeMeters(const fs::path& file, const std::vector<std::string>& ids)
{
    std::ofstream out(file, std::ios::binary);
    for (const auto& id : ids)
        out << char(id.size()) << id << std::string(8 - id.size(), '\0') << char(0) << std::string(32, '\0');
}

struct Harness {
    explicit Harness(const std::vector<std::string>& route = {}, bool ini = true)
    {
        fs::create_directories(dir / "files");
        writeMeters(dir / "files" / "meters.mrv", route);
        if (ini)
            palvero::test::writeFile(dir / "palvero.ini", "[Misc]\r\nFontSize=8\r\n");
        settings.Name = "ttyS9";
        settings.AES128_5 = true;
        make();
    }
    void make()
    {
        window.reset();
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
    QAction* action(const char* name) { return window->findChild<QAction*>(name); }
    QStringList meterIds()
    {
        QStringList ids;
        for (int r = 1; r < table().rowCount(); ++r)
            ids << q(table().cell(r, col::MeterId));
        return ids;
    }
    QStringList treeIds()
    {
        QStringList ids;
        for (int i = 0; i < window->Tree_meters->topLevelItemCount(); ++i)
            ids << window->Tree_meters->topLevelItem(i)->text(0);
        return ids;
    }
    QStringList unreadLines()
    {
        QStringList lines;
        auto& m = window->unreadMeters().model();
        for (int r = 0; r < m.rowCount(); ++r)
            lines << m.index(r, 0).data().toString() + "|" + m.index(r, 1).data().toString() + "|"
                    + m.index(r, 2).data().toString();
        return lines;
    }

    TempDir dir;
    std::vector<std::string> transcript;
    Settings settings;
    FixedFormats formats;
    ScriptedOperator op;
    NullLog log;
    FakeSerialPort port{transcript};
    FakeSleeper sleeper{transcript};
    std::unique_ptr<TForm1> window;
};

} // namespace

class FieldTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void routePanelAndUnreadListFollowTheTelegrams();
    void unreadListCopiesExportsAndFindsTheRow();
    void followingTheLastReadMeter();
    void treeClickSelectsTheRow();
    void undoOfEachCommand_data();
    void undoOfEachCommand();
    void undoKeepsTenSteps();
    void undoOfAnImport();
    void captureHoldsTheBytesAndReplaysIntoTheSameTable();
    void captureFolderThatCannotBeWrittenIsReportedOnce();
    void replayCanBeCancelled();
    void printPreviewOfAThousandRows();
    void searchSaysWhenNothingMatches();
    void rowTooltipsAndTheLegend();
    void menusMnemonicsAndShortcuts_data();
    void menusMnemonicsAndShortcuts();
    void windowFitsTheScreen_data();
    void windowFitsTheScreen();
    void windowRemembersItsPlaceAndFollow();
    void longStatusTextIsElided();
};

void FieldTest::routePanelAndUnreadListFollowTheTelegrams()
{
    Harness h({"10000001", "20000002", "30000003", "40000004"});
    QCOMPARE(h.window->StatusPanel2->text(), QString("Read 0 of 4 known meters"));
    QCOMPARE(h.unreadLines().size(), 4);

    h.feedMeters({"10000001"});
    h.feed(meterFrame("20000002", true)); // encrypted, no key anywhere
    h.feedMeters({"99999999"});           // not on the route
    QCOMPARE(h.window->StatusPanel2->text(), QString("Read 1 of 4 known meters"));
    const QString heard = q(h.formats.timeText(h.formats.now()) + " " + h.formats.dateText(h.formats.now()));
    QCOMPARE(h.unreadLines(), QStringList({"20000002|" + heard + "|no key", "30000003||not heard",
                                           "40000004||not heard"}));

    h.feedMeters({"40000004"});
    QCOMPARE(h.window->StatusPanel2->text(), QString("Read 2 of 4 known meters"));
    QCOMPARE(h.unreadLines().size(), 2);
    QCOMPARE(h.window->unreadMeters().Label_summary->text(), QString("Read 2 of 4 known meters - 2 unread"));

    // Clearing the table puts every meter back on the list.
    h.window->BitBtn1->click();
    QCOMPARE(h.window->StatusPanel2->text(), QString("Read 0 of 4 known meters"));
    QCOMPARE(h.unreadLines().size(), 4);
}

void FieldTest::unreadListCopiesExportsAndFindsTheRow()
{
    Harness h({"10000001", "20000002", "30000003"});
    h.feedMeters({"50000005"});
    h.feed(meterFrame("20000002", true));
    h.action("Unreadmeters1")->trigger();
    TUnreadMeters& list = h.window->unreadMeters();
    QVERIFY(list.isVisible());

    list.Butt_copy->click();
    QCOMPARE(QApplication::clipboard()->text().count('\n'), 3);
    QVERIFY(QApplication::clipboard()->text().startsWith("10000001\t\tnot heard\n"));

    const std::string exported = (h.dir / "unread.csv").string();
    h.op.fileAnswers.push_back(exported);
    list.Butt_export->click();
    QVERIFY(palvero::test::readFile(exported).find("30000003;;not heard;\r\n") != std::string::npos);
    QCOMPARE(QString::fromStdString(h.op.dialogs.back().title), QString("Export unread meters to CSV"));

    const QModelIndex second = list.model().index(1, 0);
    QCOMPARE(second.data().toString(), QString("20000002"));
    emit list.Grid_unread->doubleClicked(second);
    QCOMPARE(h.table().selectedRow, 2);
    QCOMPARE(h.window->Grid_values->currentIndex().row(), 1);
}

void FieldTest::followingTheLastReadMeter()
{
    Harness h;
    h.window->resize(700, 300);
    h.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
    for (int i = 0; i < 150; ++i)
        h.feed(meterFrame(QString::number(10000000 + i).toStdString()));
    auto lastVisible = [&h] {
        QTableView* v = h.window->Grid_values;
        const QRect cell = v->visualRect(h.window->model().index(h.table().lastReadRow - 1, 0));
        return v->viewport()->rect().intersects(cell);
    };
    QVERIFY(h.window->followLastRead());
    QVERIFY(h.action("Followlastreadmeter1")->isChecked());
    QVERIFY(lastVisible());

    h.action("Followlastreadmeter1")->trigger();
    QVERIFY(!h.window->followLastRead());
    h.window->Grid_values->scrollToTop();
    h.feed(meterFrame("10000149"));
    QVERIFY(!lastVisible());

    h.action("Followlastreadmeter1")->trigger();
    QVERIFY(lastVisible());

    // Only the rows follow: the columns stay where the operator scrolled them.
    QScrollBar* across = h.window->Grid_values->horizontalScrollBar();
    QVERIFY(across->maximum() > 0);
    h.window->Grid_values->setCurrentIndex(h.window->model().index(0, 0));
    for (int at : {across->maximum(), across->maximum() / 2}) {
        across->setValue(at);
        h.window->Grid_values->scrollToTop();
        h.feed(meterFrame("10000148"));
        QTableView* v = h.window->Grid_values;
        const QRect row = v->visualRect(h.window->model().index(h.table().lastReadRow - 1, 0));
        QVERIFY(row.bottom() > 0 && row.top() < v->viewport()->height());
        QCOMPARE(across->value(), at);
    }

    // A telegram read outside a delivery of received bytes (a taught meter read again) is
    // followed once the window's events run.
    QTableView* v = h.window->Grid_values;
    v->scrollToTop();
    ReceiverFrame again = meterFrame("10000147");
    h.window->reception().processor().process(again);
    const auto rowInView = [&] {
        const int top = v->rowViewportPosition(h.table().lastReadRow - 1);
        return top >= 0 && top < v->viewport()->height();
    };
    QVERIFY(!rowInView());
    QTRY_VERIFY(rowInView());
}

void FieldTest::treeClickSelectsTheRow()
{
    Harness h;
    h.feedMeters({"10000001", "20000002", "30000003"});
    QTreeWidget* tree = h.window->Tree_meters;
    QTreeWidgetItem* node = h.window->tree().meterNode("20000002");
    QVERIFY(node);
    emit tree->itemClicked(node, 0);
    QCOMPARE(h.table().selectedRow, 2);
    QCOMPARE(h.window->Grid_values->currentIndex().row(), 1);
    // The key node finds its meter's row as well.
    emit tree->itemClicked(h.window->tree().meterNode("30000003")->child(0), 0);
    QCOMPARE(h.table().selectedRow, 3);
}

void FieldTest::undoOfEachCommand_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("caption");
    for (const char* c : {"BitBtn1", "Cleartable1", "Removeselectedrow1", "Delete", "ClearAES128keys1", "SortById",
                          "GroupByMedium"})
        QTest::newRow(c) << c << "";
}

void FieldTest::undoOfEachCommand()
{
    QFETCH(QString, command);
    Harness h;
    auto heat = meterFrame("30000003");
    heat[10] = 0x04; // a heat meter, so that grouping by medium moves it
    h.feed(heat);
    h.feedMeters({"10000001", "20000002"});
    h.feed(meterFrame("10000001", false, 0x04)); // low battery
    h.table().setCell(2, col::EncryptionKey, "000102030405060708090A0B0C0D0E0F");
    h.table().setCell(3, col::FreeText, "by the gate");
    h.window->Grid_values->setCurrentIndex(h.window->model().index(1, 0));
    const QStringList ids = h.meterIds();
    const QStringList tree = h.treeIds();
    QVERIFY(!h.action("Undo1")->isEnabled());

    if (command == "Delete")
        QTest::keyClick(h.window->Grid_values, Qt::Key_Delete);
    else if (command == "SortById")
        h.window->headerDoubleClicked(col::MeterId);
    else if (command == "GroupByMedium")
        h.window->headerDoubleClicked(col::Medium);
    else if (auto* b = h.window->findChild<QPushButton*>(command))
        b->click();
    else
        h.action(qPrintable(command))->trigger();
    QVERIFY(h.action("Undo1")->isEnabled());
    QVERIFY(h.action("Undo1")->text().startsWith("&Undo "));

    // A telegram between the command and the undo: a new meter.
    h.feedMeters({"40000004"});
    h.action("Undo1")->trigger();
    QCOMPARE(h.meterIds(), ids + QStringList{"40000004"});
    QCOMPARE(h.treeIds(), tree + QStringList{"40000004"});
    QCOMPARE(q(h.table().cell(2, col::EncryptionKey)), QString("000102030405060708090A0B0C0D0E0F"));
    QCOMPARE(q(h.table().cell(3, col::FreeText)), QString("by the gate"));
    QVERIFY(h.table().flag(RowFlag::LowBattery, 2));
    QVERIFY(h.table().flag(RowFlag::Decrypted, 1));
    QCOMPARE(h.table().lastReadRow, 4);
    QCOMPARE(h.window->model().rowCount(), 4);
    QVERIFY(!h.action("Undo1")->isEnabled());
}

void FieldTest::undoKeepsTenSteps()
{
    Harness h;
    QStringList expected;
    for (int i = 1; i <= 11; ++i) {
        const std::string id = std::to_string(10000000 + i);
        h.feed(meterFrame(id));
        expected << q(id);
    }
    for (int i = 0; i < 10; ++i) {
        h.window->Grid_values->setCurrentIndex(h.window->model().index(0, 0));
        h.window->removeSelectedRow();
    }
    QCOMPARE(h.meterIds().size(), 1);
    h.window->show();
    h.window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
    h.window->Grid_values->setFocus();
    for (int i = 0; i < 10; ++i)
        QTest::keyClick(h.window->Grid_values, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(h.meterIds(), expected);
}

void FieldTest::undoOfAnImport()
{
    struct NoTemplates : TemplateSource {
        TemplateLookup findTemplate(const std::string&) override { return {TemplateLookup::Status::Missing, {}, {}}; }
    } templates;
    Harness h;
    h.feedMeters({"10000001", "20000002"});
    palvero::test::writeFile(h.dir / "in.csv", "1;50000005;;;;;;;;;;;;;;;\r\n");
    h.op.fileAnswers.push_back((h.dir / "in.csv").string());
    h.window->recordImportUndo();
    const TableCsvResult result =
        ImportTableCsv(h.table(), "<None>", TableCsvOptions{}, templates, h.dir / "files", h.op, h.log);
    h.window->commitUndo();
    QCOMPARE(int(result.status), int(TableCsvResult::Status::Done));
    QVERIFY(h.table().findMeterRow("50000005") > 0);
    QCOMPARE(h.table().findMeterRow("10000001"), 0);
    h.feedMeters({"30000003"});
    h.window->Check_noNew->setChecked(true); // as the program does after an import
    QCOMPARE(h.action("Undo1")->text(), QString("&Undo Import from CSV"));
    h.action("Undo1")->trigger();
    QCOMPARE(h.meterIds(), QStringList({"10000001", "20000002", "30000003"}));
    QCOMPARE(h.treeIds(), QStringList({"10000001", "20000002", "30000003"}));
    // The import ticked "Do not add new devices"; its undo clears it again.
    QVERIFY(!h.window->Check_noNew->isChecked());
    QVERIFY(!h.table().doNotAddNew);

    // Ticked before the import, it stays ticked after the undo; other commands leave it alone.
    h.window->Check_noNew->setChecked(true);
    h.op.fileAnswers.push_back((h.dir / "in.csv").string());
    h.window->recordImportUndo();
    ImportTableCsv(h.table(), "<None>", TableCsvOptions{}, templates, h.dir / "files", h.op, h.log);
    h.window->commitUndo();
    h.window->clearTablePopup();
    h.window->Check_noNew->setChecked(false);
    h.action("Undo1")->trigger(); // the clearing
    QVERIFY(!h.window->Check_noNew->isChecked());
    h.action("Undo1")->trigger(); // the import
    QVERIFY(h.window->Check_noNew->isChecked());
}

void FieldTest::captureHoldsTheBytesAndReplaysIntoTheSameTable()
{
    Harness h({"10000001", "20000002"});
    h.settings.V1 = false;
    h.window->Butt_read->click();
    QVERIFY(h.port.isOpen());
    const QString path = h.window->capturePath();
    QVERIFY(path.endsWith(".cap"));
    QCOMPARE(fs::path(path.toStdString()).parent_path(), h.dir / "files" / "captures");

    std::vector<uint8_t> sent;
    auto arrive = [&](const std::vector<uint8_t>& bytes) {
        h.port.arrive(bytes);
        sent.insert(sent.end(), bytes.begin(), bytes.end());
    };
    const auto a = meterFrame("10000001"), b = meterFrame("20000002", true), c = meterFrame("30000003");
    const CaptureStamp before = CaptureStamp::now();
    arrive({a.begin(), a.begin() + 7});
    // On disk already, mid-reading: the signature, one stamp and the bytes.
    QCOMPARE(palvero::test::readFile(path.toStdString()).size(), size_t(8 + 16 + 7));
    arrive({a.begin() + 7, a.end()});
    arrive({0x00, 0x55}); // noise between frames
    arrive(b);
    arrive(c);
    h.window->Butt_read->click();
    const CaptureStamp after = CaptureStamp::now();
    QVERIFY(h.window->capturePath().isEmpty());
    // Every byte, event by event, each stamped with the moment it arrived.
    CaptureReader reader;
    std::string error;
    QVERIFY(reader.open(path.toStdString(), CaptureReader::detect(path.toStdString()), 0, error));
    std::vector<uint8_t> captured, event;
    std::vector<CaptureStamp> stamps;
    while (reader.next(event)) {
        captured.insert(captured.end(), event.begin(), event.end());
        stamps.push_back(reader.stamp());
    }
    QCOMPARE(captured, sent);
    QCOMPARE(int(stamps.size()), 5);
    for (const CaptureStamp& s : stamps)
        QVERIFY(s.unixMs >= before.unixMs && s.unixMs <= after.unixMs);
    const TextGrid live = h.table().grid();

    // The program goes down; a new one replays the capture on another day: each row gets
    // the time its telegram was heard, not the time of the replay.
    Harness again({"10000001", "20000002"});
    again.formats.setNow({2030, 1, 2, 3, 4, 5});
    again.op.fileAnswers.push_back(path.toStdString());
    again.action("Replaycapture1")->trigger();
    QVERIFY(again.window->captureReplay().running());
    QVERIFY(!again.window->Butt_read->isEnabled());
    QTRY_VERIFY(!again.window->captureReplay().running());
    QVERIFY(again.window->Butt_read->isEnabled());
    QCOMPARE(again.table().rowCount(), live.rowCount());
    for (int r = 1; r < live.rowCount(); ++r)
        for (int col : {col::MeterId, col::Medium, col::MainValue, col::Units, col::Notes})
            QCOMPARE(q(again.table().cell(r, col)), q(live.cell(r, col)));
    QCOMPARE(again.window->StatusPanel2->text(), QString("Read 1 of 2 known meters"));
    QCOMPARE(again.treeIds(), QStringList({"10000001", "20000002", "30000003"}));
    // Frame a is completed by the second event, b and c by the fourth and the fifth.
    for (auto [r, e] : {std::pair{1, 1}, {2, 3}, {3, 4}})
        QCOMPARE(q(again.table().cell(r, col::Time) + " " + again.table().cell(r, col::Date)),
                 q(again.formats.timeText(stamps[e].localTime()) + " " + again.formats.dateText(stamps[e].localTime())));
    QCOMPARE(again.window->StatusPanel1->text(),
             "Replayed " + QString::fromStdString(fs::path(path.toStdString()).filename().string())
                 + ": every row has the time its telegram was heard");

    // A capture written before captures kept times replays with the time of the replay, and says so.
    palvero::test::writeFile(again.dir / "old.cap", std::string(a.begin(), a.end()));
    QVERIFY(again.window->startReplay(q((again.dir / "old.cap").string())));
    QTRY_VERIFY(!again.window->captureReplay().running());
    QCOMPARE(q(again.table().cell(1, col::Date)), QString("02.01.2030"));
    QCOMPARE(again.window->StatusPanel1->text(),
             QString("Replayed old.cap: the capture carries no times of its own: its rows have the time of the replay"));
}

void FieldTest::captureFolderThatCannotBeWrittenIsReportedOnce()
{
    Harness h;
    h.settings.V1 = false;
    palvero::test::writeFile(h.dir / "files" / "captures", "a file, not a folder");
    for (int i = 0; i < 2; ++i) {
        h.window->Butt_read->click();
        QCOMPARE(h.window->Butt_read->text(), QString("Stop"));
        h.port.arrive(meterFrame("10000001"));
        QCOMPARE(h.meterIds(), QStringList{"10000001"});
        h.window->Butt_read->click();
    }
    QCOMPARE(int(h.op.messages.size()), 1);
    QVERIFY(h.op.messages[0].text.find("Reading goes on without a capture.") != std::string::npos);
    QCOMPARE(h.op.messages[0].caption, std::string("Palvero"));
}

void FieldTest::replayCanBeCancelled()
{
    Harness h;
    std::ofstream out(h.dir / "big.cap", std::ios::binary);
    for (int i = 0; i < 20000; ++i) {
        const auto f = meterFrame(std::to_string(10000000 + i % 5000));
        out.write(reinterpret_cast<const char*>(f.data()), std::streamsize(f.size()));
    }
    out.close();
    QSignalSpy finished(&h.window->captureReplay(), &CaptureReplay::finished);
    QVERIFY(h.window->startReplay(q((h.dir / "big.cap").string())));
    QTRY_VERIFY(h.table().dataRowCount() > 1);
    QVERIFY(h.window->captureReplay().progressDialog());
    emit h.window->captureReplay().progressDialog()->canceled();
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished[0][0].toBool(), false);
    QVERIFY(h.table().dataRowCount() < 5000);
    QVERIFY(h.window->captureReplay().bytesFed() < fs::file_size(h.dir / "big.cap"));

    QVERIFY(!h.window->startReplay(q((h.dir / "missing.cap").string())));
    QCOMPARE(h.op.messages.back().text, "cannot read capture " + (h.dir / "missing.cap").string());
}

void FieldTest::printPreviewOfAThousandRows()
{
    Harness h;
    for (int i = 0; i < 1000; ++i)
        h.feed(meterFrame(std::to_string(10000000 + i)));
    const std::vector<int> columns = h.window->visibleColumns();
    QCOMPARE(int(columns.size()), h.table().columnCount());

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Landscape);
    const QString pdf = q((h.dir / "table.pdf").string());
    printer.setOutputFileName(pdf);
    TablePrinter tp(h.table(), columns, "Palvero - meter table", "04.05.2026");
    const int perPage = tp.rowsPerPage(printer);
    QVERIFY2(perPage >= 25 && perPage <= 60, qPrintable(QString::number(perPage)));
    const int pages = tp.pageCount(printer);
    QCOMPARE(pages, (1000 + perPage - 1) / perPage);
    QCOMPARE(tp.print(printer), pages);
    const std::string bytes = palvero::test::readFile(pdf.toStdString());
    int found = 0;
    for (size_t at = bytes.find("/Type /Page\n"); at != std::string::npos; at = bytes.find("/Type /Page\n", at + 1))
        ++found;
    QCOMPARE(found, pages);

    // The menu command opens the preview with the same pages.
    int previewPages = -1;
    QTimer::singleShot(0, [&previewPages] {
        auto* dialog = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        previewPages = dialog->findChild<QPrintPreviewWidget*>()->pageCount();
        dialog->reject();
    });
    h.action("Printtabledata1")->trigger();
    QVERIFY(previewPages > 1);
}

void FieldTest::searchSaysWhenNothingMatches()
{
    Harness h;
    h.feedMeters({"10001234", "20000002"});
    QLineEdit* search = h.window->Edit_searchID;
    QTest::keyClicks(search, "1234");
    QCOMPARE(search->property("noMatch").toBool(), false);
    QCOMPARE(h.table().selectedRow, 1);
    QTest::keyClicks(search, "9");
    QCOMPARE(search->property("noMatch").toBool(), true);
    QCOMPARE(search->toolTip(), QString("No meter ID contains \"12349\""));
    QVERIFY(!search->styleSheet().isEmpty());
    QCOMPARE(h.table().selectedRow, 1);
    search->clear();
    QCOMPARE(search->property("noMatch").toBool(), false);
    QVERIFY(search->styleSheet().isEmpty());
}

void FieldTest::rowTooltipsAndTheLegend()
{
    Harness h;
    h.feedMeters({"10000001"});
    h.feed(meterFrame("20000002", true, 0x04));
    const auto tip = [&h](int row) { return h.window->model().index(row, 0).data(Qt::ToolTipRole).toString(); };
    QCOMPARE(tip(0), QString("Read: a value from a decrypted or plain telegram"));
    QCOMPARE(tip(1), QString("The meter read last\nLow battery\nNot decrypted: no key"));
    h.settings.ColorMrv = true;
    h.table().setFlag(RowFlag::MrvDone, 1, true);
    QVERIFY(tip(0).endsWith("\nDone"));

    h.settings.LowBattery = 0x0000FF; // red
    h.action("Colours1")->trigger();
    TColourLegend& legend = h.window->colourLegend();
    QVERIFY(legend.isVisible());
    const auto entries = legend.entries();
    const auto low = std::find_if(entries.begin(), entries.end(), [](const auto& e) { return e.first == "Low battery"; });
    QVERIFY(low != entries.end());
    QCOMPARE(low->second, QColor(255, 0, 0));
}

void FieldTest::menusMnemonicsAndShortcuts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QKeySequence>("shortcut");
    QTest::newRow("File") << "File1" << "&File" << QKeySequence();
    QTest::newRow("Edit") << "Edit1" << "&Edit" << QKeySequence();
    QTest::newRow("View") << "View1" << "&View" << QKeySequence();
    QTest::newRow("Tools") << "Tools1" << "&Tools" << QKeySequence();
    QTest::newRow("Help") << "Help1" << "&Help" << QKeySequence();
    QTest::newRow("Undo") << "Undo1" << "&Undo" << QKeySequence(Qt::CTRL | Qt::Key_Z);
    QTest::newRow("Find") << "Findmeter1" << "&Find meter" << QKeySequence(Qt::CTRL | Qt::Key_F);
    QTest::newRow("Exit") << "Exit1" << "Exit" << QKeySequence(Qt::CTRL | Qt::Key_Q);
    QTest::newRow("Print") << "Printtabledata1" << "Print table data" << QKeySequence(Qt::CTRL | Qt::Key_P);
    QTest::newRow("Start/Stop") << "StartStopreading1" << "Start/Stop &reading" << QKeySequence(Qt::Key_F5);
    QTest::newRow("Manual") << "UserManualEN1" << "User Manual EN" << QKeySequence(Qt::Key_F1);
    QTest::newRow("Replay") << "Replaycapture1" << "&Replay capture..." << QKeySequence();
    QTest::newRow("Unread") << "Unreadmeters1" << "&Unread meters" << QKeySequence();
    QTest::newRow("Colours") << "Colours1" << "&Colours" << QKeySequence();
    QTest::newRow("Follow") << "Followlastreadmeter1" << "&Follow last read meter" << QKeySequence();
}

void FieldTest::menusMnemonicsAndShortcuts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QKeySequence, shortcut);
    QLocale::setDefault(QLocale(QLocale::English));
    Harness h;
    if (auto* menu = h.window->findChild<QMenu*>(name)) {
        QCOMPARE(menu->title(), text);
        return;
    }
    QAction* a = h.action(qPrintable(name));
    QVERIFY(a);
    QCOMPARE(a->text(), text);
    QCOMPARE(a->shortcut(), shortcut);
    for (QWidget* w : {static_cast<QWidget*>(h.window->Butt_read), static_cast<QWidget*>(h.window->Check_noNew),
                       static_cast<QWidget*>(h.window->BitBtn1), static_cast<QWidget*>(h.window->Butt_exportTable)})
        QVERIFY2(!w->toolTip().isEmpty(), qPrintable(w->objectName()));
}

void FieldTest::windowFitsTheScreen_data()
{
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QRect>("saved");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("large screen") << QRect(0, 0, 1920, 1040) << QRect() << QRect(320, 160, 1280, 720);
    // 1366 x 768 at 1.5x: 910 x 512 logical pixels, less the panel.
    QTest::newRow("scaled small screen") << QRect(0, 0, 910, 480) << QRect() << QRect(45, 24, 819, 432);
    QTest::newRow("saved place") << QRect(0, 0, 1920, 1040) << QRect(100, 50, 900, 600) << QRect(100, 50, 900, 600);
    QTest::newRow("saved on a screen that went away")
        << QRect(0, 0, 1280, 700) << QRect(2500, 900, 900, 600) << QRect(380, 100, 900, 600);
    QTest::newRow("saved larger than the screen")
        << QRect(0, 0, 800, 560) << QRect(0, 0, 1280, 720) << QRect(0, 0, 800, 560);
}

void FieldTest::windowFitsTheScreen()
{
    QFETCH(QRect, available);
    QFETCH(QRect, saved);
    QFETCH(QRect, expected);
    const std::optional<QRect> s = saved.isNull() ? std::nullopt : std::optional<QRect>(saved);
    QCOMPARE(fittedWindowGeometry(available, s), expected);

    Harness h;
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY(screen.contains(h.window->geometry()));
}

void FieldTest::windowRemembersItsPlaceAndFollow()
{
    Harness h;
    h.window->setGeometry(40, 30, 600, 400);
    h.action("Followlastreadmeter1")->trigger();
    h.op.yesNoAnswers.push_back(true);
    QVERIFY(h.window->close());
    const std::string ini = palvero::test::readFile(h.dir / "palvero.ini");
    QVERIFY(ini.find("[Misc]\r\nFontSize=8\r\n") == 0);
    QVERIFY(ini.find("[Palvero]") != std::string::npos);
    h.make();
    QCOMPARE(h.window->geometry().size(), QSize(600, 400));
    QVERIFY(!h.window->followLastRead());

    // Without a settings file nothing is written: Apply creates it.
    Harness fresh({}, false);
    fresh.op.yesNoAnswers.push_back(true);
    QVERIFY(fresh.window->close());
    QVERIFY(!fs::exists(fresh.dir / "palvero.ini"));
}

void FieldTest::longStatusTextIsElided()
{
    Harness h;
    h.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
    const QString path = "/dev/serial/by-id/usb-Receiver_wM-Bus_868_Concentrator_0001-if00-port0 - 115200,8,None";
    h.table().notifyStatusText(0, path.toStdString());
    auto* panel = h.window->StatusPanel0;
    QCOMPARE(panel->text(), path);
    QCOMPARE(panel->width(), 180);
    auto* elided = qobject_cast<ElidedLabel*>(panel);
    QVERIFY(elided);
    QVERIFY(elided->isElided());
    QVERIFY(elided->shownText().endsWith(QChar(0x2026)));
    h.table().notifyStatusText(0, "ttyS9 is closed");
    QVERIFY(!elided->isElided());
}

QTEST_MAIN(FieldTest)
#include "field_test.moc"
