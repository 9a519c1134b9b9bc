// The Reports window over a db.mrv in a folder of its own: the report by days, long reports
// read in slices with progress and Cancel, export, "Delete All" and clearing; and the
// program's Tools commands that open the two database windows.

#include "measurement_file.h"
#include "meters_window.h"
#include "program.h"
#include "report_model.h"
#include "reports_window.h"
#include "scripted_operator.h"
#include "temp_dir.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QDateEdit>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QtTest>

#include <memory>

using namespace palvero;
using palvero::test::ScriptedOperator;
using palvero::test::TempDir;

namespace {

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}

class RecordingLog : public ErrorLogger {
public:
    void LogErrorCode(int code) override { lines << QString("code %1").arg(code); }
    void LogErrorText(const std::string& text) override { lines << q(text); }
    QStringList lines;
};

// A saved reading: "No." n, the meter ID, the stored date and every other field named after
// its number ("f5" in field 5).
std::string recordBytes(int n, const std::string& id, const std::string& storedDate)
{
    MeasurementRecord r;
    for (size_t k = 0; k < MeasurementRecord::kFieldCount; ++k)
        r.fields[k] = "f" + std::to_string(k);
    r.fields[0] = std::to_string(n);
    r.fields[1] = id;
    r.fields[MeasurementRecord::kDateField] = storedDate;
    const auto bytes = r.encode();
    return std::string(bytes.begin(), bytes.end());
}

struct Harness {
    Harness()
    {
        std::filesystem::create_directories(data);
        palvero::test::writeFile(db, "");
        window = std::make_unique<TForm2>(ReportsContext{settings, formats, op, log, ProgramPaths(dir.path() / "palvero")});
        tester = std::make_unique<QAbstractItemModelTester>(&window->model(),
                                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
    }

    // Records of meters "<day>00000<i>" for each of the stored dates.
    void writeRecords(const QStringList& storedDates)
    {
        std::string bytes;
        for (int i = 0; i < storedDates.size(); ++i)
            bytes += recordBytes(i + 1, "ID" + std::to_string(i + 1), storedDates[i].toStdString());
        palvero::test::writeFile(db, bytes);
    }
    void range(QDate from, QDate to)
    {
        window->Date_from->setDate(from);
        window->Date_to->setDate(to);
    }
    // Column 1 of every grid row, the empty last row included.
    QStringList ids() const
    {
        QStringList out;
        const QAbstractItemModel* m = window->Grid_reports->model();
        for (int r = 0; r < m->rowCount(); ++r)
            out << m->index(r, 1).data().toString();
        return out;
    }
    QStringList shown() const
    {
        QStringList texts;
        for (const auto& m : op.messages)
            texts << q(m.caption + ": " + m.text);
        return texts;
    }
    QAction* popup(const char* name) { return window->PopupMenu1->findChild<QAction*>(name); }

    TempDir dir;
    std::filesystem::path data = dir.path() / "files";
    std::filesystem::path db = data / "db.mrv";
    RecordingLog log;
    ScriptedOperator op;
    Settings settings;
    FixedFormats formats{DateTime{2026, 12, 6, 14, 3, 22}};
    std::unique_ptr<TForm2> window;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

} // namespace

class ReportsWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void namedControls();
    void report_data();
    void report();
    void damagedDates();
    void longReportRunsInSlices_data();
    void longReportRunsInSlices();
    void exportWritesEveryRowAndTheEmptyOne();
    void deleteAll_data();
    void deleteAll();
    void programOpensTheDatabaseWindows();
};

