// The Templates window and the template choice window: editing and storing templates,
// the grid's popup menu, sample files, the choice list by mode, Apply with its keys, and
// how the program wires both windows to the main window.

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
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>

#include <memory>

using namespace palvero;
using palvero::test::ScriptedOperator;
using palvero::test::TempDir;
using palvero::test::readFile;
using palvero::test::writeFile;

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

struct StatusTexts : MeterTableListener {
    void statusText(int panel, const std::string& text) override { texts << QString("%1:%2").arg(panel).arg(q(text)); }
    QStringList texts;
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

// Both windows over one template folder, with a table of two meters.
struct Harness {
    explicit Harness(bool withFile = true)
    {
        std::filesystem::create_directories(dir / "template");
        std::filesystem::create_directories(dir / "files");
        if (withFile)
            writeFile(file, "");
        templates = std::make_unique<TTemplates>(TemplatesWindowContext{settings, op, templateFile, paths});
        choice = std::make_unique<TForm3>(TemplateChoiceContext{table, settings, op, log, templateFile, paths});
        table.setCell(1, col::No, "1");
        table.setCell(1, col::MeterId, "11111111");
        table.setCell(1, col::EncryptionKey, "KEY1");
        const int r = table.appendRow();
        table.setCell(r, col::No, "2");
        table.setCell(r, col::MeterId, "22222222");
        table.addListener(&status);
    }
    ~Harness() { table.removeListener(&status); }

    TTemplates& w() { return *templates; }
    // The grid's popup menu as a right click on a column builds it.
    QMenu* menuAt(int column)
    {
        w().openGridMenu(column, QPoint(0, 0));
        w().Menu_grid->hide();
        return w().Menu_grid;
    }
    QStringList captions(const QMenu* menu)
    {
        QStringList out;
        for (const QAction* a : menu->actions())
            out << a->text();
        return out;
    }
    void trigger(const QString& caption, int column)
    {
        QMenu* menu = menuAt(column);
        for (QAction* a : menu->actions()) {
            if (a->text() == caption) {
                a->trigger();
                return;
            }
        }
        QFAIL(qPrintable("no menu item " + caption));
    }
    void setType(int column, const QString& typeName)
    {
        QMenu* menu = menuAt(column);
        for (QAction* a : menu->actions().first()->menu()->actions()) {
            if (a->text() == typeName) {
                a->trigger();
                return;
            }
        }
        QFAIL(qPrintable("no type " + typeName));
    }
    QStringList headers()
    {
        QStringList out;
        for (int c = 0; c < w().StringGrid1->columnCount(); ++c)
            out << w().headerText(c);
        return out;
    }
    QStringList comboItems(QComboBox* combo)
    {
        QStringList out;
        for (int i = 0; i < combo->count(); ++i)
            out << combo->itemText(i);
        return out;
    }
    std::vector<int> types()
    {
        return {w().workingTypes().begin(), w().workingTypes().end()};
    }
    void columns(int count)
    {
        while (w().StringGrid1->columnCount() < count)
            w().addColumn();
        while (w().StringGrid1->columnCount() > count)
            w().removeColumn();
    }

    TempDir dir;
    ProgramPaths paths{dir / "palvero"};
    std::filesystem::path file = dir / "template" / "tmplates.dat";
    TemplateFile templateFile{dir / "template"};
    Settings settings;
    ScriptedOperator op;
    RecordingLog log;
    MeterTable table{0};
    StatusTexts status;
    std::unique_ptr<TTemplates> templates;
    std::unique_ptr<TForm3> choice;
};

const std::vector<int> kNoTypes(16, 255);

} // namespace

class TemplatesWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void startsWithNothingToEdit();
    void newTemplate_data();
    void newTemplate();
    void savingMeterIdNoneKey();
    void addAndRemoveColumnStopAtTheLimits_data();
    void addAndRemoveColumnStopAtTheLimits();
    void savingAnExistingNameReplacesItInPlace();
    void typeSubMenuFollowsTheTemplateType_data();
    void typeSubMenuFollowsTheTemplateType();
    void clearTypeAndClearGridKeepTheRightTypes();
    void saveAndDeleteReportWhatStopsThem();
    void nameIsAtMost32Characters();
    void sampleFile();
    void hintNamesTheSelectedColumn();

    void choiceListFollowsTheMode_data();
    void choiceListFollowsTheMode();
    void applyExportsOrImports();
    void choiceKeys();
    void programWiresTheWindows();
};

