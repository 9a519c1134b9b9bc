// Drives the real main window against wmbus-sim over a pseudo-terminal: presses Start,
// lets the simulated receiver send, and reports how many frames the window processed,
// how long the event loop stalled at worst, and (optionally) a screenshot.
//
//   ui_walk --sim PATH --capture FILE [--rate N] [--count N] [--vary-id N] [--prefill N]
//           [--seconds S] [--count-columns N] [--screenshot FILE] [--chart]
//           [--chart-screenshot FILE [--chart-highlight ID]] [--decode HEX,... --decode-screenshot FILE]
//           [--route-all] [--unread-screenshot FILE]
//
// --chart keeps the signal strength chart open during the walk, so that a run with it and
// one without show what the chart costs the reading. --route-all puts every meter of the
// capture into the meters file, so that the route panel counts the whole walk;
// --unread-screenshot grabs Tools > "Unread meters" at the end.
#include "main_window.h"
#include "meter_table.h"
#include "program.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QLineEdit>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <clocale>
#include <cstdio>
#include <fstream>

namespace {

struct Counter : palvero::MeterTableListener {
    long updated = 0;
    void rowUpdated(int) override { ++updated; }
};

// Times every event delivered from the event loop itself, so that a stall can be traced to
// the object and the kind of event that held the loop.
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        if (m_depth++ > 0) {
            const bool done = QApplication::notify(receiver, event);
            --m_depth;
            return done;
        }
        QElapsedTimer t;
        t.start();
        const int type = event->type();
        // Taken before: the receiver may be gone afterwards.
        const char* const kind = receiver->metaObject()->className();
        const QString name = receiver->objectName();
        const bool done = QApplication::notify(receiver, event);
        --m_depth;
        const qint64 took = t.elapsed();
        if (took > longest) {
            longest = took;
            longestType = type;
            longestReceiver = QString::fromLatin1(kind) + " " + name;
        }
        return done;
    }
    qint64 longest = 0;
    int longestType = 0;
    QString longestReceiver;

private:
    int m_depth = 0;
};

QString option(const QStringList& args, const QString& name, const QString& fallback = {})
{
    const int i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
}

