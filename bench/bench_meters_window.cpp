// The meters window with a large meters.mrv: importing a CSV file of many meters into an
// empty file, importing it again (every meter known, every key the same), deleting the first
// meter of that list, and "Delete all" of the popup menu over a list of many meters. Figures
// only, no pass or fail.
//
//   bench_meters_window [--import N] [--delete N]
#include "meters_window.h"
#include "text_grid_model.h"

#include <QApplication>
#include <QTableView>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

using namespace palvero;

namespace {

class YesOperator : public Operator {
public:
    void showMessage(const std::string& caption, const std::string& text, MessageIcon) override
    {
        if (verbose)
            std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }
    bool askYesNo(const std::string&, const std::string&, MessageIcon) override { return true; }
    std::optional<std::string> askSaveFile(const FileDialogSpec&) override { return std::nullopt; }
    std::optional<std::string> askOpenFile(const FileDialogSpec&) override { return std::nullopt; }
    bool verbose = false;
};

class ConsoleLog : public ErrorLogger {
public:
    void LogErrorCode(int code) override { std::fprintf(stderr, "error %d\n", code); }
    void LogErrorText(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
};

std::string meterId(long i)
{
    char id[16];
    std::snprintf(id, sizeof id, "%08ld", 10000000 + i);
    return id;
}

const std::string kKey = "000102030405060708090A0B0C0D0E0F";

void writeCsv(const std::string& path, long meters)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (long i = 0; i < meters; ++i)
        out << meterId(i) << ';' << kKey << ";\r\n";
}

void writeMeters(const std::string& path, long meters)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (long i = 0; i < meters; ++i) {
        const auto r = MeterKeyRecord{meterId(i), kKey}.encode();
        out.write(reinterpret_cast<const char*>(r.data()), static_cast<std::streamsize>(r.size()));
    }
}

double secondsOf(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    long imported = 100000;
    long deleted = 50000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--import")
            imported = std::atol(argv[i + 1]);
        else if (std::string(argv[i]) == "--delete")
            deleted = std::atol(argv[i + 1]);
    }

    QTemporaryDir temporary;
    const std::string folder = temporary.path().toStdString();
    std::filesystem::create_directories(folder + "/files");
    const std::string metersPath = folder + "/files/meters.mrv";
    const std::string csv = folder + "/meters-in.csv";
    writeCsv(csv, imported);
    writeMeters(metersPath, 0);

    Settings settings;
    YesOperator op;
    ConsoleLog log;
    MetersFile meters(folder + "/files", log);
    TMetersView window(MetersViewContext{meters, settings, op, log, ProgramPaths(folder + "/palvero")});
    window.show();
    app.processEvents();

    const double first = secondsOf([&] { window.ImportMetersCsv(csv); });
    app.processEvents();
    std::printf("import of %ld new meters: %.2f s, the grid lists %d\n", imported, first,
                window.model().dataRowCount());
    const double again = secondsOf([&] { window.ImportMetersCsv(csv); });
    app.processEvents();
    std::printf("the same file again (every meter known): %.2f s\n", again);
    window.Grid_meters->setCurrentIndex(window.model().index(0, 1));
    const double one = secondsOf([&] { window.deleteSelected(); });
    app.processEvents();
    std::printf("Delete of the first of %d listed meters: %.2f s\n", window.model().dataRowCount() + 1, one);

    writeMeters(metersPath, deleted);
    window.LoadMetersGrid();
    app.processEvents();
    const double removal = secondsOf([&] { window.deleteAllListed(); });
    app.processEvents();
    std::printf("Delete all of %ld listed meters: %.2f s, %ld bytes left in meters.mrv\n", deleted, removal,
                static_cast<long>(std::filesystem::file_size(metersPath)));
    return 0;
}
