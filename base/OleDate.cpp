#include "base/OleDate.h"

#include <cmath>

namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kDaysFrom1601To1899 = 109205;  // 1601-01-01 to 1899-12-30
constexpr int64_t kDaysFrom1899To1970 = 25569;   // 1899-12-30 to 1970-01-01
// The system's range: 0100-01-01 to 9999-12-31 23:59:59.
constexpr double kEarliest = -657434.0, kLatest = 2958466.0;

int64_t floorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

// Proleptic Gregorian date of a count of days since 1970-01-01.
void civilFromDays(int64_t days, CalendarTime* t) {
    days += 719468;
    int64_t era = floorDiv(days, 146097);
    int64_t dayOfEra = days - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // March is 0
    t->day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    t->month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    t->year = static_cast<int>(yearOfEra + era * 400 + (t->month <= 2));
}

}  // namespace

double oleDateFromSeconds(int64_t secondsSince1601) {
    int64_t day = floorDiv(secondsSince1601, kSecondsPerDay);
    double time = static_cast<double>(secondsSince1601 - day * kSecondsPerDay) / kSecondsPerDay;
    day -= kDaysFrom1601To1899;
    return day >= 0 ? static_cast<double>(day) + time : static_cast<double>(day) - time;
}

bool calendarFromOleDate(double date, CalendarTime* out) {
    if (!(date > kEarliest - 1 && date < kLatest)) return false;
    double whole = std::trunc(date);
    int64_t day = static_cast<int64_t>(whole);
    int64_t seconds = std::llround(std::fabs(date - whole) * kSecondsPerDay);
    if (seconds == kSecondsPerDay) {  // rounded up to the next midnight
        day++;
        seconds = 0;
    }
    CalendarTime t;
    civilFromDays(day - kDaysFrom1899To1970, &t);
    if (t.year < 100 || t.year > 9999) return false;
    t.hour = static_cast<int>(seconds / 3600);
    t.minute = static_cast<int>(seconds / 60 % 60);
    t.second = static_cast<int>(seconds % 60);
    *out = t;
    return true;
}
