// What an entry's central-directory record says about the file it holds:
// Win32 attribute bits from the external attributes, and the fields of the
// DOS date-time. Platform-free; the Win32 side turns the fields into times.
#pragma once

#include <cstdint>

// The Win32 FILE_ATTRIBUTE_* bits the library reports.
enum : uint32_t {
    kAttributeReadOnly = 0x01,
    kAttributeHidden = 0x02,
    kAttributeSystem = 0x04,
    kAttributeDirectory = 0x10,
    kAttributeArchive = 0x20,
};

// versionMadeBy's high byte names the host system: DOS-like hosts (0 MS-DOS,
// 7 Macintosh, 11 NTFS, 14 VFAT) keep DOS attributes in the low bits, every
// other host keeps a Unix mode in the high 16 bits.
uint32_t mapAttributes(uint16_t versionMadeBy, uint32_t externalAttributes);

struct DosDateTime {
    int year = 1980, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0;
};

// Splits the 32-bit value (date in the high half, time in the low half).
DosDateTime decodeDosDateTime(uint32_t value);

// Whether the fields name a real moment: month 1-12, a day that month has,
// hour below 24, minute and second below 60.
bool isValidDateTime(const DosDateTime& t);

// Seconds since 1970-01-01 UTC as a FILETIME count (100 ns since 1601-01-01 UTC).
uint64_t unixTimeToFileTime(int64_t seconds);
