// The meters and keys window over a meters.mrv in a folder of its own: the grid, the edit
// fields, "New / Update", the deletes, import and export, with every box through a scripted
// operator.

#include "meters_window.h"
#include "scripted_operator.h"
#include "temp_dir.h"
#include "text_grid_model.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

#include <memory>

using namespace palvero;
using palvero::test::ScriptedOperator;
using palvero::test::TempDir;

namespace {

const char kKeyA[] = "00112233445566778899AABBCCDDEEFF";
const char kKeyB[] = "ffeeddccbbaa99887766554433221100";

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

struct Harness {
    // `ids` with keys "K1", "K2", ... in meters.mrv; no file at all when `withFile` is off.
    explicit Harness(const QStringList& ids = {}, bool withFile = true)
    {
        std::filesystem::create_directories(data);
        if (withFile)
            writeMeters(ids);
        window = std::make_unique<TMetersView>(
            MetersViewContext{meters, settings, op, log, ProgramPaths(dir.path() / "palvero")});
        tester = std::make_unique<QAbstractItemModelTester>(const_cast<TextGridModel*>(&window->model()),
                                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
    }

    void writeMeters(const QStringList& ids)
    {
        std::string bytes;
        for (int i = 0; i < ids.size(); ++i) {
            const auto r = MeterKeyRecord{ids[i].toStdString(), "K" + std::to_string(i + 1)}.encode();
            bytes.append(r.begin(), r.end());
        }
        palvero::test::writeFile(data / "meters.mrv", bytes);
    }

    // The grid as "No.|Serial No.|AES-128 key" per row.
    QStringList grid() const
    {
        QStringList rows;
        const TextGrid& g = window->model().grid();
        for (int r = 1; r < g.rowCount(); ++r)
            rows << q(g.cell(r, 0) + "|" + g.cell(r, 1) + "|" + g.cell(r, 2));
        return rows;
    }
    // The file as "ID|key" per record.
    QStringList file()
    {
        QStringList records;
        for (const MeterKeyRecord& r : meters.ReadAll())
            records << q(r.id + "|" + r.key);
        return records;
    }
    QStringList shown() const
    {
        QStringList texts;
        for (const auto& m : op.messages)
            texts << q(m.caption + ": " + m.text);
        return texts;
    }
    QStringList edits() const { return {window->Edit_id->text(), window->Edit_aes->text()}; }
    void select(int gridRow) { window->Grid_meters->setCurrentIndex(window->model().index(gridRow - 1, 1)); }
    QAction* popup(const char* name) { return window->PopupMenu1->findChild<QAction*>(name); }

    TempDir dir;
    std::filesystem::path data = dir.path() / "files";
    RecordingLog log;
    ScriptedOperator op;
    Settings settings;
    MetersFile meters{data, log};
    std::unique_ptr<TMetersView> window;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

} // namespace

class MetersWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void namedControls_data();
    void namedControls();
    void loadingTheGrid_data();
    void loadingTheGrid();
    void openClearsTheEditsAndShowsTheFile();
    void selectingARowShowsItsMeter();
    void typedCharactersAreFiltered();
    void newOrUpdate_data();
    void newOrUpdate();
    void deleting_data();
    void deleting();
    void deleteAllButton_data();
    void deleteAllButton();
    void deleteAllPopupDeletesTheListedMeters();
    void import_data();
    void import();
    void importOfAnUnreadableFile();
    void exportWritesTheGrid_data();
    void exportWritesTheGrid();
};

void MetersWindowTest::namedControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("bold");

    QTest::newRow("BitBtn1") << "BitBtn1" << "New / Update" << false;
    QTest::newRow("BitBtn2") << "BitBtn2" << "Delete" << false;
    QTest::newRow("BitBtn3") << "BitBtn3" << "Export" << false;
    QTest::newRow("BitBtn4") << "BitBtn4" << "Import" << false;
    QTest::newRow("BitBtn5") << "BitBtn5" << "Delete All" << true;
    QTest::newRow("Label1") << "Label1" << "Meter ID" << false;
    QTest::newRow("Label2") << "Label2" << "AES-128 encryption key" << false;
    QTest::newRow("Edit_id") << "Edit_id" << "" << true;
    QTest::newRow("Edit_aes") << "Edit_aes" << "" << true;
    QTest::newRow("Import1") << "Import1" << "Import" << false;
    QTest::newRow("Export1") << "Export1" << "Export" << false;
    QTest::newRow("Delete1") << "Delete1" << "Delete" << false;
    QTest::newRow("Deleteall1") << "Deleteall1" << "Delete all" << false;
    QTest::newRow("Refresh1") << "Refresh1" << "Refresh" << false;
}

