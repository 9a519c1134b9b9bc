// The Templates window and the template choice window: editing and storing templates,
// the grid's popup menu, sample files, the choice list by mode, Apply with its keys, and
// how the program wires both windows to the main window.

#include "cell_text.h"
#include "program.h"
#include "scripted_operator.h"
#include "template_choice_window.h"
#include "templates_window.h"
#include "temp_dir.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>

#include <memory>

using namespace palvero;
using palvero::test::readFile;
using palvero::test::writeFile;

namespace {

struct NoLog : ErrorLogger {
    void LogErrorCode(int) override {}
    void LogErrorText(const std::string&) override {}
};

struct LastStatus : MeterTableListener {
    void statusText(int panel, const std::string& text) override { last = QString("%1:%2").arg(panel).arg(text.c_str()); }
    QString last;
};

std::string recordBytes(const std::string& name, uint8_t type, uint8_t count, std::initializer_list<uint8_t> types)
{
    TemplateRecord r;
    r.name = name;
    r.type = type;
    r.columnCount = count;
    std::copy(types.begin(), types.end(), r.columnTypes.begin());
    const auto b = r.encode();
    return std::string(b.begin(), b.end());
}

QStringList texts(const QList<QAction*>& actions)
{
    QStringList out;
    for (const QAction* a : actions)
        out << a->text();
    return out;
}

QStringList items(const QComboBox* combo)
{
    QStringList out;
    for (int i = 0; i < combo->count(); ++i)
        out << combo->itemText(i);
    return out;
}

// Both windows over one template folder, with a table of two meters.
struct Harness {
    explicit Harness(bool withFile = true)
    {
        std::filesystem::create_directories(dir / "template");
        if (withFile)
            writeFile(file, "");
        table.setCell(1, col::MeterId, "11111111");
        table.setCell(1, col::EncryptionKey, "KEY1");
        table.setCell(table.appendRow(), col::MeterId, "22222222");
        table.addListener(&status);
    }
    ~Harness() { table.removeListener(&status); }

    // The popup menu as a right click on `column` builds it.
    QMenu* menuAt(int column)
    {
        w.openGridMenu(column, QPoint(0, 0));
        w.Menu_grid->hide();
        return w.Menu_grid;
    }
    void trigger(const QString& caption, int column, bool typeMenu = false)
    {
        QMenu* menu = menuAt(column);
        if (typeMenu)
            menu = menu->actions().first()->menu();
        for (QAction* a : menu->actions())
            if (a->text() == caption)
                return a->trigger();
        QFAIL(qPrintable("no menu item " + caption));
    }
    void setType(int column, const QString& name) { trigger(name, column, true); }
    void columns(int count)
    {
        while (w.StringGrid1->columnCount() < count)
            w.addColumn();
        while (w.StringGrid1->columnCount() > count)
            w.removeColumn();
    }
    QStringList headers()
    {
        QStringList out;
        for (int c = 0; c < w.StringGrid1->columnCount(); ++c)
            out << w.headerText(c);
        return out;
    }
    std::vector<int> types(int count = 16) { return {w.workingTypes().begin(), w.workingTypes().begin() + count}; }

    palvero::test::TempDir dir;
    std::filesystem::path file = dir / "template" / "tmplates.dat";
    ProgramPaths paths{dir / "palvero"};
    TemplateFile templateFile{dir / "template"};
    Settings settings;
    palvero::test::ScriptedOperator op;
    NoLog log;
    MeterTable table{0};
    LastStatus status;
    TTemplates w{TemplatesWindowContext{settings, op, templateFile, paths}};
    TForm3 choice{TemplateChoiceContext{table, settings, op, log, templateFile, paths}};
};

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

class TemplatesWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void savingMeterIdNoneKeyAndLoadingItBack();
    void addAndRemoveColumnStopAtTheLimits_data();
    void addAndRemoveColumnStopAtTheLimits();
    void savingAnExistingNameReplacesItInPlace();
    void typeSubMenuFollowsTheTemplateType_data();
    void typeSubMenuFollowsTheTemplateType();
    void whatStopsNewSaveAndDelete();
    void sampleFile();
    void choiceListFollowsTheMode_data();
    void choiceListFollowsTheMode();
    void applyAndItsKeys();
    void nameOfNoTemplateIsRefused_data();
    void nameOfNoTemplateIsRefused();
    void programWiresTheWindows();
    void namesAndSamplesInTheCodePage();
};

