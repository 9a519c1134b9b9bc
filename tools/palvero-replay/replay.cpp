#include "replay.h"

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

bool parseHexLine(const std::string& line, std::vector<uint8_t>& bytes)
{
    int high = -1;
    for (char c : line) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        int v = hexDigitValue(c);
        if (v < 0)
            return false;
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    return high < 0;
}

void split(const std::vector<uint8_t>& bytes, size_t chunk, std::vector<std::vector<uint8_t>>& events)
{
    for (size_t at = 0; at < bytes.size(); at += chunk)
        events.emplace_back(bytes.begin() + static_cast<long>(at),
                            bytes.begin() + static_cast<long>(std::min(bytes.size(), at + chunk)));
}

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
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read capture " + path.string();
        return false;
    }
    if (!hex) {
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        split(bytes, chunk ? chunk : 64, events);
        return true;
    }
    std::string line;
    std::vector<uint8_t> all;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#')
            continue;
        std::vector<uint8_t> bytes;
        if (!parseHexLine(line, bytes)) {
            error = path.string() + ":" + std::to_string(number) + ": not hexadecimal byte pairs";
            return false;
        }
        if (chunk)
            all.insert(all.end(), bytes.begin(), bytes.end());
        else if (!bytes.empty())
            events.push_back(std::move(bytes));
    }
    if (in.bad()) {
        error = "cannot read capture " + path.string();
        return false;
    }
    if (chunk)
        split(all, chunk, events);
    return true;
}

int runReplay(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    std::string error;
    auto options = parseReplayArguments(args, error);
    if (!options) {
        err << "palvero-replay: " << error << "\n";
        return 2;
    }

    std::vector<std::vector<uint8_t>> events;
    for (const auto& capture : options->captures) {
        if (!readCapture(capture, options->hex, options->chunk, events, error)) {
            err << "palvero-replay: " << error << "\n";
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
    if (options->data)
        reception.keepCompactFormatsIn(*options->data);
    if (options->json) {
        const char separator = formats.decimalSeparator();
        reception.processor().telegramRead = [&, separator](int row, const ReceiverFrame& f) {
            out << telegramJson(table, row, reception.processor(), f, separator) << "\n";
        };
    }
    for (const auto& e : events)
        reception.receive(e);

    if (!options->json)
        out << gridCsvText(table.grid(), settings.ExportSeparator);
    for (const auto& line : table.readerLog)
        err << line << "\n";
    out.flush();
    return 0;
}

} // namespace palvero
