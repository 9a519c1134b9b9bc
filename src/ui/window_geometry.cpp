#include "window_geometry.h"

#include "ini_document.h"
#include "settings_file.h"

#include <algorithm>
#include <string>

namespace palvero {

namespace {

constexpr int kDefaultWidth = 1280;
constexpr int kDefaultHeight = 720;
constexpr int kMinWidth = 320;
constexpr int kMinHeight = 240;

std::optional<int> readInt(const IniDocument& doc, const char* key)
{
    auto text = doc.value(kOwnSection, key);
    if (!text)
        return std::nullopt;
    auto v = parseIniInteger(*text);
    if (!v)
        return std::nullopt;
    return static_cast<int>(*v);
}

void write(const std::filesystem::path& iniFile, const char* key, const std::string& value)
{
    // A settings file that cannot be written costs the remembered place, nothing else.
    (void)writeIniKey(iniFile, kOwnSection, key, value);
}

} // namespace

QRect fittedWindowGeometry(const QRect& available, const std::optional<QRect>& saved)
{
    const int maxW = std::max(1, available.width());
    const int maxH = std::max(1, available.height());
    if (saved && saved->width() > 0 && saved->height() > 0) {
        QRect r(saved->topLeft(), QSize(std::clamp(saved->width(), std::min(kMinWidth, maxW), maxW),
                                        std::clamp(saved->height(), std::min(kMinHeight, maxH), maxH)));
        // Keep it wholly on the available area (a screen that went away, a smaller one).
        r.moveLeft(std::clamp(r.left(), available.left(), available.right() + 1 - r.width()));
        r.moveTop(std::clamp(r.top(), available.top(), available.bottom() + 1 - r.height()));
        return r;
    }
    const QSize size(std::min(kDefaultWidth, maxW * 9 / 10), std::min(kDefaultHeight, maxH * 9 / 10));
    QRect r(QPoint(0, 0), size);
    r.moveCenter(available.center());
    return r;
}

std::optional<QRect> readWindowGeometry(const std::filesystem::path& iniFile, bool* maximized)
{
    auto doc = IniDocument::load(iniFile);
    if (!doc)
        return std::nullopt;
    if (maximized)
        *maximized = readInt(*doc, "WindowMaximized").value_or(0) != 0;
    auto x = readInt(*doc, "WindowLeft"), y = readInt(*doc, "WindowTop");
    auto w = readInt(*doc, "WindowWidth"), h = readInt(*doc, "WindowHeight");
    if (!x || !y || !w || !h || *w <= 0 || *h <= 0)
        return std::nullopt;
    return QRect(*x, *y, *w, *h);
}

void writeWindowGeometry(const std::filesystem::path& iniFile, const QRect& normal, bool maximized)
{
    std::error_code ec;
    if (!std::filesystem::exists(iniFile, ec))
        return;
    write(iniFile, "WindowLeft", std::to_string(normal.x()));
    write(iniFile, "WindowTop", std::to_string(normal.y()));
    write(iniFile, "WindowWidth", std::to_string(normal.width()));
    write(iniFile, "WindowHeight", std::to_string(normal.height()));
    write(iniFile, "WindowMaximized", maximized ? "1" : "0");
}

bool readFollowLastRead(const std::filesystem::path& iniFile)
{
    auto doc = IniDocument::load(iniFile);
    if (!doc)
        return true;
    return readInt(*doc, "FollowLastRead").value_or(1) != 0;
}

void writeFollowLastRead(const std::filesystem::path& iniFile, bool on)
{
    std::error_code ec;
    if (std::filesystem::exists(iniFile, ec))
        write(iniFile, "FollowLastRead", on ? "1" : "0");
}

} // namespace palvero
