#include "zip/EntryAttributes.h"

uint32_t mapAttributes(uint16_t versionMadeBy, uint32_t external) {
    unsigned host = versionMadeBy >> 8;
    bool readOnly, hidden, system, directory, archive;
    if (host == 0 || host == 7 || host == 11 || host == 14) {
        readOnly = external & 0x01;
        hidden = external & 0x02;
        system = external & 0x04;
        directory = external & 0x10;
        archive = external & 0x20;
    } else {
        directory = external & 0x40000000;   // S_IFDIR << 16
        readOnly = !(external & 0x00800000); // owner write (S_IWUSR << 16) clear
        hidden = false;
        system = false;
        archive = true;
    }
    uint32_t attributes = 0;
    if (directory) attributes |= kAttributeDirectory;
    if (archive) attributes |= kAttributeArchive;
    if (hidden) attributes |= kAttributeHidden;
    if (readOnly) attributes |= kAttributeReadOnly;
    if (system) attributes |= kAttributeSystem;
    return attributes;
}

DosDateTime decodeDosDateTime(uint32_t value) {
    uint32_t date = value >> 16, time = value & 0xFFFF;
    DosDateTime t;
    t.year = 1980 + static_cast<int>(date >> 9);
    t.month = static_cast<int>((date >> 5) & 15);
    t.day = static_cast<int>(date & 31);
    t.hour = static_cast<int>(time >> 11);
    t.minute = static_cast<int>((time >> 5) & 63);
    t.second = static_cast<int>(time & 31) * 2;
    return t;
}

bool isValidDateTime(const DosDateTime& t) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.month < 1 || t.month > 12 || t.day < 1) return false;
    bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
    int days = kDays[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
    return t.day <= days && t.hour < 24 && t.minute < 60 && t.second < 60;
}

uint64_t unixTimeToFileTime(int64_t seconds) {
    return static_cast<uint64_t>(seconds + 11644473600LL) * 10000000ULL;
}
