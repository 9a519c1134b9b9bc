#include "central_link.h"

#include "heard_reading.h"
#include "meters_file.h"
#include "my_routes.h"
#include "office.h"
#include "pg_connection.h"
#include "reading_sender.h"

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

} // namespace

CentralLink::CentralLink(const ProgramPaths& paths, Operator& op, ErrorLogger& log, std::string laptop,
                         QWidget* window)
    : QObject(window)
    , m_config(central::readCentralConfig(paths.iniFile()))
    , m_paths(paths)
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

CentralLink::~CentralLink() = default;

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
    std::string error;
    if (!m_outbox.add(r, error)) {
        if (readerLog)
            readerLog("Outbox not written: " + error);
        if (!m_toldOutboxFailure) {
            m_toldOutboxFailure = true;
            m_log.LogErrorText(error);
            m_op.showMessage(kCentralCaption,
                             "The readings cannot be kept for the central database: " + error
                                 + "\nReading goes on; the capture keeps every telegram.",
                             MessageIcon::Warning);
        }
        return false;
    }
    if (onWaitingChanged)
        onWaitingChanged();
    return true;
}

std::unique_ptr<central::PgConnection> CentralLink::openConnection(Outcome& outcome)
{
    const std::string conninfo = central::connectionString(m_config.database);
    if (central::namesPassword(conninfo)) {
        outcome = Outcome::failed(Outcome::Kind::BadInput, "");
        return nullptr;
    }
    auto db = central::PgConnection::open(conninfo, m_password, outcome);
    if (!db && outcome.kind == Outcome::Kind::NeedsPassword) {
        const auto password = m_op.askPassword(kCentralCaption, kPasswordText);
        if (!password || password->empty()) {
            outcome.detail.clear(); // the operator gave none: nothing more to say
            return nullptr;
        }
        db = central::PgConnection::open(conninfo, *password, outcome);
        if (db)
            m_password = *password;
    }
    if (!db && outcome.kind == Outcome::Kind::WrongPassword)
        m_password.clear(); // asked again next time
    return db;
}

void CentralLink::tell(const std::string& what, const Outcome& outcome, bool box)
{
    std::string text = whatWentWrong(outcome.kind);
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
    if (!configured() || sending())
        return false;
    const std::string keep = "The routes and meters.mrv stay as they are.";
    MetersFile meters(m_paths.dataFolder(), m_log);
    std::error_code ec;
    if (!std::filesystem::exists(meters.path(), ec)) {
        tell(keep, Outcome::failed(Outcome::Kind::FileError, "meters.mrv is missing in the data folder"), true);
        return false;
    }
    Outcome outcome;
    auto db = openConnection(outcome);
    std::vector<central::Route> routes;
    std::vector<std::string> problems;
    if (!db || !central::fetchMyRoutes(*db, central::today().text(), routes, problems, outcome)) {
        tell(keep, outcome, true);
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
        || !central::saveRoutes(m_paths.dataFolder(), routes, outcome)) {
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
    return configured() ? central::routeMeterIds(m_paths.dataFolder()) : std::vector<std::string>{};
}

bool CentralLink::sendReadings(SendWhen when)
{
    if (!configured() || sending())
        return false;
    if (m_outbox.waitingCount() == 0) {
        if (when == SendWhen::Asked)
            m_op.showMessage(kCentralCaption, "No readings wait to be sent.", MessageIcon::Information);
        return false;
    }
    m_when = when;
    const std::string waits = "The readings wait in the outbox (" + std::to_string(m_outbox.waitingCount()) + ").";
    Outcome outcome;
    m_db = openConnection(outcome);
    if (m_db) {
        m_sender = std::make_unique<central::ReadingSender>(*m_db, m_outbox, m_batchSize);
        if (!m_sender->begin(outcome)) {
            m_sender.reset();
            m_db.reset();
        }
    }
    if (!m_sender) {
        tell(waits, outcome, when != SendWhen::Stop);
        return false;
    }
    m_cancelled = false;
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
    if (when == SendWhen::Exit) {
        QEventLoop wait;
        QObject::connect(this, &CentralLink::sendFinished, &wait, &QEventLoop::quit);
        if (sending())
            wait.exec();
    }
    return true;
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
