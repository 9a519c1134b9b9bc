// The meters and keys window over a meters.mrv in a folder of its own: the grid, the edit
// fields, "New / Update", the deletes, import and export, every box through a scripted operator.

#include "import_progress.h"
#include "meters_csv.h"
#include "meters_window.h"
#include "safe_file.h"
#include "scripted_operator.h"
#include "temp_dir.h"
#include "text_grid_model.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QLabel>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

#include <cerrno>

#include <memory>

using namespace palvero;

namespace {

const QString kKey = "00112233445566778899AABBCCDDEEFF";

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
    // meters.mrv with `ids`, keyed "K1", "K2", ...; the grid loaded from it.
    explicit Harness(const QStringList& ids = {})
    {
        std::filesystem::create_directories(data);
        writeMeters(ids);
        window = std::make_unique<TMetersView>(
            MetersViewContext{meters, settings, op, log, ProgramPaths(dir.path() / "palvero")});
        tester = std::make_unique<QAbstractItemModelTester>(const_cast<TextGridModel*>(&window->model()),
                                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
        window->LoadMetersGrid();
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
    // "No.|Serial No.|AES-128 key" per grid row, and "ID|key" per record of the file.
    QStringList grid() const
    {
        QStringList rows;
        const TextGrid& g = window->model().grid();
        for (int r = 1; r < g.rowCount(); ++r)
            rows << q(g.cell(r, 0) + "|" + g.cell(r, 1) + "|" + g.cell(r, 2));
        return rows;
    }
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

    palvero::test::TempDir dir;
    std::filesystem::path data = dir.path() / "files";
    RecordingLog log;
    palvero::test::ScriptedOperator op;
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
    void controlsAndLoading();
    void typedCharactersAreFiltered();
    void onlyWholeKeysAreStored_data();
    void onlyWholeKeysAreStored();
    void newOrUpdate_data();
    void newOrUpdate();
    void deleting_data();
    void deleting();
    void deleteAll_data();
    void deleteAll();
    void deleteAllOnAFullDiskKeepsEveryMeter();
    void import_data();
    void import();
    void importFailures();
    void exportWritesTheGrid();
    void selectionFollowsTheGridAndEscCloses();
    void longReadingShowsProgressWithCancel();
};

void MetersWindowTest::controlsAndLoading()
{
    Harness h({"11111111"});
    QCOMPARE(h.window->windowTitle(), QString("Meters and Keys database"));
    QVERIFY(h.window->windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(h.window->selectedRow(), -1);
    for (const auto& [name, caption] : {std::pair{"BitBtn1", "New / Update"}, {"BitBtn2", "Delete"},
                                        {"BitBtn3", "Export"}, {"BitBtn4", "Import"}, {"BitBtn5", "Delete All"},
                                        {"Label1", "Meter ID"}, {"Label2", "AES-128 encryption key"},
                                        {"Import1", "Import"}, {"Export1", "Export"}, {"Delete1", "Delete"},
                                        {"Deleteall1", "Delete all"}, {"Refresh1", "Refresh"}}) {
        QObject* control = h.window->findChild<QObject*>(name);
        QVERIFY2(control, name);
        QCOMPARE(control->property("text").toString(), QString(caption));
    }
    QVERIFY(h.window->BitBtn5->font().bold() && h.window->Edit_id->font().bold() && h.window->Edit_aes->font().bold());
    const QAbstractItemModel* m = h.window->Grid_meters->model();
    QCOMPARE(m->headerData(0, Qt::Horizontal).toString() + m->headerData(1, Qt::Horizontal).toString()
                 + m->headerData(2, Qt::Horizontal).toString(),
             QString("No. Serial No. AES-128 key "));
    QCOMPARE(h.grid(), QStringList{"1|11111111|K1"});

    // Shown with empty edit fields; the grid follows the file at every activation or Refresh.
    h.window->Edit_id->setText("123");
    h.window->open();
    QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
    QCOMPARE(h.edits(), QStringList({"", ""}));
    h.writeMeters({});
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(h.window.get(), &activate);
    QCOMPARE(h.grid(), QStringList{"||"});
    h.writeMeters({"22222222"});
    h.popup("Refresh1")->trigger();
    QCOMPARE(h.grid(), QStringList{"1|22222222|K1"});
    // Without the file the grid keeps what it shows.
    std::filesystem::remove(h.data / "meters.mrv");
    h.popup("Refresh1")->trigger();
    QCOMPARE(h.grid(), QStringList{"1|22222222|K1"});
    QCOMPARE(h.log.lines, QStringList{"code 51"});
    h.window->close();
    QVERIFY(!h.window->isVisible());
}

void MetersWindowTest::typedCharactersAreFiltered()
{
    Harness h;
    QTest::keyClicks(h.window->Edit_id, "12a-3 45678901");
    QCOMPARE(h.window->Edit_id->text(), QString("12345678"));
    QTest::keyClicks(h.window->Edit_aes, "0fG z1Aa9x" + QString(40, 'F'));
    QCOMPARE(h.window->Edit_aes->text(), "0f1Aa9" + QString(26, 'F'));
}

void MetersWindowTest::newOrUpdate_data()
{
    QTest::addColumn<int>("select");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QStringList>("file");
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<int>("selected");

    QTest::newRow("empty ID does nothing") << 0 << "" << QStringList{"11111111|K1", "22222222|K2"}
                                           << QStringList{"", kKey} << -1;
    // A new meter reloads the list and row 1 becomes the selected row.
    // The selection stays on the meter the fields show.
    QTest::newRow("123 is saved as 00000123") << 0 << "123"
                                              << QStringList{"11111111|K1", "22222222|K2", "00000123|" + kKey}
                                              << QStringList{"00000123", kKey} << 3;
    QTest::newRow("update of the selected meter") << 2 << "22222222" << QStringList{"11111111|K1", "22222222|" + kKey}
                                                  << QStringList{"22222222", kKey} << 2;
    // Another meter than the selected one: each row keeps its own meter, the selection moves to it.
    QTest::newRow("update of another meter") << 2 << "11111111" << QStringList{"11111111|" + kKey, "22222222|K2"}
                                             << QStringList{"11111111", kKey} << 1;
}

void MetersWindowTest::newOrUpdate()
{
    QFETCH(int, select);
    QFETCH(QString, id);
    QFETCH(QStringList, file);
    QFETCH(QStringList, edits);
    QFETCH(int, selected);

    Harness h({"11111111", "22222222"});
    if (select > 0) {
        h.select(select);
        QCOMPARE(h.edits(), QStringList({"22222222", "K2"}));
    }
    h.window->Edit_id->setText(id);
    h.window->Edit_aes->setText(kKey);
    h.window->BitBtn1->click();
    QCOMPARE(h.file(), file);
    QStringList grid;
    for (int i = 0; i < file.size(); ++i)
        grid << QString::number(i + 1) + "|" + file[i];
    QCOMPARE(h.grid(), grid);
    QCOMPARE(h.edits(), edits);
    QCOMPARE(h.window->selectedRow(), selected);
    QCOMPARE(h.window->Grid_meters->currentIndex().row(), std::max(selected - 1, -1));
}

void MetersWindowTest::deleting_data()
{
    QTest::addColumn<int>("meters");
    QTest::addColumn<int>("select");
    QTest::addColumn<QString>("how");
    QTest::addColumn<QStringList>("grid");
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<QString>("asked");

    const QString ask = "Delete Confirmation: Are you sure you want to delete meter %1?";
    QTest::newRow("the only row") << 1 << 1 << "button" << QStringList{"||"} << QStringList{"", ""}
                                  << ask.arg("11111111");
    QTest::newRow("a middle row") << 3 << 2 << "button" << QStringList{"1|11111111|K1", "2|33333333|K3"}
                                  << QStringList{"33333333", "K3"} << ask.arg("22222222");
    QTest::newRow("the last row, popup") << 3 << 3 << "popup" << QStringList{"1|11111111|K1", "2|22222222|K2"}
                                         << QStringList{"", ""} << ask.arg("33333333");
    QTest::newRow("Delete key") << 2 << 1 << "key" << QStringList{"1|22222222|K2"} << QStringList{"22222222", "K2"}
                                << ask.arg("11111111");
    QTest::newRow("held Delete key asks once") << 2 << 1 << "held" << QStringList{"1|22222222|K2"}
                                               << QStringList{"22222222", "K2"} << ask.arg("11111111");
    QTest::newRow("answered No") << 2 << 1 << "no" << QStringList{"1|11111111|K1", "2|22222222|K2"}
                                 << QStringList{"11111111", "K1"} << ask.arg("11111111");
    // The fields name another meter than the selected row: nothing is deleted.
    QTest::newRow("fields show another meter") << 2 << 1 << "typed" << QStringList{"1|11111111|K1", "2|22222222|K2"}
                                               << QStringList{"22222222", "K1"} << "";
    QTest::newRow("nothing selected") << 1 << 0 << "button" << QStringList{"1|11111111|K1"} << QStringList{"", ""}
                                      << "";
}

void MetersWindowTest::deleting()
{
    QFETCH(int, meters);
    QFETCH(int, select);
    QFETCH(QString, how);
    QFETCH(QStringList, grid);
    QFETCH(QStringList, edits);
    QFETCH(QString, asked);

    Harness h(QStringList({"11111111", "22222222", "33333333"}).mid(0, meters));
    if (select > 0)
        h.select(select);
    h.op.yesNoAnswers = {how != "no", true};
    if (how == "typed")
        h.window->Edit_id->setText("22222222");
    if (how == "popup") {
        h.popup("Delete1")->trigger();
    } else if (how == "key") {
        QTest::keyRelease(h.window->Grid_meters, Qt::Key_Delete);
    } else if (how == "held") {
        for (bool repeated : {false, true, true}) {
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_Delete, Qt::NoModifier, QString(), repeated);
            QApplication::sendEvent(h.window->Grid_meters, &release);
        }
    } else {
        h.window->BitBtn2->click();
    }
    QCOMPARE(h.grid(), grid);
    QStringList file; // the file holds what the grid lists, with the keys as first stored
    for (const QString& row : grid)
        if (row != "||")
            file << row.section('|', 1);
    QCOMPARE(h.file(), file);
    QCOMPARE(h.edits(), edits);
    QCOMPARE(h.shown(), asked.isEmpty() ? QStringList() : QStringList{asked});
    // Whatever is selected now is what the fields show, unless the operator typed over them.
    if (h.window->selectedRow() > 0 && how != "typed")
        QCOMPARE(q(h.window->model().cell(h.window->selectedRow(), 1)), h.edits()[0]);
}

void MetersWindowTest::deleteAll_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("withFile");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QStringList>("grid");
    QTest::addColumn<QStringList>("log");

    const QStringList listed = {"1|11111111|K1", "2|22222222|K2"};
    for (const char* how : {"button", "popup"}) {
        QTest::addRow("%s, No changes nothing", how) << how << true << false << listed << QStringList();
        QTest::addRow("%s, Yes", how) << how << true << true << QStringList{"||"} << QStringList();
    }
    QTest::newRow("button, missing file") << "button" << false << true << listed << QStringList{"code 63"};
}

void MetersWindowTest::deleteAll()
{
    QFETCH(QString, how);
    QFETCH(bool, withFile);
    QFETCH(bool, answer);
    QFETCH(QStringList, grid);
    QFETCH(QStringList, log);

    Harness h({"11111111", "22222222"});
    h.select(1);
    if (!withFile)
        std::filesystem::remove(h.data / "meters.mrv");
    h.op.yesNoAnswers.push_back(answer);
    if (how == "button")
        h.window->BitBtn5->click();
    else
        h.popup("Deleteall1")->trigger();
    QCOMPARE(h.shown(), QStringList{"Delete Confirmation: Are you sure you want to delete ALL meters?"});
    QCOMPARE(h.op.messages[0].icon, MessageIcon::Warning);
    QCOMPARE(h.grid(), grid);
    QCOMPARE(h.log.lines, log);
    QCOMPARE(std::filesystem::exists(h.data / "meters.mrv"), withFile);
    if (withFile)
        QCOMPARE(h.file().size(), answer ? 0 : 2);
}

void MetersWindowTest::deleteAllOnAFullDiskKeepsEveryMeter()
{
    Harness h({"11111111", "22222222", "33333333"});
    // A fourth meter saved since the list was loaded stays in the file.
    h.writeMeters({"11111111", "22222222", "33333333", "44444444"});
    h.op.yesNoAnswers.push_back(true);
    {
        const ScopedWriteFault full(ENOSPC);
        h.popup("Deleteall1")->trigger();
    }
    const QStringList all = {"11111111|K1", "22222222|K2", "33333333|K3", "44444444|K4"};
    QCOMPARE(h.file(), all);
    QCOMPARE(h.grid(), QStringList({"1|11111111|K1", "2|22222222|K2", "3|33333333|K3", "4|44444444|K4"}));
    const QString reason = q("Cannot write " + (h.data / "meters.mrv").string() + ": No space left on device");
    QCOMPARE(h.log.lines, QStringList({reason, "code 64", reason}));
}

void MetersWindowTest::import_data()
{
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("file");
    QTest::addColumn<QStringList>("shown");

    const QString summary = "Palvero: Import of meters from in.csv:\n";
    const QString notImported = "Palvero: Not succesfull import!";
    // A spreadsheet writes no closing separator: the last field is the key all the same.
    QTest::newRow("with or without a closing separator")
        << ";" << QString("11111111;%1;\r\n22222222;%1\r\n00000001;%1;\n").arg(kKey)
        << QStringList{"00000001|" + kKey, "11111111|" + kKey, "22222222|" + kKey}
        << QStringList{summary + "2 meters added\n1 key changed"};
    QTest::newRow("other separator, blank line, ID too long")
        << "," << QString("123456789,%1,\n\n33333333,,extra,").arg(kKey) << QStringList{"00000001|K1", "33333333|"}
        << QStringList{summary + "1 meter added\n0 keys changed\n1 line skipped:\n"
                                 "line 1: the meter ID \"123456789\" is longer than 8 characters"};
    QTest::newRow("19 separators") << ";" << "44444444;" + kKey + QString(";").repeated(18)
                                   << QStringList{"00000001|K1", "44444444|" + kKey}
                                   << QStringList{summary + "1 meter added\n0 keys changed"};
    // The 20th separator ends the import; the lines before it stay saved.
    QTest::newRow("20 separators") << ";" << "55555555;;\r\n66666666;" + kKey + QString(";").repeated(19) + "\r\n7;;"
                                   << QStringList{"00000001|K1", "55555555|"}
                                   << QStringList{"Palvero: You are trying to import too many data!!!\n"
                                                  "Correct csv file and try again!",
                                                  summary + "1 meter added\n0 keys changed\n"
                                                            "The import stopped at line 2: too many fields.",
                                                  notImported};
    QTest::newRow("empty file") << ";" << "" << QStringList{"00000001|K1"} << QStringList{notImported};
    // The window reads back what its Export wrote; a meter given no key keeps its own.
    QTest::newRow("its own Export") << ";" << QString("1;11111111;%1;\r\n2;00000001;;\r\n").arg(kKey)
                                    << QStringList{"00000001|K1", "11111111|" + kKey}
                                    << QStringList{summary + "1 meter added\n0 keys changed\n"
                                                             "1 meter without a key in the file keeps its stored key"};
    QTest::newRow("wrong separator") << ";" << "11111111,,\r\n" << QStringList{"00000001|K1"}
                                     << QStringList{summary + "0 meters added\n0 keys changed\n1 line skipped:\n"
                                                              "line 1: \"11111111,,\" is not a meter ID\n\n"
                                                              "No line of in.csv holds a field divided by the export "
                                                              "separator \";\".\nNothing was imported. Check the "
                                                              "separator in Tools->Settings (Export separator:) and "
                                                              "import again.",
                                                    notImported};
}

void MetersWindowTest::import()
{
    QFETCH(QString, separator);
    QFETCH(QString, text);
    QFETCH(QStringList, file);
    QFETCH(QStringList, shown);

    Harness h({"00000001"});
    h.settings.ExportSeparator = separator.toStdString();
    const auto csv = h.dir.path() / "in.csv";
    palvero::test::writeFile(csv, text.toStdString());
    h.op.fileAnswers.push_back(csv.string());
    h.window->BitBtn4->click();

    QCOMPARE(h.op.dialogs.size(), size_t(1));
    QCOMPARE(q(h.op.dialogs[0].title + "|" + h.op.dialogs[0].filter + "|" + h.op.dialogs[0].defaultExtension),
             QString("Import meters and keys|CSV|*.csv|TXT|*.txt|csv"));
    QCOMPARE(h.file(), file);
    QCOMPARE(h.shown(), shown);
    QStringList grid; // the grid always ends showing the file
    for (int i = 0; i < file.size(); ++i)
        grid << QString::number(i + 1) + "|" + file[i];
    QCOMPARE(h.grid(), grid);
    QCOMPARE(h.window->selectedRow(), -1);
}

void MetersWindowTest::importFailures()
{
    Harness h;
    h.op.fileAnswers.push_back((h.dir.path() / "no such file.csv").string());
    h.popup("Import1")->trigger();
    QCOMPARE(h.shown(), QStringList({"File Error: You chose wrong file for import!\nContact administrator!",
                                     "Palvero: Not succesfull import!"}));
    QCOMPARE(h.log.lines.size(), 2);
    QCOMPARE(h.log.lines[0], QString("code 11"));

    // A folder, and a file whose read fails, are wrong files too: nothing is saved.
    for (const std::string& path : {h.dir.path().string(), std::string("/proc/self/mem")}) {
        h.op.messages.clear();
        h.log.lines.clear();
        QVERIFY(!h.window->ImportMetersCsv(path));
        QCOMPARE(h.shown(), QStringList{"File Error: You chose wrong file for import!\nContact administrator!"});
        QVERIFY(h.log.lines.value(1).startsWith(q("Cannot read " + path + ": ")));
        QCOMPARE(h.file(), QStringList());
    }

    // A missing meters.mrv ends the import at the first meter.
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

void MetersWindowTest::exportWritesTheGrid()
{
    Harness h({"11111111", "22222222"});
    h.settings.ExportSeparator = "|";
    h.op.fileAnswers = {std::string("button.csv"), std::string("popup.csv")};
    h.window->BitBtn3->click();
    h.popup("Export1")->trigger();
    QCOMPARE(h.op.dialogs.size(), size_t(2));
    QCOMPARE(q(h.op.dialogs[1].fileName), QString("meters.csv"));
    QCOMPARE(q(h.op.dialogs[1].title), QString("Export meters and keys to CSV"));
    for (const char* name : {"button.csv", "popup.csv"})
        QCOMPARE(q(palvero::test::readFile(h.data / name)), QString("1|11111111|K1|\r\n2|22222222|K2|\r\n"));
}

void MetersWindowTest::selectionFollowsTheGridAndEscCloses()
{
    Harness h({"11111111", "22222222"});
    h.select(2);
    // Reloaded with the meter in another place, the selection goes along with it.
    h.writeMeters({"22222222", "33333333"});
    h.popup("Refresh1")->trigger();
    QCOMPARE(h.window->selectedRow(), 1);
    QCOMPARE(h.window->Grid_meters->currentIndex().row(), 0);
    // Gone from the file, nothing is selected: Delete acts on nothing.
    h.writeMeters({"33333333"});
    h.popup("Refresh1")->trigger();
    QCOMPARE(h.window->selectedRow(), -1);
    h.window->BitBtn2->click();
    QVERIFY(h.op.messages.empty());

    h.select(1);
    h.op.yesNoAnswers.push_back(true);
    h.window->BitBtn5->click();
    QCOMPARE(h.window->selectedRow(), -1);
    QCOMPARE(h.edits(), QStringList({"", ""}));

    h.window->open();
    QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
    QTest::keyClick(h.window->Grid_meters, Qt::Key_Escape);
    QVERIFY(!h.window->isVisible());
}

void MetersWindowTest::longReadingShowsProgressWithCancel()
{
    {
        ImportProgressWindow quick(nullptr, "Reading", 60000);
        QVERIFY(quick.tick(0, 100) && quick.tick(50, 100));
        QVERIFY(!quick.dialog()); // over before the time is up: no window
    }
    ImportProgressWindow slow(nullptr, "Reading in.csv...", 0);
    QVERIFY(slow.tick(0, 4000));
    QVERIFY(slow.dialog() && slow.dialog()->isVisible());
    QCOMPARE(slow.dialog()->labelText(), QString("Reading in.csv..."));
    QVERIFY(slow.tick(2000, 4000));
    QCOMPARE(slow.dialog()->value(), 500);
    QPushButton* cancel = slow.dialog()->findChild<QPushButton*>();
    QVERIFY(cancel);
    QCOMPARE(cancel->text(), QString("Cancel"));
    QTest::mouseClick(cancel, Qt::LeftButton);
    QVERIFY(!slow.tick(3000, 4000));

    // Cancelled, the reading gives no meter to save.
    palvero::MemorySource source("11111111;;\r\n");
    const MetersCsvRead read =
        readMetersCsv(source, ";", CodePage::Windows1252, [](std::uint64_t, std::uint64_t) { return false; });
    QCOMPARE(int(read.outcome), int(MetersCsvRead::Outcome::Cancelled));
    QVERIFY(read.meters.empty());
}

void MetersWindowTest::onlyWholeKeysAreStored_data()
{
    QTest::addColumn<QString>("key");    // put into the key field
    QTest::addColumn<QString>("stored"); // the key saved; "-" for nothing saved
    QTest::addColumn<QString>("problem");
    QTest::newRow("32 digits") << kKey << kKey << "";
    QTest::newRow("pasted with blanks") << "00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF" << kKey << "";
    QTest::newRow("empty on purpose") << "" << "" << "";
    QTest::newRow("short") << "0011" << "-" << "Only 4 hexadecimal digits: a key has 32";
}

void MetersWindowTest::onlyWholeKeysAreStored()
{
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(QString, problem);

    Harness h({"11111111"});
    h.window->Edit_id->setText("22222222");
    h.window->Edit_aes->setText(key);
    h.window->BitBtn1->click();
    QStringList file{"11111111|K1"};
    if (stored != "-")
        file << "22222222|" + stored;
    QCOMPARE(h.file(), file);
    if (stored == "-") {
        QCOMPARE(h.window->Label_keyProblem->text(), problem);
        QCOMPARE(h.edits(), QStringList({"22222222", key}));
    }
    // A key in the file that is no key is named as such when its row is shown.
    h.select(1);
    QCOMPARE(h.window->Label_keyProblem->text(),
             QString("\"K\" is not a hexadecimal digit: a key is 32 digits 0-9 and A-F"));
}

QTEST_MAIN(MetersWindowTest)
#include "meters_window_test.moc"
