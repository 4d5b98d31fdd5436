#include "archive/FileTimes.h"

#include "base/OleDate.h"
#include "zip/EntryAttributes.h"

double toOleDate(const FILETIME& utc) {
    FILETIME local{};
    if (!::FileTimeToLocalFileTime(&utc, &local)) return 0;
    uint64_t ticks = static_cast<uint64_t>(local.dwHighDateTime) << 32 | local.dwLowDateTime;
    return oleDateFromSeconds(static_cast<int64_t>(ticks / 10000000));
}

FILETIME unixToFileTime(int64_t seconds, long nanoseconds) {
    // Before 1601 there is no FILETIME; such a time is taken as its start.
    if (seconds < -11644473600LL) return FILETIME{};
    uint64_t ticks = unixTimeToFileTime(seconds);
    if (nanoseconds > 0 && nanoseconds < 1000000000) ticks += static_cast<uint64_t>(nanoseconds) / 100;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}
