#pragma once

#include "central_config.h"
#include "central_outcome.h"
#include "code_page.h"
#include "error_logger.h"
#include "operator.h"
#include "outbox.h"
#include "program_paths.h"

#include <QObject>
#include <QPointer>
#include <QProgressDialog>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class QTimer;
class QWidget;

namespace palvero {

class MeterTable;
class TelegramProcessor;
struct Settings;

namespace central {
class PgConnection;
class ReadingSender;
}

// Fixed texts of the central database's messages.
inline constexpr char kCentralCaption[] = "Central database";
inline constexpr char kPasswordText[] = "Password for the central database:";
inline constexpr char kBusyText[] = "Readings are being sent to the central database; try again when that is over.";

// The laptop's side of the central database, when the settings name one: every reading
// heard goes into the outbox at once; "Get my routes" takes the operator's routes into
// the route panel and their meters and keys into meters.mrv; "Send readings" (and, when
// set, every Stop and the exit) sends the outbox in batches with progress and Cancel.
// The password, when the server asks for one, is asked once per run and kept only in
// memory. Every box goes through the Operator. Texts cross to and from the database in the
// code page of `settings` at that moment.
//
// The connection is made in a worker thread that does nothing but libpq's connect and hands
// the connection back to the UI thread, so that a missing network never holds the window:
// at a Stop the reading goes on while it connects; a send or "Get my routes" asked for
// shows "Connecting..." with Cancel. Everything else runs on the UI thread.
class CentralLink : public QObject {
    Q_OBJECT
public:
    enum class SendWhen { Asked, Stop, Exit };

    CentralLink(const ProgramPaths& paths, const Settings& settings, Operator& op, ErrorLogger& log,
                std::string laptop, QWidget* window);
    // Waits for connects still under way (at most libpq's connect time-out).
    ~CentralLink() override;

    bool configured() const { return m_config.configured(); }
    bool sendOnStop() const { return m_config.sendOnStop; }

    // A telegram read while reading: its reading into the outbox. False when it could
    // not be written (the reader log says why, the operator is told once).
    bool telegramRead(const MeterTable& table, int row, const TelegramProcessor& processor,
                      const std::vector<uint8_t>& asReceived);

    int waitingCount() const { return m_outbox.waitingCount(); }
    // "Readings to send: N"
    std::string waitingText() const;

    // Tools > "Get my routes". True when routes were taken.
    bool getMyRoutes();
    // The meters of the routes kept in the data folder, in walking order.
    std::vector<std::string> routeMeterIds() const;

    // Starts a send; with Exit it returns once the send is over (a send of the last Stop
    // that still runs ends first). False when nothing was started (nothing waits, or a
    // send or "Get my routes" runs already).
    bool sendReadings(SendWhen when);
    // From the start of a send, its connect too, until sendFinished.
    bool sending() const { return m_sending; }
    void cancelSend();
    QProgressDialog* progressDialog() const { return m_progress; }

    // Batch size of a send (tests make it small).
    void setBatchSize(int n) { m_batchSize = n; }

    // The reader log, the status bar and the route panel, set by the window.
    std::function<void(const std::string&)> readerLog;
    std::function<void()> onWaitingChanged;
    std::function<void()> onRoutesLoaded;

signals:
    void sendFinished(bool completed);

private:
    using Connected = std::function<void(std::unique_ptr<central::PgConnection>, const central::Outcome&)>;

    CodePage codePage() const;
    // Connects with the settings' connection text, asking for the password when the server
    // wants one; `then` runs on the UI thread, unless abandonConnect() came first.
    void connectThen(Connected then);
    void connectWith(const std::string& conninfo, const std::string& password, Connected then);
    void connectionArrived(int ticket, std::unique_ptr<central::PgConnection> db, const central::Outcome& outcome);
    void abandonConnect();
    // connectThen while "Connecting..." shows with Cancel; returns once connected, refused
    // or cancelled.
    std::unique_ptr<central::PgConnection> connectShowingProgress(central::Outcome& outcome);

    void tell(const std::string& what, const central::Outcome& outcome, bool box);
    void startSend(std::unique_ptr<central::PgConnection> db, central::Outcome outcome);
    void waitForSend();
    void step();
    void finishSend(const central::Outcome& outcome);

    central::CentralConfig m_config;
    ProgramPaths m_paths;
    const Settings& m_settings;
    Operator& m_op;
    ErrorLogger& m_log;
    std::string m_laptop;
    QWidget* m_window;
    central::Outbox m_outbox;
    std::string m_password;
    bool m_toldOutboxFailure = false;
    int m_batchSize = 500;

    // The connect whose connection is awaited (0: none), and every worker not yet joined:
    // an abandoned one is joined when its connection comes back, and closed.
    int m_awaited = 0;
    int m_lastTicket = 0;
    Connected m_then;
    std::map<int, std::thread> m_connectors;

    bool m_sending = false;
    bool m_gettingRoutes = false;
    SendWhen m_when = SendWhen::Asked;
    std::unique_ptr<central::PgConnection> m_db;
    std::unique_ptr<central::ReadingSender> m_sender;
    QPointer<QProgressDialog> m_progress;
    QTimer* m_timer = nullptr;
    bool m_cancelled = false;
};

} // namespace palvero
