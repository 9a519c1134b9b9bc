// The main window with a central database: the outbox filled while reading, the two Tools
// commands, the count of readings waiting, the send at Stop, and what the operator is told
// when the server says no or cannot be reached. Against the test run's PostgreSQL server.

#include "central_link.h"
#include "fake_serial_port.h"
#include "main_window.h"
#include "meters_file.h"
#include "office.h"
#include "outbox.h"
#include "route_progress.h"
#include "schema.h"
#include "scripted_operator.h"
#include "temp_dir.h"
#include "test_server.h"

#include "safe_file.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QtTest>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace palvero;
using palvero::test::FakeSerialPort;
using palvero::test::FakeSleeper;
using palvero::test::ScriptedOperator;
using palvero::test::TempDir;

namespace {

namespace fs = std::filesystem;

constexpr char kPassword[] = "walk-by-7";

class NullLog : public ErrorLogger {
public:
    void LogErrorCode(int) override {}
    void LogErrorText(const std::string&) override {}
    void beginReading(std::function<void(const std::string&)>) override {}
    void endReading() override {}
};

// A water meter's plain frame with one volume record.
std::vector<uint8_t> meterFrame(const std::string& id)
{
    std::vector<uint8_t> f = {0x68, 0x00, 0x44, 0x2D, 0x2C};
    for (int i = 3; i >= 0; --i)
        f.push_back(uint8_t(std::stoi(id.substr(size_t(i) * 2, 2), nullptr, 16)));
    const uint8_t rest[] = {0x01, 0x07, 0x7A, 0x01, 0x00, 0x00, 0x00, 0x04, 0x13, 0xE8, 0x03, 0x00, 0x00, 0x9A, 0x16};
    f.insert(f.end(), std::begin(rest), std::end(rest));
    f[1] = uint8_t(f.size() - 3);
    return f;
}

// A server that takes the connection and never answers, as one behind a network that has
// gone: libpq waits for it until its time-out. Closing it refuses at once.
class SilentServer {
public:
    SilentServer()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(m_fd, 8) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            qFatal("no listening socket: %s", std::strerror(errno));
        m_setting = "host=127.0.0.1 port=" + std::to_string(ntohs(address.sin_port))
            + " dbname=x user=y sslmode=disable gssencmode=disable connect_timeout=10";
    }
    ~SilentServer() { close(); }
    void close() { m_fd = m_fd >= 0 ? (::close(m_fd), -1) : -1; }
    const std::string& setting() const { return m_setting; }

private:
    int m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::string m_setting;
};

struct Harness {
    explicit Harness(const std::string& palveroSection)
    {
        fs::create_directories(dir / "files");
        palvero::test::writeFile(dir / "files" / "meters.mrv", "");
        palvero::test::writeFile(dir / "files" / "db.mrv", "");
        palvero::test::writeFile(dir / "palvero.ini", "[Misc]\r\nFontSize=8\r\n" + palveroSection);
        settings.Name = "ttyS9";
        settings.V1 = false;
        settings.AES128_5 = true;
        window = std::make_unique<TForm1>(
            MainWindowContext{settings, formats, op, log, nullptr, port, sleeper, ProgramPaths(dir / "palvero")});
    }
    void read(std::initializer_list<const char*> ids)
    {
        window->Butt_read->click();
        for (const char* id : ids)
            port.arrive(meterFrame(id));
        window->Butt_read->click();
    }
    QAction* action(const char* name) { return window->findChild<QAction*>(name); }
    std::string lastMessage() const { return op.messages.empty() ? "" : op.messages.back().text; }
    int passwordQuestions() const
    {
        int n = 0;
        for (const auto& m : op.messages)
            n += m.text == kPasswordText;
        return n;
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

class CentralWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void withoutACentralDatabaseNothingChanges();
    void routesComeInAndReadingsGoOutFromTheToolsMenu();
    void refusedAndUnreachableServersLoseNothing();
    void readingsAreSentAtStopWhenSet();
    void aStopWhileTheServerDoesNotAnswerLeavesTheWindowFree();
    void gettingRoutesFromAServerThatDoesNotAnswerIsCancelled();
    void aFullDiskIsToldAsSuch();

private:
    // A database with the schema, the operator anna and her route North of three meters.
    std::string section(bool sendOnStop = false);
    long count(const std::string& sql);

    test::TestServer* m_server = nullptr;
    std::string m_why; // when there is no server
    std::string m_database;
    std::string m_anna;
};

void CentralWindowTest::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    m_server = test::TestServer::get(m_why);
    if (m_server) {
        m_database = m_server->newDatabase("window");
        auto admin = m_server->connect(m_server->adminOf(m_database));
        std::vector<std::string> applied;
        central::Outcome outcome;
        QVERIFY2(central::upgradeSchema(*admin, applied, outcome), outcome.detail.c_str());
        m_anna = m_server->addOperator(m_database, "anna", kPassword);
        TempDir dir;
        palvero::test::writeFile(dir / "routes.csv",
                                 "North;" + m_anna + ";" + central::today().text() + ";10000001;" + std::string(32, 'A')
                                     + ";Main street 1\n"
                                     + "North;" + m_anna + ";" + central::today().text() + ";20000002;;\n"
                                     + "North;" + m_anna + ";" + central::today().text() + ";30000003;;\n");
        central::RoutesImport imported;
        QVERIFY(central::importRoutes(*admin, dir / "routes.csv", ";", CodePage::Windows1252, imported, outcome));
    }
}

