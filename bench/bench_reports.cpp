// A report in the real Reports window over a large db.mrv: the time from "Report" to the
// finished, painted grid, how long the event loop waited at worst, and the memory the rows
// take, against reading the file once with cat in the same run. Figures only, no pass or
// fail. A later report reuses the memory of the rows it replaces.
//
//   bench_reports [--records N] [--folder DIR]
//
// Run under /usr/bin/time -v for the peak resident size of the whole process as well.
#include "measurement_file.h"
#include "report_model.h"
#include "reports_window.h"

#include <QApplication>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>

using namespace palvero;

namespace {

class ConsoleOperator : public Operator {
public:
    void showMessage(const std::string& caption, const std::string& text, MessageIcon) override
    {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }
    bool askYesNo(const std::string&, const std::string&, MessageIcon) override { return false; }
    std::optional<std::string> askSaveFile(const FileDialogSpec&) override { return std::nullopt; }
    std::optional<std::string> askOpenFile(const FileDialogSpec&) override { return std::nullopt; }
};

class ConsoleLog : public ErrorLogger {
public:
    void LogErrorCode(int code) override { std::fprintf(stderr, "error %d\n", code); }
    void LogErrorText(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
};

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long currentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word)
        if (word == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
    return -1;
}

// Readings of one walk a day through 2025, as a table of 16 columns and 6 additional values
// saves them: about 180 characters of text per 1056-byte record.
void writeDatabase(const std::string& path, long records)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const long perDay = std::max(1L, records / 365);
    const char* media[] = {"Water", "Heat", "Gas", "Electricity", "Hot water"};
    MeasurementRecord r;
    for (long i = 0; i < records; ++i) {
        const long day = std::min(i / perDay, 364L);
        const int month = static_cast<int>(day / 31) + 1 > 12 ? 12 : static_cast<int>(day / 31) + 1;
        const int dom = static_cast<int>(day % 28) + 1;
        char id[16], value[16], date[16], time[16];
        std::snprintf(id, sizeof id, "%08ld", 10000000 + i % 40000);
        std::snprintf(value, sizeof value, "%ld.%03ld", i % 99999, i % 1000);
        std::snprintf(date, sizeof date, "2025-%02d-%02d", month, dom);
        std::snprintf(time, sizeof time, "%02ld:%02ld:%02ld", 8 + i % 9, i % 60, (i * 7) % 60);
        r.fields = {std::to_string(i % 5000 + 1), id, "KAM", "", "Access No: 12; Status: 00", media[i % 5], value,
                    "m3", "-72", time, date, "", "1", "000102030405060708090A0B0C0D0E0F", "Street 12, flat 4",
                    "12.345", "0.000", "2025-01-31", "23.5", "", "1"};
        const auto bytes = r.encode();
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
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
    std::setlocale(LC_ALL, "");
    long records = 200000;
    QString folderArg;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--records")
            records = std::atol(argv[i + 1]);
        else if (std::string(argv[i]) == "--folder")
            folderArg = argv[i + 1];
    }

    QTemporaryDir temporary;
    const std::string folder = (folderArg.isEmpty() ? temporary.path() : folderArg).toStdString();
    std::filesystem::create_directories(folder + "/files");
    const std::string db = folder + "/files/db.mrv";
    // A kept folder with a database of the right size is used as it is.
    std::error_code ec;
    const bool reuse = std::filesystem::file_size(db, ec) == static_cast<std::uintmax_t>(records) * MeasurementRecord::kSize;
    const double written = reuse ? 0.0 : secondsOf([&] { writeDatabase(db, records); });
    const auto size = std::filesystem::file_size(db);
    std::printf("db.mrv: %ld records, %.1f MB, written in %.2f s\n", records, size / 1e6, written);

    const std::string cat = "cat '" + db + "' > /dev/null";
    auto catSeconds = [&] { return secondsOf([&] { (void)std::system(cat.c_str()); }); };
    std::printf("cat to /dev/null, first: %.3f s\n", catSeconds());

    SystemFormats formats;
    Settings settings;
    ConsoleOperator op;
    ConsoleLog log;
    TForm2 window(ReportsContext{settings, formats, op, log, ProgramPaths(folder + "/palvero")});
    window.show();
    app.processEvents();

    // The event loop's longest stall while a report runs: gaps between ticks of a 5 ms timer.
    QElapsedTimer clock;
    qint64 last = 0, worst = 0;
    QTimer probe;
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        worst = std::max(worst, clock.elapsed() - last);
        last = clock.elapsed();
    });

    struct Figures {
        std::vector<double> seconds;
        qint64 stall = 0;
        int rows = 0;
        double rowsMB = 0;
    };
    auto run = [&](const QDate& from, const QDate& to, Figures& f) {
        window.Date_from->setDate(from);
        window.Date_to->setDate(to);
        bool ended = false;
        const auto connection = QObject::connect(&window, &TForm2::reportEnded, [&] { ended = true; });
        worst = 0;
        clock.start();
        last = 0;
        probe.start();
        window.BitBtn1->click();
        while (!ended)
            app.processEvents(QEventLoop::WaitForMoreEvents);
        app.processEvents(); // the grid painted with its rows
        f.seconds.push_back(clock.elapsed() / 1000.0);
        probe.stop();
        QObject::disconnect(connection);
        f.stall = std::max(f.stall, worst);
        f.rows = window.model().reportRowCount();
        f.rowsMB = window.model().rows().memoryBytes() / 1e6;
    };
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };

    // Rounds of one read with cat, a report over the whole year and one over a month, so that
    // the machine's load meets all three alike; medians are shown.
    const int rounds = 7;
    std::vector<double> cats;
    Figures year, month;
    for (int i = 0; i < rounds; ++i) {
        cats.push_back(catSeconds());
        run(QDate(2025, 1, 1), QDate(2025, 12, 31), year);
        run(QDate(2025, 3, 1), QDate(2025, 3, 31), month);
    }
    const double catMedian = median(cats);
    std::printf("cat to /dev/null: median %.3f s over %d rounds\n", catMedian, rounds);
    const std::pair<const char*, const Figures*> reports[] = {{"whole year", &year}, {"one month", &month}};
    for (const auto& [name, f] : reports)
        std::printf("report %-10s %6d rows: median %.3f s = %.2f x cat (fastest %.3f s), longest event-loop "
                    "stall %lld ms, rows hold %.1f MB\n",
                    name, f->rows, median(f->seconds), median(f->seconds) / catMedian,
                    *std::min_element(f->seconds.begin(), f->seconds.end()), static_cast<long long>(f->stall),
                    f->rowsMB);
    std::printf("the first whole-year report, into fresh memory: %.3f s = %.2f x cat\n", year.seconds[0],
                year.seconds[0] / catMedian);
    QElapsedTimer paint;
    paint.start();
    for (int i = 0; i < 10; ++i)
        window.repaint();
    std::printf("one repaint of the window: %.1f ms\n", paint.elapsed() / 10.0);
    std::printf("resident now %.1f MB, peak %.1f MB (file %.1f MB)\n", currentKiB() / 1024.0, peakKiB() / 1024.0,
                size / 1e6);
    return 0;
}