void TemplatesWindowTest::startsWithNothingToEdit()
{
    Harness h;
    QCOMPARE(h.w().windowTitle(), QString("Create/Change Import and Export templates"));
    const struct {
        const char* name;
        const char* caption;
        bool visible;
    } controls[] = {
        {"BitBtn1", "New Template", true},
        {"BitBtn2", "Change template", true},
        {"BitBtn3", "Close templates editing", true},
        {"Label1", "Template Type", true},
        {"Label2", "Template Name (max 32 symbols)", true},
        {"Label_oldTemplates", "Saved templates:", false},
        {"Combo_oldTemplates", "", false},
        {"Butt_saveTemplate", "Save", true},
        {"Butt_templateDelete", "Delete", false},
        {"Butt_cancel", "Cancel", true},
    };
    for (const auto& c : controls) {
        auto* widget = h.w().findChild<QWidget*>(c.name);
        QVERIFY2(widget, c.name);
        QVERIFY2(widget->isVisibleTo(&h.w()) == c.visible, c.name);
        if (*c.caption)
            QCOMPARE(widget->property("text").toString(), QString(c.caption));
    }
    QCOMPARE(h.w().GroupBox1->title(), QString("   Template properties   "));
    QVERIFY(!h.w().GroupBox1->isEnabled());
    QVERIFY(!h.w().StringGrid1->isEnabled());
    QCOMPARE(h.comboItems(h.w().Combo_templateType), QStringList({"Import", "Export"}));
    QCOMPARE(h.types(), kNoTypes);
    QCOMPARE(h.w().selectedColumn(), 255);
}

void TemplatesWindowTest::newTemplate_data()
{
    QTest::addColumn<bool>("withFile");
    QTest::newRow("tmplates.dat present") << true;
    QTest::newRow("tmplates.dat missing") << false;
}

void TemplatesWindowTest::newTemplate()
{
    QFETCH(bool, withFile);
    Harness h(withFile);
    h.w().BitBtn1->click();
    if (withFile) {
        QVERIFY(h.op.messages.empty());
    } else {
        QCOMPARE(h.op.messages.size(), size_t(1));
        QCOMPARE(q(h.op.messages[0].text),
                 QString("File \\template\\tmplates.dat does not exist. Create it in order to save Your template!"));
    }
    // The editor opens either way.
    QVERIFY(h.w().GroupBox1->isEnabled());
    QVERIFY(h.w().StringGrid1->isEnabled());
    QCOMPARE(h.w().Combo_templateType->currentText(), QString("Import"));
    QCOMPARE(h.w().Edit_templateName->text(), QString("My Template"));
    QVERIFY(h.w().Edit_templateName->isVisibleTo(&h.w()));
    QVERIFY(!h.w().Butt_templateDelete->isVisibleTo(&h.w()));
    QVERIFY(!h.w().Combo_oldTemplates->isVisibleTo(&h.w()));
    QCOMPARE(h.types(), kNoTypes);
}

void TemplatesWindowTest::savingMeterIdNoneKey()
{
    Harness h;
    h.w().newTemplate();
    h.w().Edit_templateName->setText("Keys");
    h.columns(3);
    h.setType(0, "Meter ID");
    h.setType(2, "AES-128 key");
    QCOMPARE(h.headers(), QStringList({"Meter ID", "", "AES-128 key"}));
    h.w().Butt_saveTemplate->click();

    QCOMPARE(readFile(h.file), recordBytes("Keys", 0, 3, {1, 255, 2}));
    // A successful save leaves editing.
    QVERIFY(!h.w().GroupBox1->isEnabled());
    QVERIFY(!h.w().StringGrid1->isEnabled());
    QCOMPARE(h.headers(), QStringList({"", "", ""}));

    h.w().BitBtn2->click();
    QCOMPARE(h.comboItems(h.w().Combo_oldTemplates), QStringList{"Keys"});
    QVERIFY(h.w().Butt_templateDelete->isVisibleTo(&h.w()));
    QVERIFY(!h.w().Edit_templateName->isVisibleTo(&h.w()));
    h.w().Combo_oldTemplates->setCurrentIndex(0);
    emit h.w().Combo_oldTemplates->textActivated("Keys");
    // Header names move left past the untyped column; the types stay as stored.
    QCOMPARE(h.headers(), QStringList({"Meter ID", "AES-128 key", ""}));
    std::vector<int> stored = kNoTypes;
    stored[0] = 1;
    stored[2] = 2;
    QCOMPARE(h.types(), stored);
    QCOMPARE(h.w().Edit_templateName->text(), QString("Keys"));
    QCOMPARE(h.w().Combo_templateType->currentText(), QString("Import"));

    // Saved again unchanged, the record keeps its bytes.
    h.w().saveTemplate();
    QCOMPARE(readFile(h.file), recordBytes("Keys", 0, 3, {1, 255, 2}));
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
    h.w().newTemplate();
    h.columns(start);
    QCOMPARE(h.w().StringGrid1->columnCount(), start);
    h.trigger(command, 0);
    QCOMPARE(h.w().StringGrid1->columnCount(), after);
}

