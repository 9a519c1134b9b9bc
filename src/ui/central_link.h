#pragma once

#include "central_config.h"
#include "central_outcome.h"
#include "error_logger.h"
#include "operator.h"
#include "outbox.h"
#include "program_paths.h"

#include <QObject>
#include <QPointer>
#include <QProgressDialog>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QTimer;
class QWidget;

namespace palvero {

class MeterTable;
class TelegramProcessor;

namespace central {
class PgConnection;
class ReadingSender;
}

// Fixed texts of the central database's messages.
inline constexpr char kCentralCaption[] = "Central database";
inline constexpr char kPasswordText[] = "Password for the central database:";

// The laptop's side of the central database, when the settings name one: every reading
// heard goes into the outbox at once; "Get my routes" takes the operator's routes into
// the route panel and their meters and keys into meters.mrv; "Send readings" (and, when
// set, every Stop and the exit) sends the outbox in batches with progress and Cancel.
// The password, when the server asks for one, is asked once per run and kept only in
// memory. Every box goes through the Operator.
class CentralLink : public QObject {
    Q_OBJECT
public:
    enum class SendWhen { Asked, Stop, Exit };

    CentralLink(const ProgramPaths& paths, Operator& op, ErrorLogger& log, std::string laptop, QWidget* window);
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

    // Starts a send; with Exit it returns once the send is over. False when nothing was
    // started (nothing waits, a send runs already, or no connection).
    bool sendReadings(SendWhen when);
    bool sending() const { return m_sender != nullptr; }
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
    std::unique_ptr<central::PgConnection> openConnection(central::Outcome& outcome);
    void tell(const std::string& what, const central::Outcome& outcome, bool box);
    void step();
    void finishSend(const central::Outcome& outcome);

    central::CentralConfig m_config;
    ProgramPaths m_paths;
    Operator& m_op;
    ErrorLogger& m_log;
    std::string m_laptop;
    QWidget* m_window;
    central::Outbox m_outbox;
    std::string m_password;
    bool m_toldOutboxFailure = false;
    int m_batchSize = 500;

    SendWhen m_when = SendWhen::Asked;
    std::unique_ptr<central::PgConnection> m_db;
    std::unique_ptr<central::ReadingSender> m_sender;
    QPointer<QProgressDialog> m_progress;
    QTimer* m_timer = nullptr;
    bool m_cancelled = false;
};

} // namespace palvero