void MetersWindowTest::namedControls()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(bool, bold);

    Harness h;
    QCOMPARE(h.window->windowTitle(), QString("Meters and Keys database"));
    QVERIFY(h.window->windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!h.window->isVisible());
    QObject* control = h.window->findChild<QObject*>(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(control->property("text").toString(), caption);
    if (auto* w = qobject_cast<QWidget*>(control))
        QCOMPARE(w->font().bold(), bold);

    QCOMPARE(h.window->Edit_id->maxLength(), 8);
    QCOMPARE(h.window->Edit_aes->maxLength(), 32);
    QCOMPARE(h.window->selectedRow(), -1);
    const QAbstractItemModel* m = h.window->Grid_meters->model();
    QCOMPARE(m->columnCount(), 3);
    QCOMPARE(m->headerData(0, Qt::Horizontal).toString(), QString("No. "));
    QCOMPARE(m->headerData(1, Qt::Horizontal).toString(), QString("Serial No. "));
    QCOMPARE(m->headerData(2, Qt::Horizontal).toString(), QString("AES-128 key "));
    QCOMPARE(h.window->Grid_meters->selectionBehavior(), QAbstractItemView::SelectRows);
}

void MetersWindowTest::loadingTheGrid_data()
{
    QTest::addColumn<bool>("withFile");
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<QStringList>("grid");
    QTest::addColumn<QStringList>("log");

    QTest::newRow("empty file") << true << QStringList() << QStringList{"||"} << QStringList();
    QTest::newRow("three meters") << true << QStringList{"11111111", "22222222", "33333333"}
                                  << QStringList{"1|11111111|K1", "2|22222222|K2", "3|33333333|K3"} << QStringList();
    // The grid keeps what it showed.
    QTest::newRow("missing file") << false << QStringList() << QStringList{"1|old|K"} << QStringList{"code 51"};
}

void MetersWindowTest::loadingTheGrid()
{
    QFETCH(bool, withFile);
    QFETCH(QStringList, ids);
    QFETCH(QStringList, grid);
    QFETCH(QStringList, log);

    Harness h({"old"});
    h.window->LoadMetersGrid();
    const_cast<TextGridModel&>(h.window->model()).setCell(1, 2, "K");
    if (withFile)
        h.writeMeters(ids);
    else
        std::filesystem::remove(h.data / "meters.mrv");
    h.popup("Refresh1")->trigger();
    QCOMPARE(h.grid(), grid);
    QCOMPARE(h.log.lines, log);
}

void MetersWindowTest::openClearsTheEditsAndShowsTheFile()
{
    Harness h({"11111111"});
    h.window->Edit_id->setText("123");
    h.window->Edit_aes->setText("AB");
    h.window->open();
    QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
    QCOMPARE(h.edits(), QStringList({"", ""}));
    QCOMPARE(h.grid(), QStringList{"1|11111111|K1"});

    // Changes made elsewhere show on the next activation.
    h.writeMeters({"11111111", "22222222"});
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(h.window.get(), &activate);
    QCOMPARE(h.grid(), QStringList({"1|11111111|K1", "2|22222222|K2"}));
    h.window->close();
    QVERIFY(!h.window->isVisible());
}

void MetersWindowTest::selectingARowShowsItsMeter()
{
    Harness h({"11111111", "22222222"});
    h.window->LoadMetersGrid();
    h.select(2);
    QCOMPARE(h.window->selectedRow(), 2);
    QCOMPARE(h.edits(), QStringList({"22222222", "K2"}));
}

void MetersWindowTest::typedCharactersAreFiltered()
{
    Harness h;
    QTest::keyClicks(h.window->Edit_id, "12a-3 45678901");
    QCOMPARE(h.window->Edit_id->text(), QString("12345678"));
    QTest::keyClick(h.window->Edit_id, Qt::Key_Backspace);
    QCOMPARE(h.window->Edit_id->text(), QString("1234567"));
    QTest::keyClicks(h.window->Edit_aes, "0fG z1Aa9x");
    QCOMPARE(h.window->Edit_aes->text(), QString("0f1Aa9"));
    QTest::keyClicks(h.window->Edit_aes, QString(40, 'F'));
    QCOMPARE(h.window->Edit_aes->text().size(), 32);
}

