#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace palvero {

// A local calendar time, as the operator's clock shows it.
struct DateTime {
    int year = 0;   // full year, e.g. 2026
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;

    bool operator==(const DateTime& o) const
    {
        return year == o.year && month == o.month && day == o.day && hour == o.hour && minute == o.minute
            && second == o.second;
    }
};

// What the locale decides: the decimal separator, the short date and long time texts,
// reading a short date back, and the current time. The pipeline, the logs and the
// exports take their texts from here so that tests can fix them.
class Formats {
public:
    virtual ~Formats() = default;
    virtual char decimalSeparator() const = 0;
    virtual std::string timeText(const DateTime& t) const = 0;
    virtual std::string dateText(const DateTime& t) const = 0;
    // Reads a text in the short date format; nothing when it is not a valid date.
    virtual std::optional<DateTime> readDate(const std::string& text) const = 0;
    virtual DateTime now() const = 0;
};

// The C library's locale: strftime %X and %x, strptime %x, localeconv. The program sets
// the locale from the environment at start-up, so program and tools show the same texts.
// Time and date texts of the current second are kept, since every telegram asks for them.
class SystemFormats : public Formats {
public:
    char decimalSeparator() const override;
    std::string timeText(const DateTime& t) const override;
    std::string dateText(const DateTime& t) const override;
    std::optional<DateTime> readDate(const std::string& text) const override;
    DateTime now() const override;

private:
    mutable std::time_t m_cachedSecond = -1;
    mutable DateTime m_cachedNow;
    mutable DateTime m_timeOf{-1};
    mutable std::string m_time;
    mutable DateTime m_dateOf{-1};
    mutable std::string m_date;
};

// Fixed texts for tests and reproducible tools: day.month.year dates ("06.12.2026"),
// hh:mm:ss times, a chosen separator and a clock that stands still until set.
class FixedFormats : public Formats {
public:
    explicit FixedFormats(DateTime now = {2026, 12, 6, 14, 3, 22}, char separator = '.');
    char decimalSeparator() const override { return m_separator; }
    std::string timeText(const DateTime& t) const override;
    std::string dateText(const DateTime& t) const override;
    std::optional<DateTime> readDate(const std::string& text) const override;
    DateTime now() const override { return m_now; }

    void setNow(const DateTime& now) { m_now = now; }
    void setDecimalSeparator(char separator) { m_separator = separator; }

private:
    DateTime m_now;
    char m_separator;
};

bool isValidDate(int year, int month, int day);

} // namespace palvero