std::string CentralWindowTest::section(bool sendOnStop)
{
    return "[Palvero]\r\nCentralDatabase=" + m_server->as(m_database, m_anna) + "\r\nCentralLaptop=laptop-7\r\n"
        + (sendOnStop ? "CentralSendOnStop=1\r\n" : "");
}

long CentralWindowTest::count(const std::string& sql)
{
    auto admin = m_server->connect(m_server->adminOf(m_database));
    central::PgResult r = admin->exec(sql);
    return r.ok() ? std::stol(r.text(0, 0)) : -1;
}

void CentralWindowTest::withoutACentralDatabaseNothingChanges()
{
    Harness h("");
    QVERIFY(!h.action("Getmyroutes1"));
    QVERIFY(!h.action("Sendreadings1"));
    QVERIFY(!h.window->StatusPanel_outbox);
    h.read({"10000001"});
    QCOMPARE(h.window->table().cell(1, col::MeterId), std::string("10000001"));
    QVERIFY(!fs::exists(h.dir / "files" / central::kOutboxFileName));
    QVERIFY(h.op.messages.empty());
}

void CentralWindowTest::routesComeInAndReadingsGoOutFromTheToolsMenu()
{
    if (!m_server)
        QSKIP(m_why.c_str());
    Harness h(section());
    QCOMPARE(h.window->StatusPanel_outbox->text(), QString("Readings to send: 0"));
    h.read({"10000001", "99999999"});
    QCOMPARE(h.window->StatusPanel_outbox->text(), QString("Readings to send: 2"));
    // A replayed capture was heard on its own walk: it adds no readings.
    h.window->reception().receive(meterFrame("20000002"));
    QCOMPARE(h.window->central().waitingCount(), 2);

    // The stored key of one meter differs; the operator keeps it.
    MetersFile meters(h.dir / "files", h.log);
    QCOMPARE(meters.SaveMeter("10000001", std::string(32, 'B')), int(MetersFile::MeterAdded));
    h.op.passwordAnswers = {std::string(kPassword)};
    h.op.yesNoAnswers = {false};
    h.action("Getmyroutes1")->trigger();
    QVERIFY(h.op.messages.size() >= 3);
    const std::string question = h.op.messages[h.op.messages.size() - 2].text;
    QCOMPARE(question, "1 meter has another key in the central database than in meters.mrv:\n10000001: "
                           + std::string(32, 'B') + " -> " + std::string(32, 'A')
                           + "\nTake the keys of the central database?");
    QCOMPARE(h.lastMessage(), std::string("1 route with 3 meters taken: 2 meters new in meters.mrv, 0 keys changed.\n"
                                          "1 stored key was kept."));
    QCOMPARE(meters.FindMeterKey("10000001").key, std::string(32, 'B'));
    QCOMPARE(meters.ReadAll().size(), size_t(3));
    QCOMPARE(h.window->StatusPanel2->text(), QString("Read 2 of 3 known meters"));
    QCOMPARE(h.window->route().meters()[1].id, std::string("20000002"));

    h.window->central().setBatchSize(1);
    h.action("Sendreadings1")->trigger();
    QVERIFY(h.window->central().sending());
    QVERIFY(h.window->central().progressDialog());
    QTRY_VERIFY(!h.window->central().sending());
    QCOMPARE(h.lastMessage(), std::string("Readings sent: 2."));
    QCOMPARE(h.window->StatusPanel_outbox->text(), QString("Readings to send: 0"));
    QCOMPARE(count("SELECT count(*) FROM readings WHERE laptop = 'laptop-7' AND operator_name = '" + m_anna
                   + "' AND main_value <> ''"),
             2L);
    // The password was asked once in this run.
    QCOMPARE(h.passwordQuestions(), 1);
    h.action("Sendreadings1")->trigger();
    QCOMPARE(h.lastMessage(), std::string("No readings wait to be sent."));
}

