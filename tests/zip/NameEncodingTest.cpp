#include "zip/NameEncoding.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr uint16_t kUnix = 0x031E, kOsX = 0x131E, kFat = 0x0014, kNtfs = 0x0A14;

TEST(NameEncoding, StrictUtf8) {
    for (const char* valid : {"", "plain.txt", "\xC3\x9C" "ber", "\xE4\xB8\xAD\xE6\x96\x87", "\xF0\x9F\x98\x80",
                              "\xED\x9F\xBF", "\xF4\x8F\xBF\xBF", "\xEF\xBF\xBF"})
        EXPECT_TRUE(isStrictUtf8(valid)) << valid;
    for (const char* invalid : {
             "\xC0\xAF",              // overlong "/"
             "\xE0\x80\xAF",          // overlong "/"
             "\xF0\x80\x80\xAF",      // overlong "/"
             "\xC1\xBF",              // overlong
             "\xED\xA0\x80",          // a surrogate
             "\xED\xBF\xBF",          // a surrogate
             "\xF4\x90\x80\x80",      // above U+10FFFF
             "\xF5\x80\x80\x80",
             "\xE4\xB8",              // cut
             "\x80",                  // a lone continuation byte
             "\xD6\xD0\xCE\xC4",      // GBK 中文
             "a\xFF"})
        EXPECT_FALSE(isStrictUtf8(invalid)) << invalid;
}

TEST(NameEncoding, Utf16RoundTrip) {
    const std::string text = "a\xC3\x9C\xE4\xB8\xAD\xF0\x9F\x98\x80";
    const std::optional<std::wstring> wide = decodeUtf8(text);
    ASSERT_TRUE(wide);
    // A character outside the BMP takes two units, whatever the width of wchar_t.
    EXPECT_EQ(*wide, (std::wstring{L'a', 0xDC, 0x4E2D, wchar_t(0xD83D), wchar_t(0xDE00)}));
    EXPECT_EQ(encodeUtf8(*wide), text);
    EXPECT_FALSE(decodeUtf8("\xC0\xAF"));
    EXPECT_EQ(encodeUtf8(std::wstring{L'x', wchar_t(0xD800)}), "x\xEF\xBF\xBD");
}

TEST(NameEncoding, EachEntrysSource) {
    const std::string gbkValidUtf8 = "\xC3\x9C";  // GBK 脺, and UTF-8 Ü
    const std::string gbk = "\xD6\xD0\xCE\xC4";
    struct Case {
        uint16_t flags;
        std::string stored;
        std::optional<std::string> unicodePath;
        bool plainUtf8;
        std::string bytes;
        bool utf8;
    };
    const Case cases[] = {
        {kUtf8NameFlag, "\xC3\x9C" "ber", std::nullopt, false, "\xC3\x9C" "ber", true},
        // A flag on bytes that are not UTF-8: the legacy code page, even where
        // rule 3 would read plain names as UTF-8.
        {kUtf8NameFlag, gbk, std::nullopt, true, gbk, false},
        // A matching Unicode path block (the reader checked the CRC) wins
        // over the legacy name; one that is not UTF-8 is passed over.
        {0, gbk, std::string("\xE4\xB8\xAD"), false, "\xE4\xB8\xAD", true},
        {0, gbk, std::string("\xC0\xAF"), false, gbk, false},
        {0, gbk, std::string(), false, gbk, false},
        {kUtf8NameFlag, "x", std::string("\xE4\xB8\xAD"), false, "x", true},
        // Plain names follow the archive's decision.
        {0, gbkValidUtf8, std::nullopt, false, gbkValidUtf8, false},
        {0, gbkValidUtf8, std::nullopt, true, gbkValidUtf8, true},
        {0, std::string("a\0b", 3), std::nullopt, true, "a", true},
    };
    for (const Case& c : cases) {
        NameSource source = chooseNameSource(c.flags, c.stored, c.unicodePath, c.plainUtf8);
        EXPECT_EQ(source.bytes, c.bytes) << c.stored;
        EXPECT_EQ(source.utf8, c.utf8) << c.stored;
    }
}

// Rule 3 is decided once from every central record of the archive.
TEST(NameEncoding, PlainNamesOfAnArchive) {
    struct Record {
        uint16_t madeBy;
        uint16_t flags;
        std::string name;
        std::optional<std::string> unicodePath;
    };
    struct Case {
        const char* what;
        std::vector<Record> records;
        bool utf8;
    };
    const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87.txt", gbk = "\xD6\xD0\xCE\xC4.txt";
    const Case cases[] = {
        {"Info-ZIP on Linux", {{kUnix, 0, "a/", {}}, {kUnix, 0, "a/" + utf8, {}}}, true},
        {"macOS", {{kOsX, 0, utf8, {}}}, true},
        {"FAT", {{kFat, 0, utf8, {}}}, false},
        {"NTFS", {{kNtfs, 0, "\xC3\x9C.txt", {}}}, false},
        {"GBK that is valid UTF-8 from Windows", {{kFat, 0, "\xC3\x9C", {}}, {kFat, 0, "x", {}}}, false},
        {"GBK on Linux", {{kUnix, 0, utf8, {}}, {kUnix, 0, gbk, {}}}, false},
        {"one Windows record", {{kUnix, 0, utf8, {}}, {kFat, 0, utf8, {}}}, false},
        // Records decided by the flag or a block do not vote; a flag on
        // bytes that are not UTF-8 votes against.
        {"flagged and blocks", {{kFat, kUtf8NameFlag, utf8, {}}, {kFat, 0, gbk, utf8}, {kUnix, 0, utf8, {}}}, true},
        {"a false flag", {{kUnix, kUtf8NameFlag, gbk, {}}, {kUnix, 0, utf8, {}}}, false},
        {"ASCII from anywhere", {{kFat, 0, "a.txt", {}}, {kUnix, 0, utf8, {}}}, true},
    };
    for (const Case& c : cases) {
        PlainNameVote vote;
        for (const Record& r : c.records) vote.add(r.madeBy, r.flags, r.name, r.unicodePath);
        EXPECT_EQ(vote.plainNamesAreUtf8(), c.utf8) << c.what;
    }
}

}  // namespace