void TemplatesWindowTest::savingMeterIdNoneKeyAndLoadingItBack()
{
    Harness h;
    QVERIFY(!h.w.GroupBox1->isEnabled() && !h.w.StringGrid1->isEnabled());
    QVERIFY(!h.w.Butt_templateDelete->isVisibleTo(&h.w));
    h.w.BitBtn1->click();
    QVERIFY(h.w.GroupBox1->isEnabled() && h.w.StringGrid1->isEnabled());
    QCOMPARE(h.w.Combo_templateType->currentText(), QString("Import"));
    QCOMPARE(h.w.Edit_templateName->text(), QString("My Template"));
    QTest::keyClicks(h.w.Edit_templateName, QString(40, 'a')); // at most 32 can be typed
    QCOMPARE(h.w.Edit_templateName->text().size(), 32);

    h.w.Edit_templateName->setText("Caf\u00e9 keys");
    h.columns(3);
    h.setType(0, "Meter ID");
    h.setType(2, "AES-128 key");
    QCOMPARE(h.headers(), QStringList({"Meter ID", "", "AES-128 key"}));
    QCOMPARE(h.w.StringGrid1->toolTip(), QString("Column No. 3"));
    h.w.Butt_saveTemplate->click();
    QCOMPARE(readFile(h.file), recordBytes("Caf\xE9 keys", 0, 3, {1, 255, 2}));
    // A successful save leaves editing.
    QVERIFY(!h.w.GroupBox1->isEnabled() && !h.w.StringGrid1->isEnabled());
    QCOMPARE(h.headers(), QStringList({"", "", ""}));

    h.w.BitBtn2->click();
    QCOMPARE(items(h.w.Combo_oldTemplates), QStringList{"Caf\u00e9 keys"});
    QVERIFY(h.w.Butt_templateDelete->isVisibleTo(&h.w) && !h.w.Edit_templateName->isVisibleTo(&h.w));
    emit h.w.Combo_oldTemplates->textActivated("Caf\u00e9 keys");
    // Each header shows the type of its own column, the untyped one none.
    QCOMPARE(h.headers(), QStringList({"Meter ID", "", "AES-128 key"}));
    QCOMPARE(h.types(4), (std::vector<int>{1, 255, 2, 255}));
    h.w.saveTemplate();
    QCOMPARE(readFile(h.file), recordBytes("Caf\xE9 keys", 0, 3, {1, 255, 2}));
}

void TemplatesWindowTest::addAndRemoveColumnStopAtTheLimits_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("after");
    QTest::newRow("add at 16") << 16 << "Add column" << 16;
    QTest::newRow("add at 15") << 15 << "Add column" << 16;
    QTest::newRow("remove at 1") << 1 << "Remove column" << 1;
    QTest::newRow("remove at 2") << 2 << "Remove column" << 1;
}

void TemplatesWindowTest::addAndRemoveColumnStopAtTheLimits()
{
    QFETCH(int, start);
    QFETCH(QString, command);
    QFETCH(int, after);
    Harness h;
    h.w.newTemplate();
    h.columns(start);
    h.trigger(command, start - 1);
    QCOMPARE(h.w.StringGrid1->columnCount(), after);
    // When the selected column goes, the grid's cursor moves to the last one left.
    QCOMPARE(h.w.selectedColumn(), std::min(start, after) - 1);
}

