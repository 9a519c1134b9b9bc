#include "formats.h"

#include <gtest/gtest.h>

#include <clocale>

namespace palvero {
namespace {

TEST(FixedFormats, TextsAndDatesRoundTrip)
{
    FixedFormats f;
    DateTime t = f.now();
    EXPECT_EQ(f.timeText(t), "14:03:22");
    EXPECT_EQ(f.dateText(t), "06.12.2026");
    auto d = f.readDate("29.02.2024");
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->year, 2024);
    EXPECT_FALSE(f.readDate("29.02.2023").has_value());
    EXPECT_FALSE(f.readDate("05.13.2021").has_value());
    EXPECT_FALSE(f.readDate("5.3.24x").has_value());
}

TEST(SystemFormats, FollowsTheCLocale)
{
    std::setlocale(LC_ALL, "C");
    SystemFormats f;
    DateTime t{2026, 12, 6, 14, 3, 22};
    EXPECT_EQ(f.decimalSeparator(), '.');
    EXPECT_EQ(f.timeText(t), "14:03:22");
    EXPECT_EQ(f.dateText(t), "12/06/26");
    auto d = f.readDate("12/06/26");
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->day, 6);
    EXPECT_EQ(d->month, 12);
    EXPECT_FALSE(f.readDate("13/45/26").has_value());
}

} // namespace
} // namespace palvero