void ReportsWindowTest::namedControls()
{
    Harness h;
    TForm2& w = *h.window;
    QCOMPARE(w.windowTitle(), QString("Reports"));
    QVERIFY(w.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!w.isVisible());
    const QList<QPair<const char*, const char*>> captions = {
        {"Label1", "From"}, {"Label2", "to"},        {"BitBtn1", "Report"},
        {"BitBtn2", "Export"}, {"BitBtn3", "Delete All"}, {"Butt_cancel", "Cancel"},
        {"Clear1", "Clear"},   {"ExporttoCSV1", "Export to CSV"}};
    for (const auto& [name, caption] : captions) {
        QObject* control = w.findChild<QObject*>(name);
        QVERIFY2(control, name);
        QCOMPARE(control->property("text").toString(), QString(caption));
    }
    QVERIFY(w.BitBtn3->font().bold());
    QVERIFY(w.Date_from->calendarPopup());
    QCOMPARE(w.Date_from->date(), QDate(2026, 12, 6));
    QCOMPARE(w.Date_to->date(), QDate(2026, 12, 6));
    QVERIFY(w.Progress_report->isHidden());
    QVERIFY(w.Butt_cancel->isHidden());

    // Every title ends with a space; columns 13 and 14 hold the key and the free text.
    const QAbstractItemModel* m = w.Grid_reports->model();
    QStringList titles;
    for (int c = 0; c < m->columnCount(); ++c)
        titles << m->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(titles.join('|'), QString("No. |Meter ID |MFR |Auxiliary ID |Control fields |Medium |Main value |Units |"
                                       "RSSI |Time |Date |Notes |FW version |Encryption key |Free text/description |"
                                       "Other value #1 |Other value #2 |Other value #3 |Other value #4 |"
                                       "Other value #5 |Other value #6 |Other value #7 |Other value #8 |"
                                       "Other value #9 |Other value #10 "));
    QCOMPARE(m->rowCount(), 1); // the empty row
}

void ReportsWindowTest::report_data()
{
    QTest::addColumn<QDate>("from");
    QTest::addColumn<QDate>("to");
    QTest::addColumn<QString>("how");
    QTest::addColumn<QStringList>("ids");

    const QDate d5(2021, 3, 5), d6(2021, 3, 6), d7(2021, 3, 7);
    QTest::newRow("one day, button") << d6 << d6 << "button" << QStringList{"ID2", "ID4", ""};
    QTest::newRow("both end days, Enter") << d5 << d7 << "enter" << QStringList{"ID1", "ID2", "ID4", "ID5", ""};
    QTest::newRow("from after to") << d7 << d5 << "button" << QStringList{""};
}

void ReportsWindowTest::report()
{
    QFETCH(QDate, from);
    QFETCH(QDate, to);
    QFETCH(QString, how);
    QFETCH(QStringList, ids);

    Harness h;
    // Record 3 has no date (month 0) and is passed over.
    h.writeRecords({"2021-03-05", "2021-03-06", "2021-00-06", "2021-03-06", "2021-03-07"});
    h.range(from, to);
    QSignalSpy ended(h.window.get(), &TForm2::reportEnded);
    if (how == "button")
        h.window->BitBtn1->click();
    else
        QTest::keyClick(h.window->Date_to, Qt::Key_Return);
    QCOMPARE(ended.count(), 1);
    QVERIFY(!h.window->reportRunning());
    QCOMPARE(h.ids(), ids);
    if (ids.size() > 1)
        QCOMPARE(h.window->model().index(0, 10).data().toString(), from.toString("dd.MM.yyyy"));
    // A range that ends before it starts says so.
    if (from > to)
        QCOMPARE(h.shown(), QStringList{"Palvero: The date range ends before it starts: \"to\" " + h.window->Date_to->text()
                                        + " is before \"From\" " + h.window->Date_from->text()
                                        + ".\nChoose a \"to\" day on or after the \"From\" day."});
    else
        QVERIFY(h.op.messages.empty());
    h.op.messages.clear();
    QVERIFY(h.log.lines.isEmpty());

    // The next report replaces the rows; without the file there is no report and the rows stay.
    h.range(QDate(2021, 3, 7), QDate(2021, 3, 7));
    h.window->BitBtn1->click();
    QCOMPARE(h.ids(), QStringList({"ID5", ""}));
    std::filesystem::remove(h.db);
    h.window->BitBtn1->click();
    QCOMPARE(h.ids(), QStringList({"ID5", ""}));
    QVERIFY(h.op.messages.empty() && h.log.lines.isEmpty());
    QVERIFY(!std::filesystem::exists(h.db));
}

