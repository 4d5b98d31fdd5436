#include "archive/FileTimes.h"

#include <oleauto.h>

#include "zip/EntryAttributes.h"

double toOleDate(const FILETIME& utc) {
    FILETIME local{};
    SYSTEMTIME st{};
    double date = 0;
    if (!::FileTimeToLocalFileTime(&utc, &local) || !::FileTimeToSystemTime(&local, &st)) return 0;
    st.wMilliseconds = 0;
    if (!::SystemTimeToVariantTime(&st, &date)) return 0;
    return date;
}

FILETIME unixToFileTime(int64_t seconds, long nanoseconds) {
    // Before 1601 there is no FILETIME; such a time is taken as its start.
    if (seconds < -11644473600LL) return FILETIME{};
    uint64_t ticks = unixTimeToFileTime(seconds);
    if (nanoseconds > 0 && nanoseconds < 1000000000) ticks += static_cast<uint64_t>(nanoseconds) / 100;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}
