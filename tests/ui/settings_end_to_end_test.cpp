// The Settings window's receiver commands over pseudo-terminals: wmbus-sim answers the v1
// exchange and the v2 text commands and logs every byte the program sent; a terminal
// that nobody answers stands for a silent receiver.

#include "choose_from_list.h"
#include "error_log.h"
#include "main_window.h"
#include "meters_file.h"
#include "qt_serial_port.h"
#include "scripted_operator.h"
#include "settings_window.h"
#include "sim_process.h"
#include "status_lamp.h"
#include "temp_dir.h"
#include "thread_sleeper.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <memory>

using namespace palvero;
using palvero::test::ScriptedOperator;
using palvero::test::SimProcess;
using palvero::test::TempDir;

namespace {

namespace fs = std::filesystem;

// Generous: the simulator and the program share two cores with the rest of the tests.
constexpr int kWaitMs = 20000;

// One water meter, played again and again while a reading runs.
const char* const kCapture = "18 44 2D 2C 78 56 34 12 01 07 7A 01 00 00 00 04 13 E8 03 00 00 02 5A E8 03 rssi=9A\n";

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}

// "00 4D 12 02": two upper-case digits a byte, one space between bytes.
QString hex(const std::string& bytes)
{
    return QByteArray::fromStdString(bytes).toHex(' ').toUpper();
}

// A program folder whose settings name the simulated receiver's link as the port.
struct Folder {
    explicit Folder(const std::string& ini)
    {
        fs::create_directories(dir / "files");
        palvero::test::writeFile(dir / "walk.txt", kCapture);
        palvero::test::writeFile(dir / "palvero.ini",
                                 "[Com port]\r\nName=" + port() + "\r\nSpeed=115200\r\nParity=None\r\n" + ini);
    }
    std::string port() const { return (dir / "receiver").string(); }
    std::string log() const { return palvero::test::readFile(dir / "sim.log"); }
    // The simulator on the folder's link; its frames start after startDelayMs.
    std::vector<std::string> simArgs(int startDelayMs, const std::vector<std::string>& more = {}) const
    {
        std::vector<std::string> args = {"--link", port(), "--log", (dir / "sim.log").string(), "--start-delay",
                                         std::to_string(startDelayMs)};
        args.insert(args.end(), more.begin(), more.end());
        args.push_back((dir / "walk.txt").string());
        return args;
    }

    TempDir dir;
};

// Both windows wired as the program wires them, with real ports and waits, and a scripted
// operator so that no box can stop the test.
struct Rig {
    explicit Rig(const Folder& folder)
        : paths(folder.dir / "palvero")
        , errorLog(paths.dataFolder(), formats, op)
        , meters(paths.dataFolder(), errorLog)
    {
        main = std::make_unique<TForm1>(
            MainWindowContext{settings, formats, op, errorLog, &meters, port, sleeper, paths});
        window = std::make_unique<TSettings>(
            SettingsWindowContext{settings, main->table(), main->reading(), commandPort, sleeper, op, paths});
        window->show();
    }
    bool logged(const std::string& line) const
    {
        const auto& log = main->table().readerLog;
        return std::find(log.begin(), log.end(), line) != log.end();
    }

    ProgramPaths paths;
    Settings settings;
    FixedFormats formats;
    ScriptedOperator op;
    ErrorLog errorLog;
    MetersFile meters;
    QtSerialPort port;
    QtSerialPort commandPort;
    ThreadSleeper sleeper;
    std::unique_ptr<TForm1> main;
    std::unique_ptr<TSettings> window;
};

// A pseudo-terminal whose far end never answers: a receiver that is switched off.
class SilentReceiver {
public:
    SilentReceiver()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
            return;
        termios t{};
        tcgetattr(m_master, &t);
        cfmakeraw(&t);
        tcsetattr(m_master, TCSANOW, &t);
        if (const char* name = ptsname(m_master))
            m_slave = name;
    }
    ~SilentReceiver()
    {
        if (m_master >= 0)
            ::close(m_master);
    }
    const std::string& slave() const { return m_slave; }
    // Everything the program has written so far.
    std::string heard()
    {
        std::string got;
        char buf[256];
        pollfd p{m_master, POLLIN, 0};
        while (poll(&p, 1, 100) > 0) {
            ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, size_t(n));
        }
        return got;
    }

private:
    int m_master = -1;
    std::string m_slave;
};

struct HeardRows : MeterTableListener {
    void rowUpdated(int) override { ++rows; }
    int rows = 0;
};

} // namespace

class SettingsEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void v1SetButtonsPutTheirBytesOnTheWire();
    void radioModeChosenWithTheMouseGoesOnTheWire();
    void silentV1ReceiverTurnsTheLampRed();
    void v2CommandsAndTheirReplies();
    void v2CommandFindsTheReadingPortTaken();
    void setDuringAReadingKeepsItReceiving();
    void portListHoldsTheSimulatedReceiver();
};

