#pragma once

#include "capture_file.h"
#include "reception.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QString>

class QTimer;
class QWidget;

namespace palvero {

// Feeds a capture file through the reading pipeline in slices between the window's
// events, with a progress dialog and Cancel: a receive event at a time, so the memory it
// needs does not grow with the capture. Raw and hex captures are told apart by content.
class CaptureReplay : public QObject {
    Q_OBJECT
public:
    CaptureReplay(Reception& reception, QWidget* window);
    ~CaptureReplay() override;

    // Starts replaying; false with `error` set when the file cannot be read.
    bool start(const QString& path, std::string& error);
    void cancel();
    bool running() const { return m_running; }
    QProgressDialog* progressDialog() const { return m_progress; }
    uint64_t bytesFed() const { return m_reader ? m_reader->position() : 0; }
    // What the last replay gave the rows: the times heard, or (for a capture written before
    // captures kept them) the time of the replay.
    const QString& report() const { return m_report; }

signals:
    // `completed` is false when cancelled or cut short by a read error (`error` says which).
    void finished(bool completed, const QString& error);

private:
    void step();
    void finish(bool completed, const QString& error);

    Reception& m_reception;
    QWidget* m_window;
    std::unique_ptr<CaptureReader> m_reader;
    QPointer<QProgressDialog> m_progress;
    QTimer* m_timer = nullptr;
    bool m_running = false;
    std::vector<uint8_t> m_event;
    QString m_file;
    QString m_report;
};

} // namespace palvero
