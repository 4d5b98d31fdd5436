// Attributes, DOS date-times and the extra-field blocks of an entry.
#include <gtest/gtest.h>

#include <vector>

#include "zip/EntryAttributes.h"
#include "zip/ExtraField.h"
#include "ZipBuilder.h"

namespace {

constexpr uint16_t kUnix = 3 << 8, kDos = 0, kNtfs = 11 << 8;

TEST(MapAttributes, ReadsUnixModesAndDosBitsByHost) {
    EXPECT_EQ(mapAttributes(kUnix, 0x41ED0000), 0x30u);  // drwxr-xr-x
    EXPECT_EQ(mapAttributes(kUnix, 0x81240000), 0x21u);  // -r--r--r--
    EXPECT_EQ(mapAttributes(kUnix, 0x81A40000), 0x20u);  // -rw-r--r--
    EXPECT_EQ(mapAttributes(kUnix, 0x41ED0010), 0x30u);  // DOS bits beside a Unix mode are ignored
    EXPECT_EQ(mapAttributes(kUnix, 0x81A40007), 0x20u);
    EXPECT_EQ(mapAttributes(kDos, 0x21), 0x21u);
    EXPECT_EQ(mapAttributes(kDos, 0x10), 0x10u);
    EXPECT_EQ(mapAttributes(kNtfs, 0x27), 0x27u);
    EXPECT_EQ(mapAttributes(7 << 8, 0x02), 0x02u);
    EXPECT_EQ(mapAttributes(14 << 8, 0x81A40000), 0x00u);
    EXPECT_EQ(mapAttributes(kDos, 0xFFFFFFC0), 0x00u);
}

uint32_t dos(int y, int mo, int d, int h, int mi, int s) {
    return static_cast<uint32_t>((y - 1980) << 25 | mo << 21 | d << 16 | h << 11 | mi << 5 | s / 2);
}

TEST(DosDateTime, DecodesAndValidates) {
    DosDateTime t = decodeDosDateTime(dos(2024, 2, 29, 13, 45, 58));
    EXPECT_EQ(t.year, 2024);
    EXPECT_EQ(t.month, 2);
    EXPECT_EQ(t.day, 29);
    EXPECT_EQ(t.hour, 13);
    EXPECT_EQ(t.minute, 45);
    EXPECT_EQ(t.second, 58);
    EXPECT_TRUE(isValidDateTime(t));
    EXPECT_TRUE(isValidDateTime(decodeDosDateTime(dos(2107, 12, 31, 23, 59, 58))));
    EXPECT_FALSE(isValidDateTime(decodeDosDateTime(dos(2023, 2, 29, 0, 0, 0))));
    EXPECT_FALSE(isValidDateTime(decodeDosDateTime(0)));                    // month and day 0
    EXPECT_FALSE(isValidDateTime(decodeDosDateTime(dos(2000, 13, 1, 0, 0, 0))));
    EXPECT_FALSE(isValidDateTime(decodeDosDateTime(dos(2000, 4, 31, 0, 0, 0))));
    EXPECT_FALSE(isValidDateTime(decodeDosDateTime(dos(2000, 1, 1, 24, 0, 0))));
    EXPECT_FALSE(isValidDateTime(decodeDosDateTime(dos(2000, 1, 1, 0, 60, 0))));
    EXPECT_FALSE(isValidDateTime(decodeDosDateTime(dos(2000, 1, 1, 0, 0, 0) | 30)));  // second 60
}

TEST(DosDateTime, UnixTimesBecomeFileTimes) {
    EXPECT_EQ(unixTimeToFileTime(0), 116444736000000000ULL);
    EXPECT_EQ(unixTimeToFileTime(1), 116444736010000000ULL);
    EXPECT_EQ(unixTimeToFileTime(-11644473600LL), 0ULL);
}

void block(Bytes& b, unsigned id, const Bytes& data, unsigned claimedSize = ~0u) {
    putLe16(b, id);
    putLe16(b, claimedSize == ~0u ? static_cast<unsigned>(data.size()) : claimedSize);
    b.insert(b.end(), data.begin(), data.end());
}
Bytes timestamp(uint8_t flags, std::initializer_list<uint32_t> times) {
    Bytes data{flags};
    for (uint32_t t : times) putLe32(data, t);
    return data;
}
constexpr unsigned kUT = 'U' | 'T' << 8;

TEST(ExtendedTimestamp, TakesTheTimesItsFlagsName) {
    Bytes f;
    block(f, kUT, timestamp(1, {1700000000}));
    ExtendedTimestamp t = findExtendedTimestamp(f.data(), f.size());
    EXPECT_EQ(t.modification, 1700000000);
    EXPECT_FALSE(t.access);
    EXPECT_FALSE(t.creation);

    f.clear();
    block(f, 0x000A, Bytes(32, 0xEE));  // another block first
    block(f, kUT, timestamp(7, {100, 200, 300}));
    t = findExtendedTimestamp(f.data(), f.size());
    EXPECT_EQ(t.modification, 100);
    EXPECT_EQ(t.access, 200);
    EXPECT_EQ(t.creation, 300);

    f.clear();
    block(f, kUT, timestamp(6, {0xFFFFFFFF, 5}));  // access and creation only; negative times stay
    t = findExtendedTimestamp(f.data(), f.size());
    EXPECT_FALSE(t.modification);
    EXPECT_EQ(t.access, -1);
    EXPECT_EQ(t.creation, 5);
}

TEST(ExtendedTimestamp, LeavesOutTimesOutsideTheBlockOrField) {
    // Central-directory style: flags name three times, the block holds one,
    // and the next block's bytes must not be read as times.
    Bytes f;
    block(f, kUT, timestamp(7, {42}));
    block(f, 0x7875, Bytes{1, 4, 0, 0, 0, 0, 4, 0, 0, 0, 0});
    ExtendedTimestamp t = findExtendedTimestamp(f.data(), f.size());
    EXPECT_EQ(t.modification, 42);
    EXPECT_FALSE(t.access);
    EXPECT_FALSE(t.creation);

    // A block that claims more than the field holds.
    f.clear();
    block(f, kUT, Bytes{3, 1, 2, 3, 4, 5, 6}, 200);
    t = findExtendedTimestamp(f.data(), f.size());
    EXPECT_EQ(t.modification, 0x04030201);
    EXPECT_FALSE(t.access);

    // Too short for anything, or a UT block cut before its flags.
    Bytes tiny{'U', 'T', 1, 0};
    EXPECT_FALSE(findExtendedTimestamp(tiny.data(), tiny.size()).modification);
    Bytes skipped;
    block(skipped, 0x0001, Bytes(3, 0), 0xFFFF);
    block(skipped, kUT, timestamp(1, {9}));
    EXPECT_FALSE(findExtendedTimestamp(skipped.data(), skipped.size()).modification);
}

Bytes unicodePath(uint8_t version, uint32_t crc, const std::string& utf8) {
    Bytes data{version};
    putLe32(data, crc);
    data.insert(data.end(), utf8.begin(), utf8.end());
    return data;
}

TEST(UnicodePath, UsedOnlyWhenItMatchesTheStoredName) {
    const std::string stored = "#U6587#U4EF6.txt";
    const uint32_t storedCrc = 0xEA84D086;  // CRC-32 of the stored name (Python zlib.crc32)
    const std::string utf8 = "\xE6\x96\x87\xE4\xBB\xB6.txt";
    Bytes f;
    block(f, 0x5455, timestamp(1, {0}));
    block(f, 0x7075, unicodePath(1, storedCrc, utf8));
    EXPECT_EQ(findUnicodePath(f.data(), f.size(), stored), utf8);
    // Renamed after the block was written: the block no longer applies.
    EXPECT_EQ(findUnicodePath(f.data(), f.size(), "renamed.txt"), std::nullopt);

    Bytes v2;
    block(v2, 0x7075, unicodePath(2, storedCrc, utf8));
    EXPECT_EQ(findUnicodePath(v2.data(), v2.size(), stored), std::nullopt);

    Bytes cut;
    block(cut, 0x7075, unicodePath(1, storedCrc, utf8), 40);
    EXPECT_EQ(findUnicodePath(cut.data(), cut.size(), stored), std::nullopt);
}

}  // namespace