void MetersWindowTest::newOrUpdate_data()
{
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<int>("select");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("file");
    QTest::addColumn<QStringList>("grid");
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<int>("selected");

    QTest::newRow("empty ID does nothing") << QStringList{"11111111"} << 0 << "" << kKeyA
                                           << QStringList{"11111111|K1"} << QStringList{"1|11111111|K1"}
                                           << QStringList{"", kKeyA} << -1;
    // A new meter reloads the list and row 1 becomes the selected row.
    QTest::newRow("123 is saved as 00000123") << QStringList{"11111111"} << 0 << "123" << kKeyA
                                              << QStringList{"11111111|K1", QString("00000123|") + kKeyA}
                                              << QStringList{"1|11111111|K1", QString("2|00000123|") + kKeyA}
                                              << QStringList{"11111111", "K1"} << 1;
    QTest::newRow("new meter in an empty file") << QStringList() << 0 << "7" << "" << QStringList{"00000007|"}
                                                << QStringList{"1|00000007|"} << QStringList{"00000007", ""} << 1;
    QTest::newRow("update of the selected meter")
        << QStringList{"11111111", "22222222"} << 2 << "22222222" << kKeyB
        << QStringList{"11111111|K1", QString("22222222|") + kKeyB}
        << QStringList{"1|11111111|K1", QString("2|22222222|") + kKeyB} << QStringList{"22222222", kKeyB} << 2;
    // Another stored meter than the selected one: the list shows the file, the selected row
    // keeps its own meter.
    QTest::newRow("update of another meter")
        << QStringList{"11111111", "22222222"} << 2 << "11111111" << kKeyB
        << QStringList{QString("11111111|") + kKeyB, "22222222|K2"}
        << QStringList{QString("1|11111111|") + kKeyB, "2|22222222|K2"} << QStringList{"11111111", kKeyB} << 2;
}

void MetersWindowTest::newOrUpdate()
{
    QFETCH(QStringList, ids);
    QFETCH(int, select);
    QFETCH(QString, id);
    QFETCH(QString, key);
    QFETCH(QStringList, file);
    QFETCH(QStringList, grid);
    QFETCH(QStringList, edits);
    QFETCH(int, selected);

    Harness h(ids);
    h.window->LoadMetersGrid();
    if (select > 0)
        h.select(select);
    h.window->Edit_id->setText(id);
    h.window->Edit_aes->setText(key);
    h.window->BitBtn1->click();
    QCOMPARE(h.file(), file);
    QCOMPARE(h.grid(), grid);
    QCOMPARE(h.edits(), edits);
    QCOMPARE(h.window->selectedRow(), selected);
    QVERIFY(h.op.messages.empty());
}

void MetersWindowTest::deleting_data()
{
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<int>("select");
    QTest::addColumn<QString>("how");
    QTest::addColumn<QStringList>("file");
    QTest::addColumn<QStringList>("grid");
    QTest::addColumn<QStringList>("edits");

    QTest::newRow("the only row") << QStringList{"11111111"} << 1 << "button" << QStringList() << QStringList{"||"}
                                  << QStringList{"", ""};
    QTest::newRow("a middle row") << QStringList{"11111111", "22222222", "33333333"} << 2 << "button"
                                  << QStringList{"11111111|K1", "33333333|K3"}
                                  << QStringList{"1|11111111|K1", "2|33333333|K3"} << QStringList{"33333333", "K3"};
    QTest::newRow("the last row") << QStringList{"11111111", "22222222", "33333333"} << 3 << "popup"
                                  << QStringList{"11111111|K1", "22222222|K2"}
                                  << QStringList{"1|11111111|K1", "2|22222222|K2"} << QStringList{"", ""};
    QTest::newRow("Delete key") << QStringList{"11111111", "22222222"} << 1 << "key" << QStringList{"22222222|K2"}
                                << QStringList{"1|22222222|K2"} << QStringList{"22222222", "K2"};
    QTest::newRow("nothing selected") << QStringList{"11111111"} << 0 << "button" << QStringList{"11111111|K1"}
                                      << QStringList{"1|11111111|K1"} << QStringList{"", ""};
}

