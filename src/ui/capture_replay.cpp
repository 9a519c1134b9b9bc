#include "capture_replay.h"

#include <QFileInfo>
#include <QProgressDialog>
#include <QTimer>

namespace palvero {

namespace {

// One slice of work between two looks at the window's events.
constexpr qint64 kSliceMs = 25;
constexpr int kProgressSteps = 1000;

} // namespace

CaptureReplay::CaptureReplay(Reception& reception, QWidget* window)
    : QObject(window)
    , m_reception(reception)
    , m_window(window)
{
    m_timer = new QTimer(this);
    m_timer->setInterval(0);
    connect(m_timer, &QTimer::timeout, this, &CaptureReplay::step);
}

CaptureReplay::~CaptureReplay()
{
    delete m_progress;
}

bool CaptureReplay::start(const QString& path, std::string& error)
{
    if (m_running) {
        error = "a capture is being replayed";
        return false;
    }
    const std::filesystem::path file = path.toStdString();
    auto reader = std::make_unique<CaptureReader>();
    if (!reader->open(file, CaptureReader::detect(file), 0, error))
        return false;
    m_reader = std::move(reader);
    m_running = true;
    m_file = QFileInfo(path).fileName();
    // Frames of the live reading and of the capture never share a buffer.
    m_reception.assembler().reset();

    delete m_progress;
    m_progress = new QProgressDialog(m_window);
    m_progress->setObjectName("ReplayProgress");
    m_progress->setWindowTitle("Replay capture");
    m_progress->setLabelText("Replaying " + QFileInfo(path).fileName() + " ...");
    m_progress->setRange(0, kProgressSteps);
    m_progress->setMinimumDuration(300);
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    m_progress->setValue(0);
    connect(m_progress, &QProgressDialog::canceled, this, &CaptureReplay::cancel);
    m_timer->start();
    return true;
}

void CaptureReplay::cancel()
{
    if (m_running)
        finish(false, QString());
}

void CaptureReplay::step()
{
    if (!m_running)
        return;
    QElapsedTimer slice;
    slice.start();
    bool more = true;
    // Each row gets the time its telegram was heard, when the capture keeps it.
    while (slice.elapsed() < kSliceMs && (more = m_reader->next(m_event))) {
        if (m_reader->hasTimes())
            m_reception.receive(m_event, m_reader->stamp().localTime());
        else
            m_reception.receive(m_event);
    }
    if (m_progress && m_reader->size() > 0)
        m_progress->setValue(static_cast<int>(m_reader->position() * kProgressSteps / m_reader->size()));
    if (!more)
        finish(m_reader->error().empty(), QString::fromStdString(m_reader->error()));
}

void CaptureReplay::finish(bool completed, const QString& error)
{
    m_timer->stop();
    m_running = false;
    m_report = m_reader->hasTimes()
        ? "Replayed " + m_file + ": every row has the time its telegram was heard"
        : "Replayed " + m_file + ": the capture " + QString::fromLatin1(kNoTimesText);
    if (!completed && error.isEmpty())
        m_report = "Replay of " + m_file + " cancelled";
    m_reception.assembler().reset();
    if (m_progress) {
        m_progress->hide();
        m_progress->deleteLater();
    }
    emit finished(completed && error.isEmpty(), error);
}

} // namespace palvero