void TemplatesWindowTest::savingAnExistingNameReplacesItInPlace()
{
    Harness h;
    const std::string first = recordBytes("First", 0, 1, {1}), last = recordBytes("Last", 0, 1, {3});
    writeFile(h.file, first + recordBytes("Same", 1, 2, {5, 6}) + last);
    h.w.newTemplate();
    h.w.Edit_templateName->setText("Same");
    h.columns(1);
    h.setType(0, "Free text");
    h.w.saveTemplate();
    QCOMPARE(readFile(h.file), first + recordBytes("Same", 0, 1, {3}) + last);

    // Clear type and Clear grid: the type of a cleared header goes, and Clear grid clears
    // every type with the headers.
    h.w.newTemplate();
    h.w.Edit_templateName->setText("Out");
    h.w.Combo_templateType->setCurrentText("Export");
    h.columns(3);
    h.setType(0, "Other 8");
    h.setType(1, "Unit");
    h.setType(2, "Date");
    h.trigger("Clear type", 1);
    h.trigger("Clear grid", 0);
    QCOMPARE(h.headers(), QStringList({"", "", ""}));
    h.w.saveTemplate();
    QCOMPARE(readFile(h.file).substr(3 * TemplateRecord::kSize), recordBytes("Out", 1, 3, {255, 255, 255}));
}

void TemplatesWindowTest::typeSubMenuFollowsTheTemplateType_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QStringList>("names");
    const QStringList importNames{"Meter ID", "AES-128 key", "Free text", "Manufacturer"};
    QTest::newRow("Import") << "Import" << importNames;
    QTest::newRow("no type") << "" << importNames;
    QTest::newRow("Export") << "Export"
                            << importNames + QStringList{"Value",   "Unit",    "Time",    "Date",
                                                         "Other 1", "Other 2", "Other 3", "Other 4",
                                                         "Other 5", "Other 6", "Other 7", "Other 8"};
}

void TemplatesWindowTest::typeSubMenuFollowsTheTemplateType()
{
    QFETCH(QString, type);
    QFETCH(QStringList, names);
    Harness h;
    h.w.newTemplate();
    h.w.Combo_templateType->setCurrentIndex(h.w.Combo_templateType->findText(type));
    h.menuAt(0);
    QMenu* menu = h.menuAt(1); // built anew: the second right click holds each item once
    QCOMPARE(texts(menu->actions()),
             QStringList({"Column type", "Clear type", "Add column", "Remove column", "Load file", "Clear grid"}));
    QCOMPARE(texts(menu->actions().first()->menu()->actions()), names);
    QCOMPARE(h.w.selectedColumn(), 1);
}

void TemplatesWindowTest::whatStopsNewSaveAndDelete()
{
    const QString missing = "File \\template\\tmplates.dat does not exist. Create it in order to save Your template!";
    Harness h(false);
    h.w.newTemplate();
    h.w.saveTemplate(); // the template would be lost: said again
    h.w.Edit_templateName->clear();
    h.w.saveTemplate();
    h.w.changeTemplate(); // does nothing
    h.w.deleteTemplate();
    QCOMPARE(h.op.messages.size(), size_t(4));
    QCOMPARE(QString::fromStdString(h.op.messages[0].text), missing);
    QCOMPARE(QString::fromStdString(h.op.messages[1].text), missing);
    QCOMPARE(QString::fromStdString(h.op.messages[2].text), QString("Enter Template Name"));
    QVERIFY(QString::fromStdString(h.op.messages[3].text).startsWith("Unable to delete template, exception - "));
    QVERIFY(!std::filesystem::exists(h.file));

    // Deleting the only template leaves an empty file and an empty list.
    writeFile(h.file, recordBytes("Only", 1, 1, {1}));
    h.w.changeTemplate();
    emit h.w.Combo_oldTemplates->textActivated("Only");
    QCOMPARE(h.w.Combo_templateType->currentText(), QString("Export"));
    h.w.Butt_templateDelete->click();
    QCOMPARE(readFile(h.file), std::string());
    QCOMPARE(h.w.Combo_oldTemplates->count(), 0);
    QCOMPARE(h.w.Edit_templateName->text(), QString());

    // A store that cannot be written keeps the editor open.
    std::filesystem::remove(h.file);
    std::filesystem::create_directory(h.file);
    h.w.newTemplate();
    h.w.saveTemplate();
    QVERIFY(h.w.GroupBox1->isEnabled());
    QCOMPARE(h.op.messages.size(), size_t(5));
}

