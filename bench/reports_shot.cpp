// The demo walk through the whole program: the capture's telegrams go into the meter table,
// File "Save in database" stores them in db.mrv, and Tools "Reports" lists today's readings.
// Saves a picture of the Reports window and prints the report as the export writes it.
//
//   reports_shot --capture tools/wmbus-sim/demo-walk.txt --screenshot docs/reports-window.png
#include "capture.h"
#include "main_window.h"
#include "program.h"
#include "report_model.h"
#include "reports_window.h"

#include <QAction>
#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <QTemporaryDir>

#include <clocale>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

QString option(const QStringList& args, const QString& name)
{
    const int i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args[i + 1] : QString();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::setlocale(LC_ALL, "");
    const QStringList args = app.arguments();
    const QString capturePath = option(args, "--capture");
    const QString shot = option(args, "--screenshot");
    if (capturePath.isEmpty()) {
        std::fprintf(stderr, "usage: reports_shot --capture FILE [--screenshot FILE]\n");
        return 2;
    }

    std::ifstream in(capturePath.toStdString());
    std::stringstream text;
    text << in.rdbuf();

    // A program folder of its own, with the keys of the walk's encrypted meters.
    QTemporaryDir folder;
    const std::string dir = folder.path().toStdString();
    std::filesystem::create_directories(dir + "/files");
    {
        std::ofstream meters(dir + "/files/meters.mrv", std::ios::binary);
        std::istringstream lines(text.str());
        for (std::string line; std::getline(lines, line);) {
            std::istringstream words(line);
            std::string hash, key, id, value;
            if (words >> hash >> key >> id >> value && hash == "#" && key == "key" && id.size() == 8
                && value.size() == 32)
                meters << char(8) << id << char(32) << value;
        }
        std::ofstream(dir + "/files/db.mrv");
        std::ofstream(dir + "/palvero.ini") << "[Misc]\r\nUseDBMeters=1\r\n[Wireless]\r\nAES128_5=1\r\nV1=0\r\nV2=1\r\n"
                                               "RSSI_v2=1\r\n[Titles]\r\nCount=3\r\n";
    }

    std::istringstream captureText(text.str());
    const palvero::sim::Capture capture = palvero::sim::readCapture(captureText, palvero::sim::FrameShape{});
    if (!capture.error.empty()) {
        std::fprintf(stderr, "reports_shot: %s\n", capture.error.c_str());
        return 1;
    }

    palvero::Program program(dir + "/palvero");
    palvero::TForm1& main = program.mainWindow();
    for (const auto& frame : capture.frames)
        main.reception().receive(frame);
    program.show();
    main.findChild<QAction*>("Saveindatabase1")->trigger();

    main.findChild<QAction*>("Reports1")->trigger();
    palvero::TForm2& reports = program.reportsWindow();
    reports.resize(1280, 700);
    bool ended = false;
    QObject::connect(&reports, &palvero::TForm2::reportEnded, [&] { ended = true; });
    reports.BitBtn1->click();
    while (!ended)
        app.processEvents(QEventLoop::WaitForMoreEvents);
    for (int i = 0; i < 20; ++i)
        app.processEvents();

    std::printf("meters in the table: %d, rows in the report: %d\n", main.table().dataRowCount(),
                reports.model().reportRowCount());
    std::vector<std::string> cells;
    for (int r = 0; r < reports.model().rowCount(); ++r) {
        reports.model().rowCells(r, cells);
        for (const auto& c : cells)
            std::printf("%s;", c.c_str());
        std::printf("\n");
    }
    if (!shot.isEmpty() && !reports.grab().save(shot))
        return 1;
    reports.hide();
    main.hide();
    return 0;
}