void MetersWindowTest::deleting()
{
    QFETCH(QStringList, ids);
    QFETCH(int, select);
    QFETCH(QString, how);
    QFETCH(QStringList, file);
    QFETCH(QStringList, grid);
    QFETCH(QStringList, edits);

    Harness h(ids);
    h.window->LoadMetersGrid();
    if (select > 0)
        h.select(select);
    if (how == "button")
        h.window->BitBtn2->click();
    else if (how == "popup")
        h.popup("Delete1")->trigger();
    else
        QTest::keyRelease(h.window->Grid_meters, Qt::Key_Delete);
    QCOMPARE(h.file(), file);
    QCOMPARE(h.grid(), grid);
    QCOMPARE(h.edits(), edits);
    QVERIFY(h.op.messages.empty());
}

void MetersWindowTest::deleteAllButton_data()
{
    QTest::addColumn<bool>("withFile");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QStringList>("file");
    QTest::addColumn<QStringList>("grid");
    QTest::addColumn<QStringList>("log");

    QTest::newRow("No changes nothing") << true << false << QStringList{"11111111|K1", "22222222|K2"}
                                        << QStringList{"1|11111111|K1", "2|22222222|K2"} << QStringList();
    QTest::newRow("Yes empties the file") << true << true << QStringList() << QStringList{"||"} << QStringList();
    QTest::newRow("missing file") << false << true << QStringList() << QStringList{"1|11111111|K1", "2|22222222|K2"}
                                  << QStringList{"code 63"};
}

void MetersWindowTest::deleteAllButton()
{
    QFETCH(bool, withFile);
    QFETCH(bool, answer);
    QFETCH(QStringList, file);
    QFETCH(QStringList, grid);
    QFETCH(QStringList, log);

    Harness h({"11111111", "22222222"});
    h.window->LoadMetersGrid();
    if (!withFile)
        std::filesystem::remove(h.data / "meters.mrv");
    h.op.yesNoAnswers.push_back(answer);
    h.window->BitBtn5->click();
    QCOMPARE(h.shown(), QStringList{"Delete Confirmation: Are you sure you want to delete ALL meters?"});
    QCOMPARE(h.op.messages[0].icon, MessageIcon::Warning);
    QCOMPARE(h.file(), file);
    QCOMPARE(h.grid(), grid);
    QCOMPARE(h.log.lines, log);
    QCOMPARE(std::filesystem::exists(h.data / "meters.mrv"), withFile);
}

void MetersWindowTest::deleteAllPopupDeletesTheListedMeters()
{
    Harness h({"11111111", "22222222"});
    h.window->LoadMetersGrid();
    h.select(1);
    // A meter saved after the list was loaded is not listed and stays.
    h.meters.SaveMeter("33333333", "K3");
    h.popup("Deleteall1")->trigger(); // answered No
    QCOMPARE(h.shown(), QStringList{"Delete Confirmation: Are you sure you want to delete ALL meters?"});
    QCOMPARE(h.file(), QStringList({"11111111|K1", "22222222|K2", "33333333|K3"}));
    QCOMPARE(h.grid(), QStringList({"1|11111111|K1", "2|22222222|K2"}));

    h.op.yesNoAnswers = {true, true};
    h.popup("Deleteall1")->trigger();
    QCOMPARE(h.file(), QStringList{"33333333|K3"});
    QCOMPARE(h.grid(), QStringList{"1|33333333|K3"});

    h.popup("Deleteall1")->trigger();
    QCOMPARE(h.file(), QStringList());
    QCOMPARE(h.grid(), QStringList{"||"});
    QCOMPARE(h.edits(), QStringList({"", ""}));
}

