#include "central_link.h"

#include "heard_reading.h"
#include "meters_file.h"
#include "my_routes.h"
#include "office.h"
#include "pg_connection.h"
#include "reading_sender.h"
#include "settings.h"

#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include <filesystem>

namespace palvero {

using central::Outcome;

namespace {

const char* whatWentWrong(Outcome::Kind kind)
{
    switch (kind) {
    case Outcome::Kind::NeedsPassword:
        return "The central database needs a password.";
    case Outcome::Kind::WrongPassword:
        return "The central database refused the password.";
    case Outcome::Kind::Unreachable:
        return "The central database cannot be reached.";
    case Outcome::Kind::NotSetUp:
        return "The central database is not set up for Palvero: the office sets it up with palvero-office schema.";
    case Outcome::Kind::NotAnOperator:
        return "This login is not an operator of the central database.";
    case Outcome::Kind::Refused:
        return "The central database does not allow this login to do that.";
    case Outcome::Kind::FileError:
        return "A file in the data folder cannot be read or written.";
    case Outcome::Kind::Cancelled:
        return "Cancelled.";
    case Outcome::Kind::BadInput:
        return "CentralDatabase in palvero.ini holds a password: remove it, and keep the password in libpq's"
               " password file (~/.pgpass) or type it when asked.";
    case Outcome::Kind::Ok:
    case Outcome::Kind::NotConfigured:
    case Outcome::Kind::ServerError:
        break;
    }
    return "The central database reported an error.";
}

std::string count(int n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// A connection that went wrong is told at once; one that takes long shows after this.
constexpr int kShowConnectingAfterMs = 400;

// What a worker thread hands back to the UI thread.
struct Arrival {
    std::unique_ptr<central::PgConnection> db;
    Outcome outcome;
};

} // namespace

CentralLink::CentralLink(const ProgramPaths& paths, const Settings& settings, Operator& op, ErrorLogger& log,
                         std::string laptop, QWidget* window)
    : QObject(window)
    , m_config(central::readCentralConfig(paths.iniFile()))
    , m_paths(paths)
    , m_settings(settings)
    , m_op(op)
    , m_log(log)
    , m_laptop(m_config.laptop.empty() ? std::move(laptop) : m_config.laptop)
    , m_window(window)
    , m_outbox(paths.dataFolder())
{
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &CentralLink::step);
    if (!configured())
        return;
    std::string error;
    if (!m_outbox.load(error))
        m_log.LogErrorText(error);
}

CentralLink::~CentralLink()
{
    // A connection that comes back now is closed with the event that would have brought it.
    for (auto& entry : m_connectors)
        entry.second.join();
}

CodePage CentralLink::codePage() const
{
    return settingsCodePage(m_settings);
}

std::string CentralLink::waitingText() const
{
    return "Readings to send: " + std::to_string(m_outbox.waitingCount());
}

bool CentralLink::telegramRead(const MeterTable& table, int row, const TelegramProcessor& processor,
                               const std::vector<uint8_t>& asReceived)
{
    if (!configured())
        return true;
    const central::OutboxReading r =
        central::heardReading(table, row, processor, asReceived, m_laptop, std::chrono::system_clock::now());
    const WriteOutcome added = m_outbox.add(r);
    if (!added) {
        if (readerLog)
            readerLog("Outbox not written: " + added.error);
        if (!m_toldOutboxFailure) {
            m_toldOutboxFailure = true;
            m_log.LogErrorText(added.error);
            const std::string lead = "The readings cannot be kept for the central database";
            m_op.showMessage(kCentralCaption,
                             writeFailureText(added, lead + ": " + central::kOutboxFileName + " cannot be written",
                                              lead + ": " + added.error)
                                 + "\nReading goes on; the capture keeps every telegram.",
                             MessageIcon::Warning);
        }
        return false;
    }
    if (onWaitingChanged)
        onWaitingChanged();
    return true;
}

void CentralLink::connectThen(Connected then)
{
    const std::string conninfo = central::connectionString(m_config.database);
    if (central::namesPassword(conninfo)) {
        then(nullptr, Outcome::failed(Outcome::Kind::BadInput, ""));
        return;
    }
    connectWith(conninfo, m_password, [this, conninfo, then](std::unique_ptr<central::PgConnection> db,
                                                             const Outcome& outcome) {
        if (db || outcome.kind != Outcome::Kind::NeedsPassword) {
            if (outcome.kind == Outcome::Kind::WrongPassword)
                m_password.clear(); // asked again next time
            then(std::move(db), outcome);
            return;
        }
        const auto password = m_op.askPassword(kCentralCaption, kPasswordText);
        if (!password || password->empty()) {
            then(nullptr, Outcome::failed(outcome.kind, "")); // the operator gave none: nothing more to say
            return;
        }
        connectWith(conninfo, *password, [this, typed = *password, then](std::unique_ptr<central::PgConnection> db,
                                                                         const Outcome& outcome) {
            if (db)
                m_password = typed;
            then(std::move(db), outcome);
        });
    });
}

void CentralLink::connectWith(const std::string& conninfo, const std::string& password, Connected then)
{
    const int ticket = ++m_lastTicket;
    m_awaited = ticket;
    m_then = std::move(then);
    // The worker only talks to the network; what it made comes back as an event of this
    // object, so that everything else happens on the UI thread.
    m_connectors.emplace(ticket, std::thread([this, ticket, conninfo, password] {
        auto arrival = std::make_shared<Arrival>();
        arrival->db = central::PgConnection::open(conninfo, password, arrival->outcome);
        QMetaObject::invokeMethod(
            this, [this, ticket, arrival] { connectionArrived(ticket, std::move(arrival->db), arrival->outcome); },
            Qt::QueuedConnection);
    }));
}

void CentralLink::connectionArrived(int ticket, std::unique_ptr<central::PgConnection> db, const Outcome& outcome)
{
    if (auto worker = m_connectors.find(ticket); worker != m_connectors.end()) {
        worker->second.join(); // it has handed over its connection: nothing is left for it to do
        m_connectors.erase(worker);
    }
    if (ticket != m_awaited)
        return; // abandoned: the connection closes here
    m_awaited = 0;
    Connected then = std::move(m_then);
    m_then = nullptr;
    then(std::move(db), outcome);
}

void CentralLink::abandonConnect()
{
    m_awaited = 0;
    m_then = nullptr;
}

std::unique_ptr<central::PgConnection> CentralLink::connectShowingProgress(Outcome& outcome)
{
    std::unique_ptr<central::PgConnection> db;
    bool done = false;
    QEventLoop wait;
    QProgressDialog progress(QString::fromUtf8("Connecting to the central database..."), QString::fromUtf8("Cancel"),
                             0, 0, m_window);
    progress.setObjectName("Progress_connect");
    progress.setWindowTitle(kCentralCaption);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(kShowConnectingAfterMs);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    QObject::connect(&progress, &QProgressDialog::canceled, &wait, [&] {
        abandonConnect();
        outcome = Outcome::failed(Outcome::Kind::Cancelled, "");
        done = true;
        wait.quit();
    });
    connectThen([&](std::unique_ptr<central::PgConnection> connected, const Outcome& arrived) {
        db = std::move(connected);
        outcome = arrived;
        done = true;
        wait.quit();
    });
    if (!done) {
        progress.setValue(0);
        wait.exec();
    }
    return db;
}

void CentralLink::tell(const std::string& what, const Outcome& outcome, bool box)
{
    std::string text = whatWentWrong(outcome.kind);
    if (outcome.kind == Outcome::Kind::FileError)
        text = writeFailureText(WriteOutcome{outcome.cause, outcome.detail},
                                "A file in the data folder cannot be written", text);
    if (!outcome.detail.empty())
        text += "\n" + outcome.detail;
    text += "\n" + what;
    if (readerLog)
        readerLog("Central database: " + text);
    if (!outcome.detail.empty() && outcome.kind != Outcome::Kind::FileError)
        m_log.LogErrorText("Central database: " + outcome.detail);
    if (box)
        m_op.showMessage(kCentralCaption, text,
                         outcome.kind == Outcome::Kind::Cancelled ? MessageIcon::Information : MessageIcon::Warning);
}

bool CentralLink::getMyRoutes()
{
    if (!configured() || m_gettingRoutes)
        return false;
    if (sending()) {
        m_op.showMessage(kCentralCaption, kBusyText, MessageIcon::Information);
        return false;
    }
    const std::string keep = "The routes and meters.mrv stay as they are.";
    MetersFile meters(m_paths.dataFolder(), m_log);
    std::error_code ec;
    if (!std::filesystem::exists(meters.path(), ec)) {
        tell(keep, Outcome::failed(Outcome::Kind::FileError, "meters.mrv is missing in the data folder"), true);
        return false;
    }
    Outcome outcome;
    m_gettingRoutes = true;
    auto db = connectShowingProgress(outcome);
    m_gettingRoutes = false;
    std::vector<central::Route> routes;
    std::vector<std::string> problems;
    if (!db || !central::fetchMyRoutes(*db, central::today().text(), codePage(), routes, problems, outcome)) {
        tell(keep, outcome, outcome.kind != Outcome::Kind::Cancelled);
        return false;
    }
    db.reset();
    for (const std::string& p : problems)
        if (readerLog)
            readerLog(p);

    central::RoutePlan plan;
    if (!central::planRoutes(routes, meters, plan, outcome)) {
        tell(keep, outcome, true);
        return false;
    }
    bool changeKeys = false;
    if (!plan.changed.empty()) {
        std::string question = count(static_cast<int>(plan.changed.size()), "meter has", "meters have")
            + " another key in the central database than in meters.mrv:";
        constexpr size_t kShown = 12;
        for (size_t i = 0; i < plan.changed.size() && i < kShown; ++i) {
            const central::KeyChange& c = plan.changed[i];
            question += "\n" + c.meterId + ": " + (c.storedKey.empty() ? "(no key)" : c.storedKey) + " -> "
                + (c.newKey.empty() ? "(no key)" : c.newKey);
        }
        if (plan.changed.size() > kShown)
            question += "\nand " + std::to_string(plan.changed.size() - kShown) + " more";
        question += "\nTake the keys of the central database?";
        changeKeys = m_op.askYesNo(kCentralCaption, question, MessageIcon::Question);
    }
    if (!central::applyRoutePlan(plan, changeKeys, meters, outcome)
        || !central::saveRoutes(m_paths.dataFolder(), routes, codePage(), outcome)) {
        tell("meters.mrv may hold some of the new meters already; Get my routes again.", outcome, true);
        return false;
    }
    if (onRoutesLoaded)
        onRoutesLoaded();

    int total = 0;
    for (const central::Route& r : routes)
        total += static_cast<int>(r.meters.size());
    std::string summary = routes.empty()
        ? std::string("No routes for you from today on.")
        : count(static_cast<int>(routes.size()), "route", "routes") + " with " + count(total, "meter", "meters")
            + " taken: " + count(static_cast<int>(plan.added.size()), "meter", "meters") + " new in meters.mrv, "
            + count(changeKeys ? static_cast<int>(plan.changed.size()) : 0, "key", "keys") + " changed.";
    if (!changeKeys && !plan.changed.empty())
        summary += "\n" + count(static_cast<int>(plan.changed.size()), "stored key was", "stored keys were") + " kept.";
    if (!problems.empty())
        summary += "\n" + count(static_cast<int>(problems.size()), "meter was", "meters were")
            + " left out (see the reader log).";
    if (readerLog)
        readerLog("Central database: " + summary);
    m_op.showMessage(kCentralCaption, summary, MessageIcon::Information);
    return true;
}

std::vector<std::string> CentralLink::routeMeterIds() const
{
    return configured() ? central::routeMeterIds(m_paths.dataFolder(), codePage()) : std::vector<std::string>{};
}

bool CentralLink::sendReadings(SendWhen when)
{
    if (!configured())
        return false;
    if (when == SendWhen::Exit)
        waitForSend(); // the send of the last Stop, then what it left
    if (sending() || m_gettingRoutes) {
        if (when == SendWhen::Asked)
            m_op.showMessage(kCentralCaption, kBusyText, MessageIcon::Information);
        return false;
    }
    if (m_outbox.waitingCount() == 0) {
        if (when == SendWhen::Asked)
            m_op.showMessage(kCentralCaption, "No readings wait to be sent.", MessageIcon::Information);
        return false;
    }
    m_when = when;
    m_sending = true;
    m_cancelled = false;
    if (when == SendWhen::Stop) {
        // Reading may start again while this connects.
        connectThen([this](std::unique_ptr<central::PgConnection> db, const Outcome& outcome) {
            startSend(std::move(db), outcome);
        });
        return true;
    }
    Outcome outcome;
    auto db = connectShowingProgress(outcome);
    startSend(std::move(db), outcome);
    if (when == SendWhen::Exit)
        waitForSend();
    return true;
}

void CentralLink::startSend(std::unique_ptr<central::PgConnection> db, Outcome outcome)
{
    if (db) {
        m_db = std::move(db);
        m_sender = std::make_unique<central::ReadingSender>(*m_db, m_outbox, codePage(), m_batchSize);
        if (!m_sender->begin(outcome)) {
            m_sender.reset();
            m_db.reset();
        }
    }
    if (!m_sender) {
        tell("The readings wait in the outbox (" + std::to_string(m_outbox.waitingCount()) + ").", outcome,
             m_when != SendWhen::Stop && outcome.kind != Outcome::Kind::Cancelled);
        m_sending = false;
        emit sendFinished(false);
        return;
    }
    m_progress = new QProgressDialog(QString::fromUtf8("Sending readings to the central database..."),
                                     QString::fromUtf8("Cancel"), 0, m_sender->total(), m_window);
    m_progress->setObjectName("Progress_send");
    m_progress->setWindowTitle(kCentralCaption);
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setMinimumDuration(0);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    m_progress->setValue(0);
    QObject::connect(m_progress, &QProgressDialog::canceled, this, &CentralLink::cancelSend);
    m_timer->start(0);
}

void CentralLink::waitForSend()
{
    if (!sending())
        return;
    QEventLoop wait;
    QObject::connect(this, &CentralLink::sendFinished, &wait, &QEventLoop::quit);
    wait.exec();
}

void CentralLink::cancelSend()
{
    m_cancelled = true;
}

void CentralLink::step()
{
    if (!m_sender)
        return;
    if (m_cancelled) {
        finishSend(Outcome::failed(Outcome::Kind::Cancelled, ""));
        return;
    }
    Outcome outcome;
    const bool ok = m_sender->step(outcome);
    if (m_progress)
        m_progress->setValue(m_sender->confirmed());
    if (onWaitingChanged)
        onWaitingChanged();
    if (!ok)
        finishSend(outcome);
    else if (m_sender->done())
        finishSend({});
    else
        m_timer->start(0);
}

void CentralLink::finishSend(const Outcome& outcome)
{
    Outcome finished;
    m_sender->finish(finished);
    const int sent = m_sender->confirmed();
    const int already = sent - m_sender->added();
    m_sender.reset();
    m_db.reset();
    m_sending = false;
    if (m_progress) {
        m_progress->hide();
        m_progress->deleteLater();
    }
    if (onWaitingChanged)
        onWaitingChanged();

    std::string summary = "Readings sent: " + std::to_string(sent);
    if (already > 0)
        summary += " (" + std::to_string(already) + " of them the central database had already)";
    summary += ".";
    const bool completed = outcome.ok() && finished.ok();
    if (completed) {
        if (readerLog)
            readerLog("Central database: " + summary);
        if (m_when == SendWhen::Asked)
            m_op.showMessage(kCentralCaption, summary, MessageIcon::Information);
    } else {
        const Outcome& failure = outcome.ok() ? finished : outcome;
        tell(summary + " The other readings wait in the outbox (" + std::to_string(m_outbox.waitingCount()) + ").",
             failure, m_when != SendWhen::Stop && failure.kind != Outcome::Kind::Cancelled);
    }
    emit sendFinished(completed);
}

} // namespace palvero