void SettingsEndToEndTest::v1SetButtonsPutTheirBytesOnTheWire()
{
    Folder folder("[Wireless]\r\nV1=1\r\nV2=0\r\n");
    SimProcess sim(folder.simArgs(600000));
    QVERIFY2(!sim.port().empty(), qPrintable(q(sim.errorText())));
    Rig rig(folder);
    TSettings& w = *rig.window;

    w.Combo_RCtype->setCurrentText("REPEATER");
    w.Combo_RFPower->setCurrentText("3");
    w.Combo_RCmode->setCurrentText("T1+C");
    w.Combo_protocol->setCurrentText("MORVANE with CRC");
    w.Check_setRSSI->setChecked(false);
    w.Combo_installMode->setCurrentText("Accept All");
    const std::pair<QPushButton*, std::string> presses[] = {
        {w.Button1, "00 4D 12 02 FF 58"}, {w.BitBtn8, "00 4D 01 03 FF 58"}, {w.Button2, "00 4D 03 0A FF 58"},
        {w.BitBtn7, "00 4D 36 0C FF 58"}, {w.BitBtn6, "00 4D 05 00 FF 58"}, {w.Button3, "00 4D 3D 02 FF 58"},
    };
    std::string expected;
    for (const auto& [button, bytes] : presses) {
        w.StatusPanel1->clear();
        button->click();
        QCOMPARE(w.StatusPanel1->text(), QString("Parameter succesfully saved!"));
        QCOMPARE(w.LED_success->colour(), TSettings::kLampSuccess);
        QVERIFY(!rig.port.isOpen());
        expected += (expected.empty() ? "" : " ") + bytes;
        QTRY_COMPARE_WITH_TIMEOUT(hex(folder.log()), q(expected), kWaitMs);
    }
    QCOMPARE(rig.main->StatusPanel0->text(), q(folder.port() + " is closed"));
    QVERIFY(rig.op.messages.empty());
}

void SettingsEndToEndTest::radioModeChosenWithTheMouseGoesOnTheWire()
{
    Folder folder("[Wireless]\r\nV1=1\r\nV2=0\r\nCMode=T1\r\n");
    SimProcess sim(folder.simArgs(600000));
    QVERIFY2(!sim.port().empty(), qPrintable(q(sim.errorText())));
    Rig rig(folder);
    TSettings& w = *rig.window;
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));

    QVERIFY(palvero::test::chooseFromList(w.Combo_RCmode, "T1+C", true));
    QCOMPARE(q(rig.settings.CMode), QString("T1+C"));
    QTest::mouseClick(w.Button2, Qt::LeftButton);
    QCOMPARE(w.StatusPanel1->text(), QString("Parameter succesfully saved!"));
    QTRY_COMPARE_WITH_TIMEOUT(hex(folder.log()), QString("00 4D 03 0A FF 58"), kWaitMs);
    QVERIFY(rig.op.messages.empty());
}

void SettingsEndToEndTest::silentV1ReceiverTurnsTheLampRed()
{
    SilentReceiver receiver;
    QVERIFY(!receiver.slave().empty());
    Folder folder("[Wireless]\r\nV1=1\r\nV2=0\r\n");
    palvero::test::writeFile(folder.dir / "palvero.ini",
                             "[Com port]\r\nName=" + receiver.slave() + "\r\n[Wireless]\r\nV1=1\r\nV2=0\r\n");
    Rig rig(folder);
    TSettings& w = *rig.window;

    QElapsedTimer timer;
    timer.start();
    w.Button2->click();
    QVERIFY(timer.elapsed() >= 1000); // the prompt is awaited for 1000 ms
    QCOMPARE(w.StatusPanel1->text(), QString("Error setting parameter"));
    QCOMPARE(w.LED_success->colour(), TSettings::kLampFailure);
    QCOMPARE(hex(receiver.heard()), QString("00 FF 58"));
    QTRY_COMPARE_WITH_TIMEOUT(w.LED_success->colour(), TSettings::kLampIdle, 3000);
}

void SettingsEndToEndTest::v2CommandsAndTheirReplies()
{
    Folder folder("");
    SimProcess sim(folder.simArgs(600000));
    QVERIFY2(!sim.port().empty(), qPrintable(q(sim.errorText())));
    Rig rig(folder);
    TSettings& w = *rig.window;
    auto waitForReply = [&w] { QTRY_VERIFY_WITH_TIMEOUT(!w.Timer_setv2->isActive(), kWaitMs); };

    w.Combo_S2mode->setCurrentText("S1");
    w.BitBtn3->click();
    QVERIFY(!w.Combo_com_name->isEnabled());
    waitForReply();
    QCOMPARE(w.Memo_S2->toPlainText(), QString("OK"));
    QVERIFY(w.Combo_com_name->isEnabled());
    QCOMPARE(q(folder.log()), QString("set wmod=3"));

    w.Edit_S2masterkey->setText("00112233445566778899aabbccddeeff");
    w.BitBtn9->click();
    waitForReply();
    w.BitBtn12->click();
    waitForReply();
    QCOMPARE(q(folder.log()), QString("set wmod=3set mkey=00112233445566778899AABBCCDDEEFFget main"));
    const QStringList replies = w.Memo_S2->toPlainText().split('\n');
    QCOMPARE(replies.size(), 3);
    QCOMPARE(replies[1], QString("OK"));
    QVERIFY2(replies[2].contains("wmod=3 (S1)") && replies[2].contains("mkey set"), qPrintable(replies[2]));
    QVERIFY(!rig.commandPort.isOpen());
    QVERIFY(rig.logged(folder.port() + " - 115200,8,None"));
    QVERIFY(rig.op.messages.empty());
}

