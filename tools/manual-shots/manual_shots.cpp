// Takes the pictures of the operator's manuals from the real windows: the demo walk is
// played by wmbus-sim over a pseudo-terminal into the whole program, then every window is
// opened as an operator would open it and grabbed into OUTPUT_DIR.
//
//   manual-shots --sim PATH --capture FILE [--small-screen] OUTPUT_DIR
//
// Run it on a display (scripts/screenshots.sh runs it under xvfb-run). With --small-screen
// only the Settings and Reports windows are taken, each as the whole screen, to show them
// on a laptop screen (the script runs it on 1366 x 768 at 150 %).
#include "main_window.h"
#include "meter_table.h"
#include "program.h"
#include "template_file.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <clocale>
#include <cstdio>
#include <fstream>

namespace {

QString option(const QStringList& args, const QString& name)
{
    const int i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args[i + 1] : QString();
}

void settle(int ms = 150)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

QString g_out;
int g_failures = 0;

void shoot(QWidget* w, const QString& name)
{
    settle();
    const QString path = g_out + '/' + name;
    if (!w || !w->grab().save(path)) {
        std::fprintf(stderr, "manual-shots: %s not taken\n", qPrintable(name));
        ++g_failures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

// The whole screen with the window on it.
void shootScreen(QWidget* w, const QString& name)
{
    settle(400);
    QScreen* screen = w ? w->screen() : QGuiApplication::primaryScreen();
    const QString path = g_out + '/' + name;
    if (!screen || !screen->grabWindow(0).save(path)) {
        std::fprintf(stderr, "manual-shots: %s not taken\n", qPrintable(name));
        ++g_failures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

template <typename T>
T* topLevel(const char* objectName)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == objectName)
            if (auto* t = qobject_cast<T*>(w))
                return t;
    for (QWidget* w : QApplication::allWidgets())
        if (w->objectName() == objectName)
            if (auto* t = qobject_cast<T*>(w))
                return t;
    return nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::setlocale(LC_ALL, "");
    const QStringList args = app.arguments();
    const QString sim = option(args, "--sim");
    const QString capture = option(args, "--capture");
    const bool smallScreen = args.contains("--small-screen");
    g_out = args.size() > 1 ? args.last() : QString();
    if (sim.isEmpty() || capture.isEmpty() || g_out.startsWith("--") || !QDir(g_out).exists()) {
        std::fprintf(stderr, "usage: manual-shots --sim PATH --capture FILE [--small-screen] OUTPUT_DIR\n");
        return 2;
    }

    // A program folder as the demo lays it out: the keys of the walk's encrypted meters
    // in the meters file (they are the route), a template for the exchange pictures.
    QTemporaryDir folder;
    const QString dir = folder.path();
    QDir().mkpath(dir + "/files");
    QDir().mkpath(dir + "/template");
    QString firstKeyed;
    {
        std::ofstream meters((dir + "/files/meters.mrv").toStdString(), std::ios::binary);
        QFile in(capture);
        in.open(QIODevice::ReadOnly | QIODevice::Text);
        QTextStream lines(&in);
        while (!lines.atEnd()) {
            const QStringList w = lines.readLine().split(' ', Qt::SkipEmptyParts);
            if (w.size() == 4 && w[0] == "#" && w[1] == "key" && w[2].size() == 8 && w[3].size() == 32) {
                meters << char(8) << w[2].toStdString() << char(32) << w[3].toStdString();
                if (firstKeyed.isEmpty())
                    firstKeyed = w[2];
            }
        }
        // Meters of the route that the walk does not pass, for the unread list.
        for (const char* id : {"30551122", "30551123", "12090344"})
            meters << char(8) << id << char(0) << std::string(32, '\0');
        std::ofstream((dir + "/files/db.mrv").toStdString());
        std::ofstream((dir + "/template/tmplates.dat").toStdString());
    }
    {
        palvero::TemplateFile templates((dir + "/template").toStdString());
        palvero::TemplateRecord route;
        route.name = "Route sheet";
        route.type = palvero::TemplateRecord::kExport;
        const std::uint8_t columns[] = {1, 4, 5, 6, 7, 8};
        route.columnCount = sizeof columns;
        for (size_t i = 0; i < sizeof columns; ++i)
            route.columnTypes[i] = columns[i];
        templates.Save(route);
    }
    const QString port = dir + "/receiver";
    auto writeSettings = [&](const QString& portName) {
        std::ofstream((dir + "/palvero.ini").toStdString())
            << "[Com port]\r\nName=" << portName.toStdString() << "\r\nSpeed=115200\r\nParity=None\r\n"
            << "[Misc]\r\nUseDBMeters=1\r\n[Wireless]\r\nAES128_5=1\r\nV1=0\r\nV2=1\r\nRSSI_v2=1\r\n"
            << "[Titles]\r\nCount=3\r\n";
    };
    writeSettings(port);

    QProcess receiver;
    receiver.start(sim, {"--link", port, "--rate", "25", "--start-delay", "300", capture});
    if (!receiver.waitForStarted(5000) || !receiver.waitForReadyRead(5000)) {
        std::fprintf(stderr, "manual-shots: the simulator did not start\n");
        return 1;
    }

    palvero::Program program((dir + "/palvero").toStdString());
    palvero::TForm1& main = program.mainWindow();
    if (!smallScreen)
        main.resize(1280, 720);
    program.show();
    settle(300);
    main.Butt_read->click();
    // The walk is over once no telegram has come for two seconds.
    QElapsedTimer walk, quiet;
    walk.start();
    quiet.start();
    int updates = 0, seen = 0;
    struct Counter : palvero::MeterTableListener {
        int* n;
        explicit Counter(int* count) : n(count) {}
        void rowUpdated(int) override { ++*n; }
    } counter(&updates);
    main.table().addListener(&counter);
    while (walk.elapsed() < 60000 && (updates == 0 || quiet.elapsed() < 2000)) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        if (updates != seen) {
            seen = updates;
            quiet.restart();
        }
    }
    main.table().removeListener(&counter);
    std::printf("meters in the table: %d\n", main.table().dataRowCount());

    auto action = [&](const char* name) {
        QAction* a = main.findChild<QAction*>(name);
        if (!a) {
            std::fprintf(stderr, "manual-shots: no command %s\n", name);
            ++g_failures;
            return;
        }
        a->trigger();
        settle();
    };
    const int keyedRow = main.table().findMeterRow(firstKeyed.toStdString());
    if (keyedRow > 0)
        main.showRow(keyedRow);

    auto runReport = [&] {
        action("Saveindatabase1");
        action("Reports1");
        palvero::TForm2& reports = program.reportsWindow();
        if (!smallScreen)
            reports.resize(1200, 620);
        bool ended = false;
        QObject::connect(&reports, &palvero::TForm2::reportEnded, [&] { ended = true; });
        reports.BitBtn1->click();
        QElapsedTimer report;
        report.start();
        while (!ended && report.elapsed() < 10000)
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        return &reports;
    };
    if (smallScreen) {
        main.Butt_read->click();
        receiver.terminate();
        receiver.waitForFinished(3000);
        writeSettings("ttyUSB0");
        action("Settings1");
        shootScreen(&program.settingsWindow(), "settings-small-screen.png");
        program.settingsWindow().hide();
        palvero::TForm2* reports = runReport();
        shootScreen(reports, "reports-small-screen.png");
        reports->hide();
        main.hide();
        return g_failures == 0 ? 0 : 1;
    }

    shoot(&main, "main-window.png");
    // The status bar alone, no wider than its texts, so that they stay readable on paper.
    main.resize(1000, 720);
    shoot(main.statusBar(), "route-panel.png");
    main.resize(1280, 720);

    action("Unreadmeters1");
    QWidget* unread = topLevel<QWidget>("TUnreadMeters");
    shoot(unread, "unread-meters.png");
    if (unread)
        unread->hide();

    action("Colours1");
    QWidget* legend = topLevel<QWidget>("TColourLegend");
    shoot(legend, "colour-legend.png");
    if (legend)
        legend->hide();

    palvero::TForm5& chart = program.signalChart();
    chart.showWindow();
    chart.resize(1000, 520);
    chart.Edit_searchMeter->setText(firstKeyed);
    chart.updateChart();
    shoot(&chart, "signal-chart.png");
    chart.hide();

    action("EnterAES128key1");
    QWidget* key = topLevel<QWidget>("TEnterAES");
    shoot(key, "key-dialog.png");
    if (key)
        key->hide();

    if (keyedRow > 0)
        main.showRow(keyedRow);
    action("Fulldecode1");
    shoot(&program.fullDecode(), "full-decode.png");
    program.fullDecode().hide();

    action("Decodetelegram1");
    QWidget* decode = topLevel<QWidget>("DecodeTelegramDialog");
    if (auto* text = decode ? decode->findChild<QPlainTextEdit*>("Memo_telegram") : nullptr)
        text->setPlainText("4144361C0202020200028C209A7A9A0030252F2F04050100000004FB82750000000004FB82F53C0000"
                           "0000042A0000000001FD17002F2F2F2F2F2F2F");
    shoot(decode, "decode-telegram.png");
    if (decode)
        decode->hide();

    main.Butt_read->click();
    receiver.terminate();
    receiver.waitForFinished(3000);
    settle(300);

    // The Settings window reads the file at each showing: show the port as a USB receiver's.
    writeSettings("ttyUSB0");
    action("Settings1");
    palvero::TSettings& settings = program.settingsWindow();
    settings.PageControl1->setCurrentIndex(0);
    shoot(&settings, "settings-communication.png");
    settings.PageControl1->setCurrentIndex(1);
    shoot(&settings, "settings-additional.png");
    settings.hide();

    action("Templates1");
    palvero::TTemplates& templates = program.templatesWindow();
    templates.changeTemplate();
    templates.loadTemplate("Route sheet");
    shoot(&templates, "templates-window.png");
    templates.hide();

    action("Exportdata1");
    shoot(&program.templateChoice(), "template-choice.png");
    program.templateChoice().hide();

    palvero::TForm2& reports = *runReport();
    shoot(&reports, "reports-window.png");
    reports.hide();

    action("SavedMeters1");
    palvero::TMetersView& meters = program.metersWindow();
    meters.resize(640, 480);
    shoot(&meters, "meters-window.png");
    meters.hide();

    main.hide();
    return g_failures == 0 ? 0 : 1;
}