void TemplatesWindowTest::sampleFile()
{
    Harness h;
    h.settings.ExportSeparator = ",";
    h.w.newTemplate();
    h.columns(3);
    writeFile(h.dir / "sample.csv", "a,b,c,d,\r\n" + std::string(60, 'x') + ",\xE9,\r\nno separator\r\n");
    h.op.fileAnswers.push_back((h.dir / "sample.csv").string());
    h.trigger("Load file", 0);
    QCOMPARE(h.op.dialogs.back().title, std::string("Load data file"));
    QCOMPARE(h.op.dialogs.back().filter, std::string("CSV files|*.csv|TXT files|*.txt"));
    QTableWidget* grid = h.w.StringGrid1;
    QCOMPARE(grid->rowCount(), 4);
    QCOMPARE(grid->item(0, 2)->text(), QString("c"));
    QCOMPARE(grid->item(1, 0)->text(), QString(50, 'x'));
    QCOMPARE(grid->item(1, 1)->text(), QString("\u00e9"));
    QVERIFY(!grid->item(1, 2) && !grid->item(2, 0));

    std::string wide;
    for (int i = 0; i < 32; ++i)
        wide += "f,";
    writeFile(h.dir / "wide.csv", "1,2,\r\n" + wide + "\r\n3,4,\r\n");
    h.op.fileAnswers.push_back((h.dir / "wide.csv").string());
    h.w.loadFile();
    QCOMPARE(h.op.messages.back().text,
             std::string("You are trying to import too many data!!!\nCorrect csv file and try again!"));
    QCOMPARE(grid->rowCount(), 2);

    h.op.fileAnswers.push_back((h.dir / "missing.csv").string());
    h.w.loadFile();
    QCOMPARE(h.op.messages.back().caption, std::string("File Error"));
    QCOMPARE(h.op.messages.back().text, std::string("You chose wrong file for import!\nContact administrator!"));
    QCOMPARE(grid->item(0, 0)->text(), QString("1"));
    QCOMPARE(readFile(h.file), std::string()); // nothing of a sample is saved
}

void TemplatesWindowTest::choiceListFollowsTheMode_data()
{
    QTest::addColumn<bool>("withFile");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("export") << true << 1 << "Choose template to export data:" << QStringList{"<None>", "Out A", "Out B"};
    QTest::newRow("import") << true << 0 << "Choose template to import data:" << QStringList{"<None>", "In"};
    QTest::newRow("no tmplates.dat") << false << 1 << "Choose Template for import/export of data" << QStringList{};
}

void TemplatesWindowTest::choiceListFollowsTheMode()
{
    QFETCH(bool, withFile);
    QFETCH(int, mode);
    QFETCH(QString, label);
    QFETCH(QStringList, names);
    Harness h(withFile);
    if (withFile)
        writeFile(h.file, recordBytes("Out A", 1, 1, {1}) + recordBytes("In", 0, 1, {1}) + recordBytes("Out B", 1, 1, {2}));
    h.choice.openFor(mode);
    QVERIFY(h.choice.isVisible());
    QCOMPARE(h.choice.windowTitle(), QString("Select template for import"));
    QVERIFY(!(h.choice.windowFlags() & Qt::WindowCloseButtonHint));
    QCOMPARE(h.choice.Label1->text(), label);
    QCOMPARE(items(h.choice.Combo_templates), names);
    QCOMPARE(h.choice.Combo_templates->currentText(), names.value(0));
    QVERIFY(h.choice.BitBtn2->font().bold());

    // Apply without tmplates.dat asks for no file and says why in the status bar.
    h.choice.apply();
    QCOMPARE(h.op.dialogs.size(), size_t(withFile ? 1 : 0));
    if (!withFile)
        QCOMPARE(h.status.last, QString("1:Nothing written: the template file tmplates.dat is missing"));
}

