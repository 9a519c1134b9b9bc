// The teach window, wired to the main window as the program wires it: the telegrams of
// a meter, the readings typed beside them, the candidates, and a saved format that reads
// the meter at once and from its next telegram on.

#include "fake_serial_port.h"
#include "main_window.h"
#include "meter_format_file.h"
#include "scripted_operator.h"
#include "teach_meter_window.h"
#include "telegram_data.h"
#include "temp_dir.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTextEdit>
#include <QtTest>

#include <memory>

using namespace palvero;
using palvero::test::FakeSerialPort;
using palvero::test::FakeSleeper;
using palvero::test::ScriptedOperator;
using palvero::test::TempDir;

namespace {

class NoLog : public ErrorLogger {
public:
    void LogErrorCode(int) override {}
    void LogErrorText(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

struct NoKeys : MeterKeySource {
    MeterKeyLookup findMeterKey(const std::string&) override { return {}; }
};

// A meter of manufacturer DQT with a layout of its own (CI 0xA2): a status byte, two bytes
// of something else, then its volume in litres as 4 bytes; `previous` a billing value.
std::string privateTelegram(uint32_t litres, uint32_t previous, uint8_t status = 0x10)
{
    auto le = [](uint32_t v) {
        std::string s;
        for (int i = 0; i < 4; ++i)
            s += " " + hexByte(uint8_t(v >> (8 * i)));
        return s;
    };
    // The L field counts the 25 bytes after it.
    return "19 44 34 12 78 56 34 12 01 07 A2 " + hexByte(status) + " A1 B1" + le(litres) + " 44 55" + le(previous)
        + " 99 AA";
}

struct Harness {
    Harness()
    {
        std::filesystem::create_directories(dir / "files");
        settings.Name = "ttyS9";
        window = std::make_unique<TForm1>(MainWindowContext{settings, formats, op, log, &keys, port, sleeper, paths});
        teach = std::make_unique<TTeachMeter>(TeachMeterContext{window->table(), window->reception(), settings,
                                                                formats, op, log, &keys, paths},
                                              window.get());
        window->attachTeachWindow(teach.get());
    }
    ~Harness() { teach.reset(); }

    void hear(const std::string& hex) { window->reception().receive(test::receiverFrame(test::fromHex(hex))); }
    QAction* action(const char* name) { return window->findChild<QAction*>(name); }
    const std::string& cell(int column) { return window->table().cell(1, column); }
    void type(int telegram, const char* reading)
    {
        teach->Grid_telegrams->item(telegram, 1)->setText(reading);
    }

    TempDir dir;
    ProgramPaths paths{dir / "palvero"};
    std::vector<std::string> transcript;
    Settings settings;
    FixedFormats formats;
    ScriptedOperator op;
    NoLog log;
    NoKeys keys;
    FakeSerialPort port{transcript};
    FakeSleeper sleeper{transcript};
    std::unique_ptr<TForm1> window;
    std::unique_ptr<TTeachMeter> teach;
};

} // namespace

class TeachWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void commands();
    void readingTypedCandidateShownFormatSavedAndUsed();
    void outcomesAsTheOperatorSeesThem_data();
    void outcomesAsTheOperatorSeesThem();
    void aFormatThatCannotBeSavedChangesNothing();
    void pastedTelegrams();
};

void TeachWindowTest::commands()
{
    Harness h;
    QCOMPARE(h.action("Teachmeter1")->text(), QString("Teach meter..."));
    QCOMPARE(h.action("Teachameter1")->text(), QString("Teach a meter..."));
    QVERIFY(h.action("Teachmeter1")->isEnabled());
    QVERIFY(h.window->PopupMenu1->actions().contains(h.action("Teachmeter1")));
    h.action("Teachameter1")->trigger();
    QVERIFY(h.teach->isVisible());
    QCOMPARE(h.teach->telegramCount(), 0);
    QTest::keyClick(h.teach.get(), Qt::Key_Escape);
    QVERIFY(!h.teach->isVisible());
}

void TeachWindowTest::readingTypedCandidateShownFormatSavedAndUsed()
{
    Harness h;
    h.hear(privateTelegram(1234567, 1200000));
    QCOMPARE(h.cell(col::MainValue), std::string());
    h.window->table().selectedRow = 1;
    h.action("Teachmeter1")->trigger();
    QVERIFY(h.teach->isVisible());
    QCOMPARE(h.teach->telegramCount(), 1);
    QCOMPARE(h.teach->Grid_telegrams->item(0, 0)->text(),
             QString("10 A1 B1 87 D6 12 00 44 55 80 4F 12 00 99 AA "));
    QCOMPARE(h.teach->Edit_formatName->text(), QString("DQT-01-07"));

    h.type(0, "1234.567");
    QTest::mouseClick(h.teach->Button_search, Qt::LeftButton);
    QCOMPARE(h.teach->List_candidates->count(), 1);
    QCOMPARE(h.teach->List_candidates->item(0)->text(), QString("at 3 uint 4 scale -3: 1234.567"));
    QVERIFY(h.teach->Memo_bytes->toHtml().contains("#ffd54f"));
    QVERIFY(h.teach->Button_save->isEnabled());
    QVERIFY(h.teach->resultText().startsWith("One field gives every reading: at 3 uint 4 scale -3 m3."));

    QTest::mouseClick(h.teach->Button_save, Qt::LeftButton);
    QVERIFY(!h.teach->Button_save->isEnabled());
    QCOMPARE(h.cell(col::MainValue), std::string("1234.567"));
    QCOMPARE(h.cell(col::Units), std::string("m3"));
    QCOMPARE(h.teach->resultText(),
             QString("Format DQT-01-07 saved in meter-formats.txt. Meter 12345678 reads 1234.567 m3."));
    const std::string file = test::readFile(h.dir / "files" / kMeterFormatsFileName);
    QVERIFY(file.find("format DQT-01-07\n  manufacturer DQT\n  version 01\n  device 07\n  ci A2\n  length 15\n"
                      "  main at 3 uint 4 scale -3 m3\n")
            != std::string::npos);

    // The next telegram is read by the format, and joins the window's list.
    h.hear(privateTelegram(1240000, 1200000, 0x11));
    QCOMPARE(h.cell(col::MainValue), std::string("1240.000"));
    QCOMPARE(h.teach->telegramCount(), 2);
    QVERIFY(h.op.messages.empty());
}

void TeachWindowTest::outcomesAsTheOperatorSeesThem_data()
{
    QTest::addColumn<QStringList>("readings");
    QTest::addColumn<int>("candidates");
    QTest::addColumn<bool>("saveable");
    QTest::addColumn<QString>("result");
    // The first telegram's current and billing values are both 1.200 m3.
    QTest::newRow("two fields agree") << QStringList{"1.2", ""} << 2 << false
                                      << "2 fields give this reading in every telegram: add a telegram heard after "
                                         "the meter has counted on, with its reading.";
    QTest::newRow("a second reading tells them apart") << QStringList{"1.2", "1.25"} << 1 << true
                                                       << "One field gives every reading: at 3 uint 4 scale -3 m3. "
                                                          "\"Save format\" keeps it as format DQT-01-07.";
    QTest::newRow("no field") << QStringList{"1.2", "1.4"} << 0 << false
                              << "No field gives these readings in every telegram: the value may be computed from "
                                 "several fields or encrypted by the maker. Nothing was changed.";
    QTest::newRow("no reading") << QStringList{"", ""} << 0 << false
                                << "Type the reading on the meter's display beside a telegram.";
}

void TeachWindowTest::outcomesAsTheOperatorSeesThem()
{
    QFETCH(QStringList, readings);
    QFETCH(int, candidates);
    QFETCH(bool, saveable);
    QFETCH(QString, result);
    Harness h;
    h.hear(privateTelegram(1200, 1200));
    h.window->table().selectedRow = 1;
    h.action("Teachmeter1")->trigger();
    h.hear(privateTelegram(1250, 1200, 0x11)); // heard again after counting on
    QCOMPARE(h.teach->telegramCount(), 2);
    for (int i = 0; i < readings.size(); ++i)
        h.type(i, readings[i].toUtf8().constData());
    QTest::mouseClick(h.teach->Button_search, Qt::LeftButton);
    QCOMPARE(h.teach->List_candidates->count(), candidates);
    QCOMPARE(h.teach->Button_save->isEnabled(), saveable);
    QCOMPARE(h.teach->resultText(), result);
    QVERIFY(!std::filesystem::exists(h.dir / "files" / kMeterFormatsFileName));
}

void TeachWindowTest::aFormatThatCannotBeSavedChangesNothing()
{
    Harness h;
    h.hear(privateTelegram(1234567, 1200000));
    h.window->table().selectedRow = 1;
    h.action("Teachmeter1")->trigger();
    h.type(0, "1234.567");
    h.teach->search();
    std::filesystem::remove_all(h.dir / "files");
    QVERIFY(!h.teach->saveFormat());
    QCOMPARE(h.op.messages.size(), size_t(1));
    QCOMPARE(h.op.messages[0].caption, std::string("Error saving file"));
    QCOMPARE(h.cell(col::MainValue), std::string());
    QCOMPARE(h.log.texts.size(), size_t(1));
}

void TeachWindowTest::pastedTelegrams()
{
    Harness h;
    h.action("Teachameter1")->trigger();
    h.teach->Edit_telegram->setText(QString::fromStdString(privateTelegram(1234567, 1200000)));
    QTest::keyClick(h.teach->Edit_telegram, Qt::Key_Return);
    QCOMPARE(h.teach->telegramCount(), 1);
    QVERIFY(h.teach->Edit_telegram->text().isEmpty());
    QVERIFY(h.teach->Label_meter->text().contains("12345678"));
    QVERIFY(!h.teach->addTelegramText(privateTelegram(1234567, 1200000)));
    QCOMPARE(h.teach->resultText(), QString("That telegram is in the list already."));
    QVERIFY(!h.teach->addTelegramText("0D 44 34 12 78 56 34 13 01 07 A2 10 20 30"));
    QCOMPARE(h.teach->resultText(), QString("That telegram is from meter 13345678, not from meter 12345678."));
    QVERIFY(!h.teach->addTelegramText("21 44 34 12 78 56 34 12 01 07 7A 01 00 20 05 11 22 33 44 55 66 77 88 99 AA BB "
                                      "CC DD EE FF 00 11 22 33"));
    QCOMPARE(h.teach->resultText(),
             QString("The telegram cannot be taught from: still encrypted: enter the meter's key first."));
    QCOMPARE(h.teach->telegramCount(), 1);
}

QTEST_MAIN(TeachWindowTest)
#include "teach_window_test.moc"
