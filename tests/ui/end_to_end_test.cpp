// The whole reading path over a pseudo-terminal: wmbus-sim plays real telegrams as a
// receiver, the main window reads them through the real serial port into the table.

#include "error_log.h"
#include "main_window.h"
#include "meters_file.h"
#include "program.h"
#include "capture_replay.h"
#include "qt_serial_port.h"
#include "scripted_operator.h"
#include "settings_file.h"
#include "sim_process.h"
#include "telegram_data.h"
#include "temp_dir.h"
#include "thread_sleeper.h"

#include <QApplication>
#include <QAction>
#include <QEventLoop>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <set>

using namespace palvero;
using palvero::test::RealTelegram;
using palvero::test::ScriptedOperator;
using palvero::test::SimProcess;
using palvero::test::TempDir;

namespace {

namespace fs = std::filesystem;

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}

// A short walk: two meters that need their key from the meters file, three in plain text,
// of four media.
const std::vector<std::string> kWalk = {"00050901", "61070071", "25100064", "81100028", "18046178"};

// Generous: the simulator and the program share two cores with the rest of the tests.
constexpr int kReadTimeoutMs = 20000;

std::vector<RealTelegram> walkTelegrams()
{
    const auto all = palvero::test::loadRealTelegrams(PALVERO_TEST_DATA "/telegrams/real-world.tsv");
    std::vector<RealTelegram> walk;
    for (const std::string& id : kWalk)
        for (const auto& t : all)
            if (t.meterId == id) {
                walk.push_back(t);
                break;
            }
    return walk;
}

// A program folder: the settings file with the simulated receiver as its port, the meters
// file with the keys of the walk, and the capture the simulator plays.
struct ProgramFolder {
    ProgramFolder(const std::vector<RealTelegram>& walk, const std::string& wirelessKeys)
    {
        fs::create_directories(dir / "files");
        fs::create_directories(dir / "template");
        std::ofstream meters(dir / "files" / "meters.mrv", std::ios::binary);
        std::ofstream capture(this->capture());
        capture << "# a short walk\n";
        for (const auto& t : walk) {
            if (!t.key.empty())
                meters << char(8) << t.meterId << char(32) << t.key;
            capture << t.telegramHex << " rssi=9A\n";
        }
        palvero::test::writeFile(dir / "palvero.ini",
                                 "[Com port]\r\nName=" + port() + "\r\nSpeed=115200\r\nParity=None\r\n"
                                     "[Misc]\r\nUseDBMeters=1\r\n[Wireless]\r\nAES128_5=1\r\n" + wirelessKeys);
    }

    fs::path programFile() const { return dir / "palvero"; }
    std::string port() const { return (dir / "receiver").string(); }
    std::string capture() const { return (dir / "walk.txt").string(); }
    std::string simLog() const { return (dir / "sim.log").string(); }

    TempDir dir;
};

// The main window wired as the program wires it, with the real serial port and waits, but
// with a scripted operator so that no box can stop the test.
struct Reader {
    explicit Reader(const ProgramFolder& folder)
        : paths(folder.programFile())
        , errorLog(paths.dataFolder(), formats, op)
        , meters(paths.dataFolder(), errorLog)
    {
        loadSettingsFile(settings, paths.iniFile());
        window = std::make_unique<TForm1>(
            MainWindowContext{settings, formats, op, errorLog, &meters, port, sleeper, paths});
    }

    ProgramPaths paths;
    Settings settings;
    FixedFormats formats;
    ScriptedOperator op;
    ErrorLog errorLog;
    MetersFile meters;
    QtSerialPort port;
    ThreadSleeper sleeper;
    std::unique_ptr<TForm1> window;
};

// What the table still lacks of the walk; empty when every meter is there as expected.
QString missing(const MeterTable& table, const std::vector<RealTelegram>& walk, char separator)
{
    for (const auto& t : walk) {
        const int row = table.findMeterRow(t.meterId);
        if (row == 0)
            return q("no row for " + t.meterId);
        std::string value = t.mainValue;
        std::replace(value.begin(), value.end(), '.', separator);
        const std::pair<int, std::string> expected[] = {
            {col::Mfr, t.mfr}, {col::Medium, t.medium}, {col::MainValue, value}, {col::Units, t.units}};
        for (const auto& [column, text] : expected)
            if (table.cell(row, column) != text)
                return q(t.meterId + ": \"" + table.cell(row, column) + "\" instead of \"" + text + "\"");
    }
    return {};
}

bool logged(const MeterTable& table, const std::string& start)
{
    for (const auto& line : table.readerLog)
        if (line.rfind(start, 0) == 0)
            return true;
    return false;
}

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The meters the window has heard, as the table announced them.
struct HeardMeters : MeterTableListener {
    explicit HeardMeters(const MeterTable& t)
        : table(t)
    {
    }
    void rowUpdated(int row) override { ids.insert(table.cell(row, col::MeterId)); }
    const MeterTable& table;
    std::set<std::string> ids;
};

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void programReadsTheWalk();
    void v1ReceiverIsSetUpAtStart();
    void lostReceiverEndsTheReading();
    void captureBringsBackAReadingCutShort();

