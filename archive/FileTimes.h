// Times as the archive readers give them and as the application shows them.
#pragma once

#include <windows.h>

#include <cstdint>

// UTC FILETIME to an OLE automation date in local time, whole seconds; 0
// when the system cannot convert it.
double toOleDate(const FILETIME& utc);

// Seconds and nanoseconds since 1970-01-01 UTC as a FILETIME.
FILETIME unixToFileTime(int64_t seconds, long nanoseconds);