void TemplatesWindowTest::savingAnExistingNameReplacesItInPlace()
{
    Harness h;
    writeFile(h.file, recordBytes("First", 0, 1, {1}) + recordBytes("Same", 1, 2, {5, 6}) + recordBytes("Last", 0, 1, {3}));
    h.w().newTemplate();
    h.w().Edit_templateName->setText("Same");
    h.columns(1);
    h.setType(0, "Free text");
    h.w().saveTemplate();
    QCOMPARE(readFile(h.file),
             recordBytes("First", 0, 1, {1}) + recordBytes("Same", 0, 1, {3}) + recordBytes("Last", 0, 1, {3}));

    // A new name goes after the others, with its type.
    h.w().newTemplate();
    h.w().Edit_templateName->setText("Export one");
    h.w().Combo_templateType->setCurrentText("Export");
    h.columns(2);
    h.setType(1, "Other 8");
    h.w().saveTemplate();
    QCOMPARE(readFile(h.file).substr(3 * 51), recordBytes("Export one", 1, 2, {255, 16}));
}

void TemplatesWindowTest::typeSubMenuFollowsTheTemplateType_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QStringList>("names");
    const QStringList importNames{"Meter ID", "AES-128 key", "Free text", "Manufacturer"};
    QTest::newRow("Import") << "Import" << importNames;
    QTest::newRow("no type") << "" << importNames;
    QTest::newRow("Export") << "Export"
                            << QStringList{"Meter ID", "AES-128 key", "Free text", "Manufacturer", "Value", "Unit",
                                           "Time",     "Date",        "Other 1",   "Other 2",      "Other 3", "Other 4",
                                           "Other 5",  "Other 6",     "Other 7",   "Other 8"};
}

void TemplatesWindowTest::typeSubMenuFollowsTheTemplateType()
{
    QFETCH(QString, type);
    QFETCH(QStringList, names);
    Harness h;
    h.w().newTemplate();
    if (type.isEmpty())
        h.w().Combo_templateType->setCurrentIndex(-1);
    else
        h.w().Combo_templateType->setCurrentText(type);
    // Built anew at every right click: a second one holds the same items once.
    h.menuAt(0);
    QMenu* menu = h.menuAt(1);
    QCOMPARE(h.captions(menu),
             QStringList({"Column type", "Clear type", "Add column", "Remove column", "Load file", "Clear grid"}));
    QCOMPARE(h.captions(menu->actions().first()->menu()), names);
    QCOMPARE(h.w().selectedColumn(), 1);
}

void TemplatesWindowTest::clearTypeAndClearGridKeepTheRightTypes()
{
    Harness h;
    h.w().newTemplate();
    h.columns(3);
    h.setType(0, "Meter ID");
    h.setType(1, "Manufacturer");
    h.trigger("Clear type", 0);
    QCOMPARE(h.headers(), QStringList({"", "Manufacturer", ""}));
    QCOMPARE(h.types()[0], 255);
    QCOMPARE(h.types()[1], 4);

    h.w().StringGrid1->setItem(0, 0, new QTableWidgetItem("sample"));
    h.w().StringGrid1->setRowCount(3);
    h.trigger("Clear grid", 2);
    QCOMPARE(h.w().StringGrid1->rowCount(), 1);
    QVERIFY(!h.w().StringGrid1->item(0, 0));
    QCOMPARE(h.headers(), QStringList({"", "", ""}));
    QCOMPARE(h.types()[1], 4); // the working types stay

    // A removed column's type stays in the editor, outside the saved count.
    h.w().Edit_templateName->setText("Two");
    h.columns(1);
    QCOMPARE(h.w().selectedColumn(), 255); // the selected column went
    h.w().saveTemplate();
    QCOMPARE(readFile(h.file), recordBytes("Two", 0, 1, {255, 4}));
}