void MetersWindowTest::import_data()
{
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("file");
    QTest::addColumn<QStringList>("shown");

    const QString key = kKeyA;
    QTest::newRow("closing separator keeps the key")
        << ";" << QString("11111111;%1;\r\n22222222;%1\r\n").arg(key) << true
        << QStringList{"00000001|K1", "11111111|" + key, "22222222|"} << QStringList();
    QTest::newRow("a stored meter is updated")
        << ";" << QString("00000001;%1;\n").arg(key) << true << QStringList{"00000001|" + key} << QStringList();
    QTest::newRow("other separator, blank line, cut to capacity")
        << "," << QString("123456789,%1FF,\n\n33333333,,extra,\n").arg(key) << true
        << QStringList{"00000001|K1", "12345678|" + key, "33333333|"} << QStringList();
    QTest::newRow("19 separators") << ";" << "44444444;" + key + QString(";").repeated(18) + "\r\n" << true
                                   << QStringList{"00000001|K1", "44444444|" + key} << QStringList();
    // The 20th separator ends the import; the lines before it stay saved.
    QTest::newRow("20 separators")
        << ";" << "55555555;" + key + ";\r\n66666666;" + key + QString(";").repeated(19) + "\r\n77777777;;\r\n"
        << false << QStringList{"00000001|K1", "55555555|" + key}
        << QStringList{"Palvero: You are trying to import too many data!!!\nCorrect csv file and try again!",
                       "Palvero: Not succesfull import!"};
    QTest::newRow("empty file") << ";" << "" << false << QStringList{"00000001|K1"}
                                << QStringList{"Palvero: Not succesfull import!"};
}

void MetersWindowTest::import()
{
    QFETCH(QString, separator);
    QFETCH(QString, text);
    QFETCH(bool, result);
    QFETCH(QStringList, file);
    QFETCH(QStringList, shown);

    Harness h({"00000001"});
    h.settings.ExportSeparator = separator.toStdString();
    h.window->LoadMetersGrid();
    const auto csv = h.dir.path() / "in.csv";
    palvero::test::writeFile(csv, text.toStdString());
    h.op.fileAnswers.push_back(csv.string());
    h.window->BitBtn4->click();

    QCOMPARE(h.op.dialogs.size(), size_t(1));
    QCOMPARE(q(h.op.dialogs[0].title), QString("Import meters and keys"));
    QCOMPARE(q(h.op.dialogs[0].filter), QString("CSV|*.csv|TXT|*.txt"));
    QCOMPARE(q(h.op.dialogs[0].defaultExtension), QString("csv"));
    QCOMPARE(h.file(), file);
    QCOMPARE(h.shown(), shown);
    // The grid always ends showing the file.
    QStringList grid;
    for (int i = 0; i < file.size(); ++i)
        grid << QString::number(i + 1) + "|" + file[i];
    QCOMPARE(h.grid(), grid);
    QCOMPARE(h.window->ImportMetersCsv(csv.string()), result);
}

void MetersWindowTest::importOfAnUnreadableFile()
{
    Harness h;
    h.op.fileAnswers.push_back((h.dir.path() / "no such file.csv").string());
    h.popup("Import1")->trigger();
    QCOMPARE(h.shown(), QStringList({"File Error: You chose wrong file for import!\nContact administrator!",
                                     "Palvero: Not succesfull import!"}));
    QCOMPARE(h.op.messages[0].icon, MessageIcon::Warning);
    QCOMPARE(h.log.lines.size(), 2);
    QCOMPARE(h.log.lines[0], QString("code 11"));

    // Saving into a missing meters.mrv ends the import at the first meter.
    std::filesystem::remove(h.data / "meters.mrv");
    h.op.messages.clear();
    h.log.lines.clear();
    const auto csv = h.dir.path() / "in.csv";
    palvero::test::writeFile(csv, "11111111;;\r\n22222222;;\r\n");
    QVERIFY(!h.window->ImportMetersCsv(csv.string()));
    QCOMPARE(h.shown(), QStringList({"Palvero: Meter 11111111 is not saved!",
                                     "Error import: Errors during import!\nPlease, correct..."}));
    QCOMPARE(h.log.lines, QStringList({"code 63", "code 61", "code 51"}));
}

void MetersWindowTest::exportWritesTheGrid_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("button") << "button";
    QTest::newRow("popup") << "popup";
}

void MetersWindowTest::exportWritesTheGrid()
{
    QFETCH(QString, how);

    Harness h({"11111111", "22222222"});
    h.settings.ExportSeparator = "|";
    h.window->LoadMetersGrid();
    h.op.fileAnswers.push_back(std::string("out.csv"));
    if (how == "button")
        h.window->BitBtn3->click();
    else
        h.popup("Export1")->trigger();
    QCOMPARE(h.op.dialogs.size(), size_t(1));
    QCOMPARE(q(h.op.dialogs[0].fileName), QString("meters.csv"));
    QCOMPARE(q(palvero::test::readFile(h.data / "out.csv")), QString("1|11111111|K1|\r\n2|22222222|K2|\r\n"));
}

QTEST_MAIN(MetersWindowTest)
#include "meters_window_test.moc"