// A frame of a water meter whose identification is `n` in BCD, as --vary-id numbers them.
std::vector<uint8_t> prefillFrame(int n)
{
    std::vector<uint8_t> f = {0x68, 0, 0x44, 0x2D, 0x2C};
    for (int i = 0; i < 4; ++i) {
        const int two = n % 100;
        n /= 100;
        f.push_back(static_cast<uint8_t>(two / 10 * 16 + two % 10));
    }
    const uint8_t rest[] = {0x01, 0x07, 0x7A, 0x01, 0x00, 0x00, 0x00, 0x04, 0x13, 0xE8, 0x03, 0x00, 0x00, 0x9A, 0x16};
    f.insert(f.end(), std::begin(rest), std::end(rest));
    f[1] = static_cast<uint8_t>(f.size() - 3);
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    TimedApplication app(argc, argv);
    std::setlocale(LC_ALL, "");
    const QStringList args = app.arguments();
    const QString sim = option(args, "--sim");
    const QString capture = option(args, "--capture");
    if (sim.isEmpty() || capture.isEmpty()) {
        std::fprintf(stderr, "usage: ui_walk --sim PATH --capture FILE [--rate N] [--count N] [--vary-id N] "
                             "[--prefill N] [--seconds S] [--count-columns N] [--screenshot FILE] [--chart] "
                             "[--chart-screenshot FILE [--chart-highlight ID]] [--decode HEX,... --decode-screenshot FILE]\n");
        return 2;
    }
    const int prefill = option(args, "--prefill", "0").toInt();
    const double seconds = option(args, "--seconds", "30").toDouble();

    // A program folder of its own, with the keys of the capture's encrypted meters.
    QTemporaryDir folder;
    const QString dir = folder.path();
    QDir().mkpath(dir + "/files");
    QDir().mkpath(dir + "/template");
    {
        std::ofstream meters((dir + "/files/meters.mrv").toStdString(), std::ios::binary);
        QFile in(capture);
        in.open(QIODevice::ReadOnly | QIODevice::Text);
        QTextStream lines(&in);
        QStringList keyed, route;
        while (!lines.atEnd()) {
            const QString line = lines.readLine();
            const QStringList w = line.split(' ', Qt::SkipEmptyParts);
            if (w.size() == 4 && w[0] == "#" && w[1] == "key" && w[2].size() == 8 && w[3].size() == 32) {
                meters << char(8) << w[2].toStdString() << char(32) << w[3].toStdString();
                keyed << w[2];
            } else if (!w.isEmpty() && !w[0].startsWith('#') && w[0].size() >= 16) {
                // The identification number: four bytes after L, C and M (after 0x68 and
                // the length in a whole receiver frame), lowest byte first.
                const int at = w[0].startsWith("68") ? 10 : 8;
                QString id;
                for (int i = 3; i >= 0; --i)
                    id += w[0].mid(at + 2 * i, 2);
                if (!route.contains(id))
                    route << id;
            }
        }
        if (args.contains("--route-all"))
            for (const QString& id : route)
                if (!keyed.contains(id))
                    meters << char(8) << id.toStdString() << char(0) << std::string(32, '\0');
        std::ofstream(dir.toStdString() + "/files/db.mrv");
    }
    const QString port = dir + "/receiver";
    {
        std::ofstream ini((dir + "/palvero.ini").toStdString());
        ini << "[Com port]\r\nName=" << port.toStdString() << "\r\nSpeed=115200\r\nParity=None\r\n"
            << "[Misc]\r\nUseDBMeters=1\r\n[Wireless]\r\nAES128_5=1\r\nV2=1\r\n[Titles]\r\nCount="
            << option(args, "--count-columns", "3").toStdString() << "\r\n";
    }

    QProcess receiver;
    QStringList simArgs = {"--link", port, "--rate", option(args, "--rate", "4"), "--start-delay", "300"};
    simArgs << "--loop";
    if (args.contains("--count"))
        simArgs << "--count" << option(args, "--count");
    if (args.contains("--vary-id"))
        simArgs << "--vary-id" << option(args, "--vary-id");
    simArgs << capture;
    receiver.start(sim, simArgs);
    if (!receiver.waitForStarted(5000) || !receiver.waitForReadyRead(5000)) {
        std::fprintf(stderr, "ui_walk: the simulator did not start\n");
        return 1;
    }

    palvero::Program program((dir + "/palvero").toStdString());
    palvero::TForm1& window = program.mainWindow();
    for (int i = 1; i <= prefill; ++i) {
        auto f = prefillFrame(i);
        window.reception().receive(f);
    }
    const int rowsBefore = window.table().dataRowCount();
    Counter counter;
    window.table().addListener(&counter);
    program.show();
    const bool chart = args.contains("--chart");
    if (chart)
        program.signalChart().showWindow();

    // The event loop's worst stall: gaps between ticks of a 5 ms timer.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, worst = 0, worstAt = 0;
    QTimer probe;
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (now - last > worst) {
            worst = now - last;
            worstAt = now;
        }
        last = now;
    });

    QTimer::singleShot(200, [&] {
        last = clock.elapsed();
        probe.start();
        window.Butt_read->click();
    });
    QObject::connect(&receiver, &QProcess::finished, [&] { QTimer::singleShot(500, &app, [&app] { app.exit(0); }); });
    QTimer::singleShot(static_cast<int>(seconds * 1000), &app, [&app] { app.exit(0); });
    app.exec();
    probe.stop();

    const QString shot = option(args, "--screenshot");
    if (!shot.isEmpty())
        window.grab().save(shot);
    const QString chartShot = option(args, "--chart-screenshot");
    if (!chartShot.isEmpty()) {
        palvero::TForm5& signal = program.signalChart();
        signal.showWindow();
        signal.Edit_searchMeter->setText(option(args, "--chart-highlight"));
        signal.updateChart();
        signal.grab().save(chartShot);
    }
    // Telegrams to decode, separated by commas; bad text would stop here at its message box.
    bool decoded = false;
    for (const QString& telegram : option(args, "--decode").split(',', Qt::SkipEmptyParts))
        decoded = program.fullDecode().decodeText(telegram.toStdString()) || decoded;
    const QString decodeShot = option(args, "--decode-screenshot");
    if (decoded && !decodeShot.isEmpty())
        program.fullDecode().grab().save(decodeShot);
    const QString unreadShot = option(args, "--unread-screenshot");
    if (!unreadShot.isEmpty()) {
        window.findChild<QAction*>("Unreadmeters1")->trigger();
        QWidget* list = window.findChild<QWidget*>("TUnreadMeters");
        QApplication::processEvents();
        list->grab().save(unreadShot);
    }

    if (window.reading().reading())
        window.Butt_read->click();
    receiver.terminate();
    receiver.waitForFinished(3000);
    const QString simLog = QString::fromUtf8(receiver.readAllStandardError());
    long sent = -1;
    for (const QString& line : simLog.split('\n'))
        if (line.startsWith("frames sent: "))
            sent = line.mid(13).toLong();

    std::printf("meters in the table before: %d, after: %d\n", rowsBefore, window.table().dataRowCount());
    std::printf("frames sent by the receiver: %ld, telegrams processed by the window: %ld\n", sent,
                counter.updated);
    std::printf("longest event-loop stall: %lld ms over %.1f s (ending %.2f s after the start)\n",
                static_cast<long long>(worst), clock.elapsed() / 1000.0, worstAt / 1000.0);
    std::printf("longest single event: %lld ms, type %d to %s\n", static_cast<long long>(app.longest),
                app.longestType, app.longestReceiver.toUtf8().constData());
    std::printf("signal chart: %s, %ld rebuilds\n", chart ? "open" : "closed", program.signalChart().rebuildCount());
    for (const auto& line : window.table().readerLog)
        std::printf("reader log: %s\n", line.c_str());
    window.table().removeListener(&counter);
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    return sent >= 0 && sent != counter.updated ? 3 : 0;
}
