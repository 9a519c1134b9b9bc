#include "replay.h"

#include "capture_file.h"
#include "csv.h"
#include "error_log.h"
#include "formats.h"
#include "meters_file.h"
#include "operator.h"
#include "reception.h"
#include "settings.h"
#include "settings_file.h"
#include "telegram_json.h"

#include <charconv>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

namespace palvero {

namespace {

constexpr size_t kJsonBatch = 1 << 16;

const char kUsage[] = "usage: palvero-replay [--ini FILE] [--data DIR] [--hex] [--chunk N] [--json] CAPTURE...";

// Messages of the stores go to standard error; there is nobody to answer questions.
class ConsoleOperator : public Operator {
public:
    explicit ConsoleOperator(std::ostream& err)
        : m_err(err)
    {
    }
    void showMessage(const std::string& caption, const std::string& text, MessageIcon) override
    {
        m_err << caption << ": " << text << "\n";
    }
    bool askYesNo(const std::string&, const std::string&, MessageIcon) override { return false; }
    std::optional<std::string> askSaveFile(const FileDialogSpec&) override { return std::nullopt; }
    std::optional<std::string> askOpenFile(const FileDialogSpec&) override { return std::nullopt; }

private:
    std::ostream& m_err;
};

} // namespace

std::optional<ReplayOptions> parseReplayArguments(const std::vector<std::string>& args, std::string& error)
{
    ReplayOptions o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* name) -> const std::string* {
            if (i + 1 >= args.size()) {
                error = std::string("option ") + name + " needs a value; " + kUsage;
                return nullptr;
            }
            return &args[++i];
        };
        if (a == "--ini") {
            const std::string* v = value("--ini");
            if (!v)
                return std::nullopt;
            o.ini = *v;
        } else if (a == "--data") {
            const std::string* v = value("--data");
            if (!v)
                return std::nullopt;
            o.data = *v;
        } else if (a == "--hex") {
            o.hex = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--chunk") {
            const std::string* v = value("--chunk");
            if (!v)
                return std::nullopt;
            size_t n = 0;
            auto res = std::from_chars(v->data(), v->data() + v->size(), n);
            if (res.ec != std::errc() || res.ptr != v->data() + v->size() || n == 0) {
                error = "--chunk needs a whole number of bytes above 0, not \"" + *v + "\"";
                return std::nullopt;
            }
            o.chunk = n;
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option " + a + "; " + kUsage;
            return std::nullopt;
        } else {
            o.captures.emplace_back(a);
        }
    }
    if (o.captures.empty()) {
        error = std::string("no capture given; ") + kUsage;
        return std::nullopt;
    }
    return o;
}

bool readCapture(const std::filesystem::path& path, bool hex, size_t chunk, std::vector<std::vector<uint8_t>>& events,
                 std::string& error)
{
    CaptureReader reader;
    if (!reader.open(path, hex ? CaptureReader::Kind::Hex : CaptureReader::Kind::Raw, chunk, error))
        return false;
    std::vector<uint8_t> event;
    while (reader.next(event))
        events.push_back(event);
    error = reader.error();
    return error.empty();
}

int runReplay(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    std::string error;
    auto options = parseReplayArguments(args, error);
    if (!options) {
        err << "palvero-replay: " << error << "\n";
        return 2;
    }

    // Every capture must open before any is read.
    for (const auto& capture : options->captures) {
        std::ifstream probe(capture, std::ios::binary);
        if (!probe) {
            err << "palvero-replay: cannot read capture " << capture.string() << "\n";
            return 2;
        }
    }
    if (options->ini && std::filesystem::exists(*options->ini) && !std::ifstream(*options->ini)) {
        err << "palvero-replay: cannot read settings " << options->ini->string() << "\n";
        return 2;
    }

    Settings settings;
    if (options->ini)
        loadSettingsFile(settings, *options->ini);
    SystemFormats formats;
    ConsoleOperator console(err);
    std::unique_ptr<ErrorLog> log;
    std::unique_ptr<MetersFile> meters;
    if (options->data) {
        log = std::make_unique<ErrorLog>(*options->data, formats, console);
        meters = std::make_unique<MetersFile>(*options->data, *log);
    }

    MeterTable table(clampedCount(settings.Count));
    Reception reception(table, settings, formats, meters.get());
    if (options->data) {
        reception.keepCompactFormatsIn(*options->data);
        std::vector<FormatTextError> formatErrors;
        if (!reception.useMeterFormatsIn(*options->data, &formatErrors))
            err << "palvero-replay: cannot read " << (*options->data / kMeterFormatsFileName).string() << "\n";
        for (const auto& e : formatErrors)
            err << "palvero-replay: " << (*options->data / kMeterFormatsFileName).string() << ":" << e.line << ": "
                << e.text << "; that format is not used\n";
    }
    std::string jsonLines;
    auto writeJson = [&] {
        out.write(jsonLines.data(), static_cast<std::streamsize>(jsonLines.size()));
        jsonLines.clear();
    };
    if (options->json) {
        const char separator = formats.decimalSeparator();
        // The lines gather in one buffer and leave in large writes: a line per write would
        // cost a system call per telegram.
        reception.processor().telegramRead = [&, separator](int row, const ReceiverFrame& f) {
            appendTelegramJson(jsonLines, table, row, reception.processor(), f, separator);
            jsonLines += '\n';
            if (jsonLines.size() >= kJsonBatch)
                writeJson();
        };
    }
    // A receive event at a time: memory follows the meters in the table, not the length
    // of the capture.
    std::vector<uint8_t> event;
    for (const auto& capture : options->captures) {
        CaptureReader reader;
        const auto kind = options->hex ? CaptureReader::Kind::Hex : CaptureReader::Kind::Raw;
        if (!reader.open(capture, kind, options->chunk, error)) {
            writeJson();
            err << "palvero-replay: " << error << "\n";
            return 2;
        }
        // Rows get the time their telegram was heard when the capture keeps it.
        while (reader.next(event)) {
            if (reader.hasTimes())
                reception.receive(event, reader.stamp().localTime());
            else
                reception.receive(event);
        }
        if (!reader.error().empty()) {
            writeJson();
            err << "palvero-replay: " << reader.error() << "\n";
            return 2;
        }
        if (!reader.hasTimes())
            err << "palvero-replay: " << capture.string() << " " << kNoTimesText << "\n";
    }

    if (options->json)
        writeJson();
    else
        out << gridCsvText(table.grid(), settings.ExportSeparator);
    for (const auto& line : table.readerLog)
        err << line << "\n";
    out.flush();
    return 0;
}

} // namespace palvero