void TemplatesWindowTest::applyAndItsKeys()
{
    Harness h;
    writeFile(h.file, recordBytes("Keys", 1, 3, {1, 255, 2}) + recordBytes("Keys in", 0, 2, {2, 1}));
    QSignalSpy imported(&h.choice, &TForm3::tableImported);

    h.choice.openFor(TForm3::ExportMode);
    QVERIFY(QTest::qWaitForWindowExposed(&h.choice));
    h.choice.Combo_templates->setCurrentText("Keys");
    h.op.fileAnswers.push_back((h.dir / "keys.csv").string());
    QTest::keyClick(h.choice.Combo_templates, Qt::Key_Return);
    QVERIFY(!h.choice.isVisible());
    QCOMPARE(readFile(h.dir / "keys.csv"), std::string("11111111;KEY1;\r\n22222222;;\r\n"));
    QCOMPARE(h.status.last, "1:2 rows written to " + QString::fromStdString((h.dir / "keys.csv").string()));
    QCOMPARE(h.choice.Combo_templates->count(), 2); // nothing typed was added to the list

    h.choice.openFor(TForm3::ImportMode);
    QVERIFY(QTest::qWaitForWindowExposed(&h.choice));
    QTest::keyClick(h.choice.Combo_templates, Qt::Key_Escape);
    QVERIFY(!h.choice.isVisible());
    QCOMPARE(h.op.dialogs.size(), size_t(1));

    writeFile(h.dir / "in.csv", "K3;33333333;\r\n");
    h.choice.openFor(TForm3::ImportMode);
    h.choice.Combo_templates->setCurrentText("Keys in");
    h.op.fileAnswers.push_back((h.dir / "in.csv").string());
    h.choice.BitBtn2->click();
    QCOMPARE(imported.count(), 1);
    QCOMPARE(h.table.cell(1, col::MeterId), std::string("33333333"));
    QCOMPARE(h.table.cell(1, col::EncryptionKey), std::string("K3"));

    // An import that reads nothing does not stop new devices.
    writeFile(h.dir / "empty.csv", "");
    h.op.fileAnswers.push_back((h.dir / "empty.csv").string());
    h.choice.apply();
    QCOMPARE(imported.count(), 1);
}

void TemplatesWindowTest::nameOfNoTemplateIsRefused_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("refused");
    for (int mode : {int(TForm3::ExportMode), int(TForm3::ImportMode)}) {
        const char* m = mode == TForm3::ExportMode ? "export" : "import";
        QTest::newRow(qPrintable(QString("%1, a typo").arg(m))) << mode << "Kyes" << true;
        QTest::newRow(qPrintable(QString("%1, a trailing blank").arg(m))) << mode << "Keys " << true;
        // Named templates count whatever their type; <None> is no template on purpose.
        QTest::newRow(qPrintable(QString("%1, a template").arg(m))) << mode << "Keys in" << false;
        QTest::newRow(qPrintable(QString("%1, <None>").arg(m))) << mode << "<None>" << false;
    }
}