private:
    std::vector<RealTelegram> m_walk;
};

void EndToEndTest::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    m_walk = walkTelegrams();
    QCOMPARE(m_walk.size(), kWalk.size());
    QVERIFY(std::count_if(m_walk.begin(), m_walk.end(), [](const RealTelegram& t) { return !t.key.empty(); }) >= 1);
}

void EndToEndTest::programReadsTheWalk()
{
    ProgramFolder folder(m_walk, "V1=0\r\nV2=1\r\n");
    SimProcess sim({"--link", folder.port(), "--rate", "20", "--start-delay", "100", folder.capture()});
    QVERIFY2(!sim.port().empty(), qPrintable(q(sim.errorText())));

    // Any box the program shows would wait for a click that never comes: note it and close it.
    QStringList boxes;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&boxes] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            auto* message = qobject_cast<QMessageBox*>(box);
            boxes << box->windowTitle() + (message ? ": " + message->text() : QString());
            box->close();
        }
    });
    watch.start(50);

    Program program(folder.programFile());
    TForm1& window = program.mainWindow();
    program.show();
    window.Butt_read->click();
    QCOMPARE(window.Butt_read->text(), QString("Stop"));

    const char separator = SystemFormats().decimalSeparator();
    QTRY_COMPARE_WITH_TIMEOUT(missing(window.table(), m_walk, separator), QString(), kReadTimeoutMs);
    QCOMPARE(window.table().dataRowCount(), int(m_walk.size()));
    QCOMPARE(window.Tree_meters->topLevelItemCount(), int(m_walk.size()));
    for (const auto& t : m_walk) {
        const int row = window.table().findMeterRow(t.meterId);
        QVERIFY2(window.table().flag(RowFlag::Decrypted, row), t.meterId.c_str());
        QCOMPARE(q(window.table().cell(row, col::EncryptionKey)), q(t.key));
    }

    window.Butt_read->click();
    QCOMPARE(window.Butt_read->text(), QString("Start"));
    QVERIFY(!window.reading().portOpen());
    QCOMPARE(window.StatusPanel0->text(), q(folder.port() + " is closed"));

    // The port opens again for a second reading and closes again.
    window.Butt_read->click();
    QCOMPARE(window.Butt_read->text(), QString("Stop"));
    QVERIFY(window.reading().portOpen());
    window.Butt_read->click();
    QCOMPARE(window.Butt_read->text(), QString("Start"));
    QVERIFY(!window.reading().portOpen());
    QCOMPARE(window.table().dataRowCount(), int(m_walk.size()));
    QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join("; ")));
    window.hide();
}

void EndToEndTest::v1ReceiverIsSetUpAtStart()
{
    ProgramFolder folder(m_walk, "V1=1\r\nV2=0\r\nSetModeRAM=1\r\nCMode=S2\r\n");
    SimProcess sim({"--link", folder.port(), "--rate", "20", "--start-delay", "100", "--log", folder.simLog(),
                    folder.capture()});
    QVERIFY2(!sim.port().empty(), qPrintable(q(sim.errorText())));
    Reader reader(folder);
    TForm1& window = *reader.window;

    window.Butt_read->click();
    QCOMPARE(window.Butt_read->text(), QString("Stop"));
    // The receiver answered its prompt both times: no warning about accept-all mode.
    QCOMPARE(reader.op.messages.size(), size_t(0));

    // Wake, accept all (I 2), end; wake, radio mode S2 in RAM (G 0), end.
    const std::string exchange("\x00\x49\x02\x58\x00\x47\x00\x58", 8);
    QTRY_VERIFY_WITH_TIMEOUT(palvero::test::readFile(folder.simLog()).size() >= exchange.size(), kReadTimeoutMs);
    QCOMPARE(palvero::test::readFile(folder.simLog()).substr(0, exchange.size()), exchange);

    QTRY_COMPARE_WITH_TIMEOUT(missing(window.table(), m_walk, reader.formats.decimalSeparator()), QString(),
                              kReadTimeoutMs);
    window.Butt_read->click();
    QCOMPARE(window.Butt_read->text(), QString("Start"));
    QVERIFY(!reader.port.isOpen());
    QCOMPARE(window.StatusPanel0->text(), q(folder.port() + " is closed"));
    // Reading writes nothing more to the receiver.
    QCOMPARE(palvero::test::readFile(folder.simLog()), exchange);
}

