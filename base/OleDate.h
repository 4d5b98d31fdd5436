// OLE automation dates, as the archive interface hands out times: days since
// 1899-12-30 00:00 with the time of day as the fraction (before that day the
// days count down while the time still counts up: -1.25 is 1899-12-29
// 06:00). Converted here rather than by oleaut32, whose loading (with the
// COM libraries it pulls in) costs every start of the program under Wine.
#pragma once

#include <cstdint>

struct CalendarTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Whole seconds counted from 1601-01-01 00:00 (a FILETIME's start) as an
// OLE date.
double oleDateFromSeconds(int64_t secondsSince1601);

// The calendar time of an OLE date, to the nearest second; false outside the
// years 100 to 9999, as the system's conversion refuses them.
bool calendarFromOleDate(double date, CalendarTime* out);