void TemplatesWindowTest::nameOfNoTemplateIsRefused()
{
    QFETCH(int, mode);
    QFETCH(QString, typed);
    QFETCH(bool, refused);

    Harness h;
    writeFile(h.file, recordBytes("Keys", 1, 3, {1, 255, 2}) + recordBytes("Keys in", 0, 2, {2, 1}));
    h.choice.openFor(mode);
    QVERIFY(QTest::qWaitForWindowExposed(&h.choice));
    h.choice.Combo_templates->setEditText(typed);
    QTest::keyClick(h.choice.Combo_templates, Qt::Key_Return);
    QCOMPARE(h.choice.isVisible(), refused);
    QCOMPARE(h.op.dialogs.size(), size_t(refused ? 0 : 1)); // refused: no file is asked for or written
    QCOMPARE(h.choice.Label_problem->text(),
             refused ? "No template is named \"" + typed + "\": choose one from the list, or <None>" : QString());
    if (refused) {
        // The next choice clears the reason.
        h.choice.Combo_templates->setEditText("Keys");
        QCOMPARE(h.choice.Label_problem->text(), QString());
    }
}

void TemplatesWindowTest::programWiresTheWindows()
{
    palvero::test::TempDir dir;
    std::filesystem::create_directories(dir / "template");
    writeFile(dir / "template" / "tmplates.dat", recordBytes("In", 0, 1, {1}));
    Program program(dir / "palvero");
    TForm1& main = program.mainWindow();
    QVERIFY(!program.templatesWindow().isVisible() && !program.templateChoice().isVisible());

    main.findChild<QAction*>("Templates1")->trigger();
    QVERIFY(program.templatesWindow().isVisible());
    program.templatesWindow().BitBtn3->click();
    QVERIFY(!program.templatesWindow().isVisible());

    const std::pair<std::function<void()>, int> commands[] = {
        {[&] { main.findChild<QAction*>("ImportfromCSV1")->trigger(); }, 0},
        {[&] { main.findChild<QAction*>("Exportdata1")->trigger(); }, 1},
        {[&] { main.Butt_exportTable->click(); }, 1},
    };
    for (const auto& [command, mode] : commands) {
        command();
        QVERIFY(program.templateChoice().isVisible());
        QCOMPARE(program.templateChoice().mode(), mode);
        program.templateChoice().BitBtn1->click();
    }

    emit program.templateChoice().tableImported();
    QVERIFY(main.Check_noNew->isChecked());
    QVERIFY(main.table().doNotAddNew);
}

void TemplatesWindowTest::namesAndSamplesInTheCodePage()
{
    Harness h;
    h.settings.CodePage = "Windows-1251";
    h.settings.ExportSeparator = ",";
    bindCellCodePage(&h.settings);
    writeFile(h.file, recordBytes("\xCF\xE0", 0, 1, {1}) + recordBytes("Pa", 0, 1, {1}));
    h.choice.openFor(TForm3::ImportMode);
    QCOMPARE(items(h.choice.Combo_templates), QStringList({"<None>", "\u041F\u0430", "Pa"}));
    // What the code page cannot hold is refused where it is typed, so no name becomes "?".
    h.w.newTemplate();
    h.w.Edit_templateName->clear();
    typeText(h.w.Edit_templateName, QString("\u0416\u00E9\u20AC"));
    QCOMPARE(h.w.Edit_templateName->text(), QString("\u0416\u20AC"));
    h.w.saveTemplate();
    QCOMPARE(readFile(h.file).substr(2 * TemplateRecord::kSize, 3), std::string("\x02\xC6\x88"));

    // A spreadsheet's UTF-8 sample with quotes: converted, and divided only outside the quotes.
    h.w.newTemplate();
    h.columns(3);
    writeFile(h.dir / "sample.csv", "\xEF\xBB\xBF\"a,b\",\xD0\x96,\"say \"\"hi\"\"\",\r\n");
    h.op.fileAnswers.push_back((h.dir / "sample.csv").string());
    h.trigger("Load file", 0);
    QCOMPARE(h.w.StringGrid1->item(0, 0)->text(), QString("a,b"));
    QCOMPARE(h.w.StringGrid1->item(0, 1)->text(), QString("\u0416"));
    QCOMPARE(h.w.StringGrid1->item(0, 2)->text(), QString("say \"hi\""));
    bindCellCodePage(nullptr);
}

QTEST_MAIN(TemplatesWindowTest)
#include "templates_window_test.moc"