void SettingsEndToEndTest::v2CommandFindsTheReadingPortTaken()
{
    Folder folder("");
    SimProcess sim(folder.simArgs(600000));
    QVERIFY2(!sim.port().empty(), qPrintable(q(sim.errorText())));
    Rig rig(folder);
    TSettings& w = *rig.window;

    rig.main->Butt_read->click();
    QCOMPARE(rig.main->Butt_read->text(), QString("Stop"));
    // The program's own reading holds the port: the command says so instead of probing it.
    for (QPushButton* command : {w.BitBtn12, w.Butt_S2decryption, w.Button4}) {
        rig.op.messages.clear();
        command->click();
        QCOMPARE(rig.op.messages.size(), size_t(1));
        QCOMPARE(q(rig.op.messages[0].text), QString(V2Commands::kReadingHoldsPortText));
        QCOMPARE(w.StatusPanel1->text(), QString("Stop the reading first"));
    }
    QVERIFY(!rig.logged("The selected serial port (" + folder.port() + ") is in use by another program!"));
    QVERIFY(!w.Timer_setv2->isActive());
    QCOMPARE(rig.main->Butt_read->text(), QString("Stop"));
    rig.main->Butt_read->click();
    QCOMPARE(q(folder.log()), QString());
}

void SettingsEndToEndTest::setDuringAReadingKeepsItReceiving()
{
    Folder folder("[Wireless]\r\nV1=1\r\nV2=0\r\nSetModeRAM=0\r\n");
    SimProcess sim(folder.simArgs(100, {"--loop", "--rate", "5"}));
    QVERIFY2(!sim.port().empty(), qPrintable(q(sim.errorText())));
    Rig rig(folder);
    HeardRows heard;
    rig.main->table().addListener(&heard);

    rig.main->Butt_read->click();
    QCOMPARE(rig.main->Butt_read->text(), QString("Stop"));
    QTRY_VERIFY_WITH_TIMEOUT(heard.rows > 0, kWaitMs);

    rig.window->BitBtn8->click();
    QCOMPARE(rig.window->StatusPanel1->text(), QString("Parameter succesfully saved!"));
    QCOMPARE(rig.main->Butt_read->text(), QString("Stop"));
    QVERIFY(rig.main->reading().portOpen());
    QVERIFY(rig.port.isOpen());
    heard.rows = 0;
    QTRY_VERIFY_WITH_TIMEOUT(heard.rows >= 2, kWaitMs);
    QCOMPARE(rig.main->table().cell(1, col::MeterId), std::string("12345678"));

    rig.main->Butt_read->click();
    rig.main->table().removeListener(&heard);
    QCOMPARE(hex(folder.log()), QString("00 49 02 58 00 4D 01 05 FF 58"));
    QVERIFY(rig.op.messages.empty());
}

void SettingsEndToEndTest::portListHoldsTheSimulatedReceiver()
{
    Folder folder("");
    SimProcess sim(folder.simArgs(600000));
    QVERIFY2(!sim.port().empty(), qPrintable(q(sim.errorText())));
    Rig rig(folder);
    QComboBox* names = rig.window->Combo_com_name;
    const int index = names->findText(q(folder.port()));
    QVERIFY(index >= 0);
    QCOMPARE(names->currentText(), q(folder.port()));
    QCOMPARE(names->itemData(index, Qt::ToolTipRole).toString(), q(folder.port()));

    // With the simulator gone its port is gone: the list says so, and Start says that the
    // port does not exist rather than that it is in use.
    sim.signal(SIGTERM);
    QVERIFY(sim.waitExit(kWaitMs));
    rig.window->hide();
    rig.window->show();
    QCOMPARE(names->itemData(names->findText(q(folder.port())), Qt::ToolTipRole).toString(),
             q(folder.port() + " (not present)"));
    rig.main->Butt_read->click();
    QCOMPARE(rig.main->Butt_read->text(), QString("Start"));
    QVERIFY(rig.logged("The selected serial port (" + folder.port() + ") does not exist!"));
}

QTEST_MAIN(SettingsEndToEndTest)
#include "settings_end_to_end_test.moc"
