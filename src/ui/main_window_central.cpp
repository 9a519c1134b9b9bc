// The main window's link to the central database: only when the settings name one.

#include "central_link.h"
#include "main_window.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QSysInfo>
#include <QTimer>

namespace palvero {

void TForm1::buildCentralFeatures()
{
    m_central = std::make_unique<CentralLink>(m_context.paths, m_context.settings, m_context.op, m_context.errorLog,
                                              QSysInfo::machineHostName().toStdString(), this);
    CentralLink& link = *m_central;
    if (!link.configured())
        return;

    StatusPanel_outbox = new QLabel(this);
    StatusPanel_outbox->setObjectName("StatusPanel_outbox");
    StatusPanel_outbox->setToolTip("Readings heard and not yet in the central database (Tools > Send readings)");
    statusBar()->addPermanentWidget(StatusPanel_outbox);
    link.onWaitingChanged = [this] { StatusPanel_outbox->setText(QString::fromStdString(m_central->waitingText())); };
    link.onWaitingChanged();
    link.readerLog = [this](const std::string& line) { m_table.addReaderLogLine(line); };
    link.onRoutesLoaded = [this] { reloadRoute(); };

    QMenu* tools = findChild<QMenu*>("Tools1");
    tools->addSeparator();
    QAction* get = tools->addAction("Get my routes");
    get->setObjectName("Getmyroutes1");
    get->setStatusTip("Take your routes, and the meters and keys on them, from the central database");
    connect(get, &QAction::triggered, this, [this] { m_central->getMyRoutes(); });
    QAction* send = tools->addAction("Send readings");
    send->setObjectName("Sendreadings1");
    send->setStatusTip("Send the readings waiting in the outbox to the central database");
    connect(send, &QAction::triggered, this, [this] { m_central->sendReadings(CentralLink::SendWhen::Asked); });

    // Readings heard from the receiver, not those of a replayed capture: those were heard
    // on their walk, and went into the outbox then.
    m_reception.processor().telegramRead = [this](int row, const ReceiverFrame&) {
        if (!m_reading.reading())
            return;
        const ReceiverFrame* heard = m_reception.lastTelegrams().find(m_table.cell(row, col::MeterId));
        m_central->telegramRead(m_table, row, m_reception.processor(), heard ? *heard : ReceiverFrame());
    };

    // At Stop, once the stop is over.
    auto stateChanged = m_reading.onStateChanged;
    m_reading.onStateChanged = [this, stateChanged, wasReading = false](const ReadingControl::State& s) mutable {
        if (stateChanged)
            stateChanged(s);
        const bool reading = m_reading.reading();
        if (wasReading && !reading && m_central->sendOnStop())
            QTimer::singleShot(0, m_central.get(), [this] { m_central->sendReadings(CentralLink::SendWhen::Stop); });
        wasReading = reading;
    };
    reloadRoute();
}

CentralLink& TForm1::central()
{
    return *m_central;
}

} // namespace palvero