void ReportsWindowTest::damagedDates()
{
    Harness h;
    // A month of 0 is no date and is passed over; a month of 13 is reported with its record
    // number and passed over too, and the report goes on after it.
    h.writeRecords({"2021-03-05", "2021-00-05", "2021-03-06", "2021-13-05", "2021-03-07", "2021-02-30"});
    h.range(QDate(2021, 1, 1), QDate(2021, 12, 31));
    h.window->report();
    QCOMPARE(h.ids(), QStringList({"ID1", "ID3", "ID5", ""}));
    QCOMPARE(h.shown(), QStringList{"Palvero: Exception reading data, check log file"});
    QCOMPARE(h.log.lines.size(), 4);
    QCOMPARE(h.log.lines[0], QString("code 31"));
    QVERIFY(h.log.lines[1].contains("\"2021-13-05\" in record 4 of"));
    QVERIFY(h.log.lines[3].contains("\"2021-02-30\" in record 6 of"));

    // Past the first ten, the records passed over are counted in one line.
    QStringList dates;
    for (int i = 0; i < 14; ++i)
        dates << "2021-13-01";
    h.writeRecords(dates << "2021-03-05");
    h.log.lines.clear();
    h.window->report();
    QCOMPARE(h.ids(), QStringList({"ID15", ""}));
    QVERIFY(h.log.lines.at(21).startsWith("4 more records of db.mrv with an invalid date passed over"));
}

void ReportsWindowTest::longReportRunsInSlices_data()
{
    QTest::addColumn<QString>("end");
    QTest::newRow("to the end") << "finish";
    QTest::newRow("Cancel") << "cancel";
    QTest::newRow("Esc") << "escape";
    QTest::newRow("closing the window") << "close";
}

void ReportsWindowTest::longReportRunsInSlices()
{
    QFETCH(QString, end);

    Harness h;
    QStringList dates;
    for (int i = 0; i < 300; ++i)
        dates << (i % 3 == 0 ? "2026-12-05" : "2026-12-06");
    h.writeRecords(dates);
    h.window->setSlice(10, 0); // one read of ten records per turn of the event loop
    h.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
    QSignalSpy ended(h.window.get(), &TForm2::reportEnded);

    h.window->BitBtn1->click();
    QVERIFY(h.window->reportRunning());
    QVERIFY(h.window->Progress_report->isVisible());
    QVERIFY(h.window->Butt_cancel->isVisible());
    for (QWidget* w : std::initializer_list<QWidget*>{h.window->BitBtn1, h.window->BitBtn2, h.window->BitBtn3,
                                                      h.window->Date_from, h.window->Date_to})
        QVERIFY(!w->isEnabled());
    // The grid grows while the file is read; the window goes on answering.
    QTRY_VERIFY(h.window->model().reportRowCount() > 20);
    QVERIFY(h.window->Progress_report->value() > 0);
    h.window->BitBtn1->click(); // disabled: no second report
    QTest::keyClick(h.window.get(), Qt::Key_Return);

    if (end == "finish") {
        QTRY_VERIFY(!h.window->reportRunning());
        QCOMPARE(h.window->model().reportRowCount(), 200);
        QCOMPARE(h.ids().last(), QString());
    } else {
        if (end == "cancel")
            h.window->Butt_cancel->click();
        else if (end == "escape")
            QTest::keyClick(h.window.get(), Qt::Key_Escape);
        else
            h.window->close();
        QVERIFY(!h.window->reportRunning());
        const int kept = h.window->model().reportRowCount();
        QVERIFY(kept < 200);
        QCOMPARE(kept > 0, end != "close"); // closing clears the grid, cancelling keeps the rows
        QTest::qWait(50);
        QCOMPARE(h.window->model().reportRowCount(), kept);
        // Esc that stopped the report leaves the window; the next one closes it.
        if (end == "escape") {
            QVERIFY(h.window->isVisible());
            QTest::keyClick(h.window.get(), Qt::Key_Escape);
            QVERIFY(!h.window->isVisible());
        }
    }
    QCOMPARE(ended.count(), 1);
    QVERIFY(h.window->BitBtn1->isEnabled());
    QVERIFY(h.window->Progress_report->isHidden());
    QVERIFY(h.window->Butt_cancel->isHidden());
    QVERIFY(h.op.messages.empty());
}