void TemplatesWindowTest::saveAndDeleteReportWhatStopsThem()
{
    Harness h;
    h.w().newTemplate();
    h.w().Edit_templateName->clear();
    h.w().saveTemplate();
    QCOMPARE(h.op.messages.size(), size_t(1));
    QCOMPARE(q(h.op.messages[0].text), QString("Enter Template Name"));
    QVERIFY(h.w().GroupBox1->isEnabled());

    // Deleting the only template leaves an empty file, and the list is refilled.
    writeFile(h.file, recordBytes("Only", 1, 1, {1}));
    h.w().changeTemplate();
    emit h.w().Combo_oldTemplates->textActivated("Only");
    QCOMPARE(h.w().Combo_templateType->currentText(), QString("Export"));
    h.w().Butt_templateDelete->click();
    QCOMPARE(readFile(h.file), std::string());
    QCOMPARE(h.w().Combo_oldTemplates->count(), 0);
    QCOMPARE(h.w().Edit_templateName->text(), QString());
    QCOMPARE(h.w().Combo_templateType->currentText(), QString());

    // Once the file has gone: Change does nothing, Save says why, Delete shows the error.
    std::filesystem::remove(h.file);
    h.op.messages.clear();
    h.w().cancel();
    h.w().changeTemplate();
    QVERIFY(!h.w().GroupBox1->isEnabled());
    h.w().newTemplate();
    h.w().saveTemplate();
    QCOMPARE(h.op.messages.size(), size_t(2));
    QCOMPARE(h.op.messages[1].text, h.op.messages[0].text);
    QVERIFY(!std::filesystem::exists(h.file));
    h.w().deleteTemplate();
    QCOMPARE(h.op.messages.size(), size_t(3));
    QVERIFY(q(h.op.messages[2].text).startsWith("Unable to delete template, exception - "));

    // A template store that cannot be written.
    std::filesystem::create_directory(h.file);
    h.w().saveTemplate();
    QCOMPARE(h.op.messages.size(), size_t(4));
    QVERIFY(!q(h.op.messages[3].text).isEmpty());
    QVERIFY(h.w().GroupBox1->isEnabled());
}

void TemplatesWindowTest::nameIsAtMost32Characters()
{
    Harness h;
    h.w().newTemplate();
    h.w().Edit_templateName->clear();
    QTest::keyClicks(h.w().Edit_templateName, QString(40, 'a'));
    QCOMPARE(h.w().Edit_templateName->text(), QString(32, 'a'));
    h.w().Edit_templateName->setText("Caf\u00e9 \u00e0 la carte");
    h.w().saveTemplate();
    QCOMPARE(readFile(h.file), recordBytes("Caf\xE9 \xE0 la carte", 0, 5, {}));
    h.w().changeTemplate();
    QCOMPARE(h.comboItems(h.w().Combo_oldTemplates), QStringList{"Caf\u00e9 \u00e0 la carte"});
}

void TemplatesWindowTest::sampleFile()
{
    Harness h;
    h.settings.ExportSeparator = ",";
    h.w().newTemplate();
    h.columns(3);
    const std::string longField(60, 'x');
    writeFile(h.dir / "sample.csv", "a,b,c,d,\r\n" + longField + ",\xE9,\r\nno separator\r\n");
    h.op.fileAnswers.push_back((h.dir / "sample.csv").string());
    h.trigger("Load file", 0);
    QCOMPARE(h.op.dialogs.back().title, std::string("Load data file"));
    QCOMPARE(h.op.dialogs.back().filter, std::string("CSV files|*.csv|TXT files|*.txt"));
    QCOMPARE(h.op.dialogs.back().defaultExtension, std::string("csv"));
    QTableWidget* grid = h.w().StringGrid1;
    QCOMPARE(grid->rowCount(), 4);
    QCOMPARE(grid->item(0, 0)->text(), QString("a"));
    QCOMPARE(grid->item(0, 2)->text(), QString("c"));
    QCOMPARE(grid->item(1, 0)->text(), QString(50, 'x'));
    QCOMPARE(grid->item(1, 1)->text(), QString("\u00e9"));
    QVERIFY(!grid->item(1, 2));
    QVERIFY(!grid->item(2, 0));
    QVERIFY(h.op.messages.empty());

    // The 32nd separator stops the loading with its message.
    std::string wide;
    for (int i = 0; i < 32; ++i)
        wide += "f,";
    writeFile(h.dir / "wide.csv", "1,2,\r\n" + wide + "\r\n3,4,\r\n");
    h.op.fileAnswers.push_back((h.dir / "wide.csv").string());
    h.w().loadFile();
    QCOMPARE(h.op.messages.size(), size_t(1));
    QCOMPARE(q(h.op.messages[0].text),
             QString("You are trying to import too many data!!!\nCorrect csv file and try again!"));
    QCOMPARE(grid->item(0, 0)->text(), QString("1"));
    QCOMPARE(grid->rowCount(), 2);

    h.op.fileAnswers.push_back((h.dir / "missing.csv").string());
    h.w().loadFile();
    QCOMPARE(h.op.messages.size(), size_t(2));
    QCOMPARE(q(h.op.messages[1].caption), QString("File Error"));
    QCOMPARE(q(h.op.messages[1].text), QString("You chose wrong file for import!\nContact administrator!"));
    QCOMPARE(h.op.messages[1].icon, MessageIcon::Warning);
    QCOMPARE(grid->item(0, 0)->text(), QString("1")); // the sample stays
    QVERIFY(!std::filesystem::exists(h.file) || readFile(h.file).empty()); // nothing of it is saved
}