void CentralWindowTest::refusedAndUnreachableServersLoseNothing()
{
    if (!m_server)
        QSKIP(m_why.c_str());
    struct Case {
        const char* name;
        std::string section;
        std::optional<std::string> password;
        std::string told;
    };
    const Case cases[] = {
        {"wrong password", section(), std::string("not-it"), "The central database refused the password.\n"},
        {"password not given", section(), std::nullopt, "The central database needs a password.\n"},
        {"no server", "[Palvero]\r\nCentralDatabase=host=/nonexistent dbname=x\r\n", std::nullopt,
         "The central database cannot be reached.\n"},
        {"password in the settings", "[Palvero]\r\nCentralDatabase=host=/nonexistent password=secret\r\n",
         std::nullopt, "CentralDatabase in palvero.ini holds a password: remove it"},
    };
    for (const Case& c : cases) {
        Harness h(c.section);
        h.read({"10000001"});
        const std::string outbox = palvero::test::readFile(h.dir / "files" / central::kOutboxFileName);
        h.op.passwordAnswers = {c.password};
        h.action("Sendreadings1")->trigger();
        QVERIFY2(!h.window->central().sending(), c.name);
        QVERIFY2(h.lastMessage().rfind(c.told, 0) == 0, (std::string(c.name) + ": " + h.lastMessage()).c_str());
        QVERIFY2(h.lastMessage().find("The readings wait in the outbox (1).") != std::string::npos, c.name);
        QCOMPARE(palvero::test::readFile(h.dir / "files" / central::kOutboxFileName), outbox);
        QCOMPARE(h.window->StatusPanel_outbox->text(), QString("Readings to send: 1"));
        h.action("Getmyroutes1")->trigger();
        QVERIFY2(h.lastMessage().find("The routes and meters.mrv stay as they are.") != std::string::npos, c.name);
        QCOMPARE(palvero::test::readFile(h.dir / "files" / "meters.mrv"), std::string());
    }
}

void CentralWindowTest::readingsAreSentAtStopWhenSet()
{
    if (!m_server)
        QSKIP(m_why.c_str());
    const long before = count("SELECT count(*) FROM readings");
    Harness h(section(true));
    h.op.passwordAnswers = {std::string(kPassword)};
    h.read({"10000001", "20000002", "30000003"});
    QTRY_COMPARE(count("SELECT count(*) FROM readings"), before + 3);
    QTRY_VERIFY(!h.window->central().sending());
    QCOMPARE(h.window->StatusPanel_outbox->text(), QString("Readings to send: 0"));
    // No box at Stop when all went well; the reader log keeps the line.
    QCOMPARE(h.passwordQuestions(), 1);
    QCOMPARE(int(h.op.messages.size()), 1);
    QCOMPARE(h.window->table().readerLog.back(), std::string("Central database: Readings sent: 3."));

    // The exit sends what the last walk heard before the window goes.
    h.window->Butt_read->click();
    h.port.arrive(meterFrame("10000001"));
    h.op.yesNoAnswers = {true};
    QVERIFY(h.window->close());
    QCOMPARE(count("SELECT count(*) FROM readings"), before + 4);
    QCOMPARE(h.window->central().waitingCount(), 0);

    // At Stop without the server the reading goes on as before: no box, the outbox waits.
    Harness away("[Palvero]\r\nCentralDatabase=host=/nonexistent dbname=x\r\nCentralSendOnStop=1\r\n");
    away.read({"10000001"});
    QTest::qWait(50);
    QVERIFY(away.op.messages.empty());
    QCOMPARE(away.window->StatusPanel_outbox->text(), QString("Readings to send: 1"));
}