void EndToEndTest::lostReceiverEndsTheReading()
{
    ProgramFolder folder(m_walk, "V1=0\r\nV2=1\r\n");
    SimProcess sim({"--link", folder.port(), "--rate", "20", "--start-delay", "100", "--close-after", "3",
                    folder.capture()});
    QVERIFY2(!sim.port().empty(), qPrintable(q(sim.errorText())));
    Reader reader(folder);
    TForm1& window = *reader.window;
    HeardMeters heard(window.table());
    window.table().addListener(&heard);

    window.Butt_read->click();
    QCOMPARE(window.Butt_read->text(), QString("Stop"));
    QTRY_COMPARE_WITH_TIMEOUT(window.Butt_read->text(), QString("Start"), kReadTimeoutMs);
    window.table().removeListener(&heard);

    QCOMPARE(window.StatusPanel0->text(), q(folder.port() + " is closed"));
    QVERIFY(logged(window.table(), "The receiver on " + folder.port() + " was lost"));
    QVERIFY(!window.Timer_elapsedTime->isActive());
    QVERIFY(!reader.port.isOpen());
    QVERIFY(!heard.ids.empty());
    std::set<std::string> inTable;
    for (int r = 1; r < window.table().rowCount(); ++r)
        inTable.insert(window.table().cell(r, col::MeterId));
    QVERIFY(inTable == heard.ids);
    QCOMPARE(window.Tree_meters->topLevelItemCount(), int(heard.ids.size()));

    // The dead line must not keep the event loop busy: a 10 ms timer keeps its pace and the
    // process stays nearly idle for a second.
    int beats = 0;
    QTimer beat;
    connect(&beat, &QTimer::timeout, this, [&beats] { ++beats; });
    beat.start(10);
    const double cpuBefore = cpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = cpuSeconds() - cpuBefore;
    beat.stop();
    QVERIFY2(beats >= 20, qPrintable(QString("%1 beats").arg(beats)));
    QVERIFY2(cpu < 0.25, qPrintable(QString("%1 s of processor time in one second").arg(cpu)));
    QCOMPARE(window.Butt_read->text(), QString("Start"));

    // With the receiver gone, Start finds no port and the rows stay.
    QVERIFY(sim.waitExit(kReadTimeoutMs));
    window.Butt_read->click();
    QCOMPARE(window.Butt_read->text(), QString("Start"));
    QVERIFY(!reader.port.isOpen());
    QCOMPARE(window.StatusPanel0->text(), q(folder.port() + " is closed"));
    QCOMPARE(window.table().dataRowCount(), int(heard.ids.size()));
    // One box says that the port is not there and where to choose another.
    QCOMPARE(reader.op.messages.size(), size_t(1));
    QVERIFY(q(reader.op.messages[0].text).contains(q(folder.port() + " does not exist")));
}

void EndToEndTest::captureBringsBackAReadingCutShort()
{
    ProgramFolder folder(m_walk, "V1=0\r\nV2=1\r\n");
    SimProcess sim({"--link", folder.port(), "--rate", "4", "--start-delay", "100", folder.capture()});
    QVERIFY2(!sim.port().empty(), qPrintable(q(sim.errorText())));
    auto reader = std::make_unique<Reader>(folder);
    HeardMeters heard(reader->window->table());
    reader->window->table().addListener(&heard);
    reader->window->Butt_read->click();
    QCOMPARE(reader->window->Butt_read->text(), QString("Stop"));

    // The receiver dies midway through the walk.
    QTRY_VERIFY_WITH_TIMEOUT(heard.ids.size() >= 2, kReadTimeoutMs);
    sim.signal(SIGKILL);
    QVERIFY(sim.waitExit(kReadTimeoutMs));
    QTRY_COMPARE_WITH_TIMEOUT(reader->window->Butt_read->text(), QString("Start"), kReadTimeoutMs);
    reader->window->table().removeListener(&heard);
    std::map<std::string, std::string> values;
    for (const std::string& id : heard.ids)
        values[id] = reader->window->table().cell(reader->window->table().findMeterRow(id), col::MainValue);
    QVERIFY(heard.ids.size() < m_walk.size());

    // The program goes away without saving anything.
    reader.reset();

    std::vector<fs::path> captures;
    for (const auto& entry : fs::directory_iterator(folder.dir / "files" / "captures"))
        captures.push_back(entry.path());
    QCOMPARE(captures.size(), size_t(1));

    Reader again(folder);
    TForm1& window = *again.window;
    again.op.fileAnswers.push_back(captures[0].string());
    window.findChild<QAction*>("Replaycapture1")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!window.captureReplay().running(), kReadTimeoutMs);
    QCOMPARE(window.table().dataRowCount(), int(heard.ids.size()));
    for (const auto& [id, value] : values) {
        const int row = window.table().findMeterRow(id);
        QVERIFY2(row > 0, id.c_str());
        QCOMPARE(q(window.table().cell(row, col::MainValue)), q(value));
        QVERIFY2(window.table().flag(RowFlag::Decrypted, row), id.c_str());
    }
    QCOMPARE(window.Tree_meters->topLevelItemCount(), int(heard.ids.size()));
    QCOMPARE(again.op.messages.size(), size_t(0));
}

QTEST_MAIN(EndToEndTest)
#include "end_to_end_test.moc"