void TemplatesWindowTest::hintNamesTheSelectedColumn()
{
    Harness h;
    h.w().newTemplate();
    h.columns(4);
    QCOMPARE(h.w().StringGrid1->toolTip(), QString());
    h.w().StringGrid1->setCurrentCell(0, 2);
    QCOMPARE(h.w().selectedColumn(), 2);
    QCOMPARE(h.w().StringGrid1->toolTip(), QString("Column No. 3"));
    emit h.w().StringGrid1->horizontalHeader()->sectionClicked(3);
    QCOMPARE(h.w().StringGrid1->toolTip(), QString("Column No. 4"));
    // Without a selected column the type commands do nothing.
    h.columns(3);
    h.w().setColumnType(1);
    QCOMPARE(h.types(), kNoTypes);
}

void TemplatesWindowTest::choiceListFollowsTheMode_data()
{
    QTest::addColumn<bool>("withFile");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QStringList>("items");
    QTest::newRow("export") << true << 1 << "Choose template to export data:"
                            << QStringList{"<None>", "Out A", "Out B"};
    QTest::newRow("import") << true << 0 << "Choose template to import data:" << QStringList{"<None>", "In"};
    QTest::newRow("no tmplates.dat") << false << 1 << "Choose Template for import/export of data" << QStringList{};
}

void TemplatesWindowTest::choiceListFollowsTheMode()
{
    QFETCH(bool, withFile);
    QFETCH(int, mode);
    QFETCH(QString, label);
    QFETCH(QStringList, items);
    Harness h(withFile);
    if (withFile)
        writeFile(h.file, recordBytes("Out A", 1, 1, {1}) + recordBytes("In", 0, 1, {1}) + recordBytes("Out B", 1, 1, {2}));
    TForm3& c = *h.choice;
    QCOMPARE(c.windowTitle(), QString("Select template for import"));
    QVERIFY(!(c.windowFlags() & Qt::WindowCloseButtonHint));
    c.openFor(mode);
    QVERIFY(c.isVisible());
    QCOMPARE(c.mode(), mode);
    QCOMPARE(c.Label1->text(), label);
    QCOMPARE(h.comboItems(c.Combo_templates), items);
    QCOMPARE(c.Combo_templates->currentText(), items.isEmpty() ? QString() : QString("<None>"));
    QCOMPARE(c.Label2->text(), QString("If you select <None> then file will be open/save "));
    QCOMPARE(c.Label3->text(), QString("as it is. For more information about templates"));
    QCOMPARE(c.Label4->text(), QString("look the User manual and go to Tools->Templates"));
    QCOMPARE(c.BitBtn1->text(), QString("Cancel"));
    QCOMPARE(c.BitBtn2->text(), QString("Apply"));
    QVERIFY(c.BitBtn2->font().bold());
    c.hide();
}