void ReportsWindowTest::exportWritesEveryRowAndTheEmptyOne()
{
    Harness h;
    h.writeRecords({"2026-12-06", "2026-12-05", "2026-12-06"});
    h.window->report();
    h.op.fileAnswers = {std::string("button.csv"), std::string("popup.csv")};
    h.window->BitBtn2->click();
    h.popup("ExporttoCSV1")->trigger();

    QCOMPARE(h.op.dialogs.size(), size_t(2));
    QCOMPARE(q(h.op.dialogs[1].fileName), QString("meterData_export.csv"));
    QCOMPARE(q(h.op.dialogs[1].title), QString("Export report to CSV"));
    for (const char* name : {"button.csv", "popup.csv"}) {
        const QStringList lines = q(palvero::test::readFile(h.data / name)).split("\r\n");
        QCOMPARE(lines.size(), 4); // two rows, the empty row, and nothing after the last break
        QCOMPARE(lines[0], QString("1;ID1;f2;f3;f4;f5;f6;f7;f8;f9;06.12.2026;f11;f12;f13;f14;f15;f16;f17;f18;f19;f20;"
                                   "f21;f22;f23;f24;"));
        QVERIFY(lines[1].startsWith("3;ID3;"));
        QCOMPARE(lines[2], QString(25, ';'));
    }
    h.popup("Clear1")->trigger();
    QCOMPARE(h.ids(), QStringList{""});
}

void ReportsWindowTest::deleteAll_data()
{
    QTest::addColumn<bool>("withFile");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<int>("records");
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<QStringList>("log");

    QTest::newRow("No changes nothing") << true << false << 2 << QStringList{"ID1", "ID2", ""} << QStringList();
    QTest::newRow("Yes empties the file") << true << true << 0 << QStringList{""} << QStringList();
    QTest::newRow("missing file") << false << true << -1 << QStringList{"ID1", "ID2", ""} << QStringList{"code 33"};
}

void ReportsWindowTest::deleteAll()
{
    QFETCH(bool, withFile);
    QFETCH(bool, answer);
    QFETCH(int, records);
    QFETCH(QStringList, ids);
    QFETCH(QStringList, log);

    Harness h;
    h.writeRecords({"2026-12-06", "2026-12-06"});
    h.window->report();
    if (!withFile)
        std::filesystem::remove(h.db);
    h.op.yesNoAnswers.push_back(answer);
    h.window->BitBtn3->click();
    QCOMPARE(h.shown(), QStringList{"Delete Confirmation: Are you sure you want to delete ALL savings?"});
    QCOMPARE(h.op.messages[0].icon, MessageIcon::Warning);
    QCOMPARE(h.ids(), ids);
    QCOMPARE(h.log.lines, log);
    if (records < 0)
        QVERIFY(!std::filesystem::exists(h.db));
    else
        QCOMPARE(std::filesystem::file_size(h.db), std::uintmax_t(records) * 1056);
}

void ReportsWindowTest::programOpensTheDatabaseWindows()
{
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "files");
    palvero::test::writeFile(dir.path() / "files" / "meters.mrv", "");
    Program program(dir.path() / "palvero");
    TForm1& main = program.mainWindow();
    QVERIFY(!program.reportsWindow().isVisible());
    QVERIFY(!program.metersWindow().isVisible());

    main.findChild<QAction*>("Reports1")->trigger();
    QVERIFY(program.reportsWindow().isVisible());

    program.metersWindow().Edit_id->setText("123");
    main.findChild<QAction*>("SavedMeters1")->trigger();
    QVERIFY(program.metersWindow().isVisible());
    QCOMPARE(program.metersWindow().Edit_id->text(), QString());
    program.reportsWindow().close();
    program.metersWindow().close();
}

QTEST_MAIN(ReportsWindowTest)
#include "reports_window_test.moc"
