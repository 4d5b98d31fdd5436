// OLE dates from seconds since 1601 and back to the calendar, as the
// system's conversions give them: the epochs, times before 1899-12-30 (days
// down, time up), leap days and the ends of the range.
#include "base/OleDate.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t kDay = 86400;
constexpr int64_t k1899 = 109205 * kDay;  // 1899-12-30 in seconds since 1601

TEST(OleDate, MatchesTheCalendar) {
    const struct {
        int64_t seconds;  // since 1601-01-01
        double date;
        CalendarTime time;
    } cases[] = {
        {k1899, 0.0, {1899, 12, 30, 0, 0, 0}},
        {k1899 + 25569 * kDay, 25569.0, {1970, 1, 1, 0, 0, 0}},
        {k1899 + 36526 * kDay + kDay / 2, 36526.5, {2000, 1, 1, 12, 0, 0}},
        {k1899 + 36585 * kDay + 3723, 36585.0 + 3723.0 / kDay, {2000, 2, 29, 1, 2, 3}},
        {k1899 - kDay + kDay / 4, -1.25, {1899, 12, 29, 6, 0, 0}},
        {k1899 - kDay, -1.0, {1899, 12, 29, 0, 0, 0}},
        {0, -109205.0, {1601, 1, 1, 0, 0, 0}},
        {k1899 + 2958465 * kDay + kDay - 1, 2958465.0 + (kDay - 1.0) / kDay, {9999, 12, 31, 23, 59, 59}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.date);
        EXPECT_DOUBLE_EQ(oleDateFromSeconds(c.seconds), c.date);
        CalendarTime t;
        ASSERT_TRUE(calendarFromOleDate(c.date, &t));
        EXPECT_EQ(t.year, c.time.year);
        EXPECT_EQ(t.month, c.time.month);
        EXPECT_EQ(t.day, c.time.day);
        EXPECT_EQ(t.hour, c.time.hour);
        EXPECT_EQ(t.minute, c.time.minute);
        EXPECT_EQ(t.second, c.time.second);
    }
}

TEST(OleDate, RoundTripsEverySecondOfTheDayAndRefusesTheOutOfRange) {
    // Days before and after 1899-12-30, each with seconds across the day:
    // the calendar seconds must come back as they went in.
    for (int64_t day : {int64_t{-2}, int64_t{-1}, int64_t{0}, int64_t{1}, int64_t{45000}}) {
        for (int64_t second = 0; second < kDay; second += 997) {
            CalendarTime t;
            ASSERT_TRUE(calendarFromOleDate(oleDateFromSeconds(k1899 + day * kDay + second), &t));
            EXPECT_EQ(t.hour * 3600 + t.minute * 60 + t.second, second) << day;
        }
    }
    CalendarTime t;
    EXPECT_FALSE(calendarFromOleDate(-657435.0, &t));  // 0099-12-31
    EXPECT_FALSE(calendarFromOleDate(2958466.0, &t));  // 10000-01-01
    EXPECT_TRUE(calendarFromOleDate(-657434.0, &t));   // 0100-01-01
    EXPECT_EQ(t.year, 100);
}

}  // namespace