void TemplatesWindowTest::applyExportsOrImports()
{
    Harness h;
    writeFile(h.file, recordBytes("Keys", 1, 3, {1, 255, 2}) + recordBytes("Keys in", 0, 2, {2, 1}));
    TForm3& c = *h.choice;
    QSignalSpy imported(&c, &TForm3::tableImported);

    c.openFor(TForm3::ExportMode);
    c.Combo_templates->setCurrentText("Keys");
    h.op.fileAnswers.push_back((h.dir / "keys.csv").string());
    c.BitBtn2->click();
    QVERIFY(!c.isVisible());
    QCOMPARE(readFile(h.dir / "keys.csv"), std::string("11111111;KEY1;\r\n22222222;;\r\n"));
    QCOMPARE(h.status.texts.last(), "1:2 rows written to " + q((h.dir / "keys.csv").string()));
    QCOMPARE(imported.count(), 0);

    writeFile(h.dir / "in.csv", "K3;33333333;\r\n");
    h.table.setFlag(RowFlag::LowBattery, 2, true);
    c.openFor(TForm3::ImportMode);
    c.Combo_templates->setCurrentText("Keys in");
    h.op.fileAnswers.push_back((h.dir / "in.csv").string());
    c.apply();
    QCOMPARE(imported.count(), 1);
    QCOMPARE(h.table.dataRowCount(), 2);
    QCOMPARE(q(h.table.cell(1, col::MeterId)), QString("33333333"));
    QCOMPARE(q(h.table.cell(1, col::EncryptionKey)), QString("K3"));
    QVERIFY(!h.table.flag(RowFlag::LowBattery, 2));
    QCOMPARE(h.status.texts.last(), "1:1 row read from " + q((h.dir / "in.csv").string()));

    // An import that reads nothing does not stop new devices.
    writeFile(h.dir / "empty.csv", "");
    c.openFor(TForm3::ImportMode);
    h.op.fileAnswers.push_back((h.dir / "empty.csv").string());
    c.apply();
    QCOMPARE(imported.count(), 1);
    QCOMPARE(h.table.dataRowCount(), 2);
}

void TemplatesWindowTest::choiceKeys()
{
    Harness h;
    TForm3& c = *h.choice;
    c.openFor(TForm3::ExportMode);
    QVERIFY(QTest::qWaitForWindowExposed(&c));
    QTest::keyClick(c.Combo_templates, Qt::Key_Escape);
    QVERIFY(!c.isVisible());
    QVERIFY(h.op.dialogs.empty());

    c.openFor(TForm3::ExportMode);
    QVERIFY(QTest::qWaitForWindowExposed(&c));
    QTest::keyClick(c.Combo_templates, Qt::Key_Return);
    QVERIFY(!c.isVisible());
    QCOMPARE(h.op.dialogs.size(), size_t(1)); // Apply asked for the file
    QCOMPARE(c.Combo_templates->count(), 1);  // nothing typed was added to the list

    c.openFor(TForm3::ImportMode);
    c.BitBtn1->click();
    QVERIFY(!c.isVisible());
    QCOMPARE(h.op.dialogs.size(), size_t(1));
}

void TemplatesWindowTest::programWiresTheWindows()
{
    TempDir dir;
    std::filesystem::create_directories(dir / "template");
    writeFile(dir / "template" / "tmplates.dat", recordBytes("In", 0, 1, {1}));
    Program program(dir / "palvero");
    TForm1& main = program.mainWindow();
    QVERIFY(!program.templatesWindow().isVisible());
    QVERIFY(!program.templateChoice().isVisible());

    main.findChild<QAction*>("Templates1")->trigger();
    QVERIFY(program.templatesWindow().isVisible());
    program.templatesWindow().BitBtn3->click();
    QVERIFY(!program.templatesWindow().isVisible());

    const struct {
        std::function<void()> command;
        int mode;
    } commands[] = {
        {[&] { main.findChild<QAction*>("ImportfromCSV1")->trigger(); }, 0},
        {[&] { main.findChild<QAction*>("Exportdata1")->trigger(); }, 1},
        {[&] { main.Butt_exportTable->click(); }, 1},
    };
    for (const auto& c : commands) {
        c.command();
        QVERIFY(program.templateChoice().isVisible());
        QCOMPARE(program.templateChoice().mode(), c.mode);
        program.templateChoice().BitBtn1->click();
    }
    QCOMPARE(program.templateChoice().Combo_templates->count(), 1); // "<None>": "In" is for import

    QVERIFY(!main.Check_noNew->isChecked());
    emit program.templateChoice().tableImported();
    QVERIFY(main.Check_noNew->isChecked());
    QVERIFY(main.table().doNotAddNew);

}

QTEST_MAIN(TemplatesWindowTest)
#include "templates_window_test.moc"
