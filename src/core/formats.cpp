#include "formats.h"

#include <clocale>
#include <cstdio>
#include <ctime>

namespace palvero {

namespace {

std::tm toTm(const DateTime& t)
{
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1;
    return tm;
}

std::string format(const char* pattern, const DateTime& t)
{
    std::tm tm = toTm(t);
    char buf[128];
    size_t n = std::strftime(buf, sizeof buf, pattern, &tm);
    return std::string(buf, n);
}

} // namespace

bool isValidDate(int year, int month, int day)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1)
        return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    int limit = days[month - 1] + (month == 2 && leap ? 1 : 0);
    return day <= limit;
}

char SystemFormats::decimalSeparator() const
{
    const std::lconv* lc = std::localeconv();
    if (lc && lc->decimal_point && lc->decimal_point[0] && !lc->decimal_point[1])
        return lc->decimal_point[0];
    return '.';
}

std::string SystemFormats::timeText(const DateTime& t) const
{
    if (!(t == m_timeOf)) {
        m_time = format("%X", t);
        m_timeOf = t;
    }
    return m_time;
}

std::string SystemFormats::dateText(const DateTime& t) const
{
    if (!(t.year == m_dateOf.year && t.month == m_dateOf.month && t.day == m_dateOf.day)) {
        m_date = format("%x", t);
        m_dateOf = t;
    }
    return m_date;
}

std::optional<DateTime> SystemFormats::readDate(const std::string& text) const
{
    std::tm tm{};
    tm.tm_mday = 0;
    const char* end = strptime(text.c_str(), "%x", &tm);
    if (!end || *end != '\0')
        return std::nullopt;
    DateTime d;
    d.year = tm.tm_year + 1900;
    d.month = tm.tm_mon + 1;
    d.day = tm.tm_mday;
    if (!isValidDate(d.year, d.month, d.day))
        return std::nullopt;
    return d;
}

DateTime SystemFormats::now() const
{
    std::time_t s = std::time(nullptr);
    if (s != m_cachedSecond) {
        std::tm tm{};
        localtime_r(&s, &tm);
        m_cachedNow = DateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
        m_cachedSecond = s;
    }
    return m_cachedNow;
}

FixedFormats::FixedFormats(DateTime now, char separator)
    : m_now(now)
    , m_separator(separator)
{
}

std::string FixedFormats::timeText(const DateTime& t) const
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return buf;
}

std::string FixedFormats::dateText(const DateTime& t) const
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", t.day, t.month, t.year);
    return buf;
}

std::optional<DateTime> FixedFormats::readDate(const std::string& text) const
{
    int d = 0, m = 0, y = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%d.%d.%d%c", &d, &m, &y, &tail) != 3)
        return std::nullopt;
    if (!isValidDate(y, m, d))
        return std::nullopt;
    return DateTime{y, m, d, 0, 0, 0};
}

} // namespace palvero