void CentralWindowTest::aStopWhileTheServerDoesNotAnswerLeavesTheWindowFree()
{
    SilentServer silent;
    Harness h("[Palvero]\r\nCentralDatabase=" + silent.setting() + "\r\nCentralSendOnStop=1\r\n");
    h.read({"10000001"});
    QTRY_VERIFY(h.window->central().sending());
    // While the send waits for the server, reading goes on.
    h.read({"20000002"});
    QCOMPARE(h.window->central().waitingCount(), 2);
    h.action("Getmyroutes1")->trigger();
    QCOMPARE(h.lastMessage(), std::string(kBusyText));

    silent.close();
    QTRY_VERIFY(!h.window->central().sending());
    QCOMPARE(int(h.op.messages.size()), 1);
    QCOMPARE(h.window->StatusPanel_outbox->text(), QString("Readings to send: 2"));
    QVERIFY(h.window->table().readerLog.back().rfind("Central database: The central database cannot be reached.", 0) == 0);
}

void CentralWindowTest::gettingRoutesFromAServerThatDoesNotAnswerIsCancelled()
{
    SilentServer silent;
    Harness h("[Palvero]\r\nCentralDatabase=" + silent.setting() + "\r\n");
    bool shown = false;
    QTimer operatorHand; // clicks Cancel once "Connecting..." shows
    connect(&operatorHand, &QTimer::timeout, [&] {
        auto* progress = h.window->findChild<QProgressDialog*>("Progress_connect");
        if (!shown && progress && progress->isVisible()) {
            shown = progress->labelText() == "Connecting to the central database...";
            progress->findChild<QPushButton*>()->click();
        }
    });
    operatorHand.start(20);
    QVERIFY(!h.window->central().getMyRoutes());
    QVERIFY(shown);
    QVERIFY(h.op.messages.empty());
    QCOMPARE(h.window->table().readerLog.back(),
             std::string("Central database: Cancelled.\nThe routes and meters.mrv stay as they are."));
    silent.close(); // the abandoned connect ends before the window goes
}

void CentralWindowTest::aFullDiskIsToldAsSuch()
{
    Harness h("[Palvero]\r\nCentralDatabase=host=/nonexistent dbname=x\r\n");
    {
        ScopedWriteFault full(ENOSPC);
        h.read({"10000001"});
    }
    const std::string told = "The readings cannot be kept for the central database: outbox.txt cannot be written, the "
                             "disk is full!\nAny earlier file of that name is unchanged.\nReading goes on; the capture "
                             "keeps every telegram.";
    QVERIFY(std::any_of(h.op.messages.begin(), h.op.messages.end(), [&](const auto& m) { return m.text == told; }));
    h.read({"10000001"});
    QCOMPARE(h.window->central().waitingCount(), 1);
    if (!m_server)
        return;
    Harness routes(section()); // meters.mrv on a full disk at Get my routes
    routes.op.passwordAnswers = {std::string(kPassword)};
    {
        ScopedWriteFault full(ENOSPC);
        routes.action("Getmyroutes1")->trigger();
    }
    QVERIFY2(routes.lastMessage().rfind("A file in the data folder cannot be written, the disk is full!\n", 0) == 0,
             routes.lastMessage().c_str());
    QCOMPARE(palvero::test::readFile(routes.dir / "files" / "meters.mrv"), std::string());
}

QTEST_MAIN(CentralWindowTest)
#include "central_window_test.moc"
