#include "app/extract/ZoneMarkText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The stream as UTF-16LE (or big-endian) bytes, with or without a byte-order mark.
std::string utf16(std::string_view ascii, bool mark, bool bigEndian = false) {
    std::string bytes;
    if (mark) bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii) {
        if (bigEndian) bytes.push_back('\0');
        bytes.push_back(c);
        if (!bigEndian) bytes.push_back('\0');
    }
    return bytes;
}

TEST(ZoneMarkText, TheZoneIsReadFromTheZoneTransferSection) {
    const std::string browser = "[ZoneTransfer]\r\nZoneId=3\r\nReferrerUrl=https://example.com/\r\n"
                                "HostUrl=https://example.com/a.zip\r\n";
    struct Case {
        const char* what;
        std::string stream;
        std::optional<int> zone;
    } cases[] = {
        {"as a browser writes it", browser, 3},
        {"restricted", "[ZoneTransfer]\r\nZoneId=4\r\n", 4},
        {"local machine", "[ZoneTransfer]\r\nZoneId=0\r\n", 0},
        {"intranet", "[ZoneTransfer]\nZoneId=1\n", 1},
        {"trusted, no line end", "[ZoneTransfer]\r\nZoneId=2", 2},
        {"blanks and case", "  [ zonetransfer ]\r\n\tzoneid = 3 \r\n", 3},
        {"after another section", "[Other]\r\nZoneId=0\r\n[ZoneTransfer]\r\nZoneId=3\r\n", 3},
        {"the first ZoneId counts", "[ZoneTransfer]\r\nZoneId=3\r\nZoneId=0\r\n", 3},
        {"old Mac line ends", "[ZoneTransfer]\rZoneId=4\r", 4},
        {"UTF-8 byte-order mark", "\xEF\xBB\xBF" + browser, 3},
        {"UTF-16LE with its mark", utf16(browser, true), 3},
        {"UTF-16LE without a mark", utf16(browser, false), 3},
        {"UTF-16BE with its mark", utf16("[ZoneTransfer]\r\nZoneId=4\r\n", true, true), 4},
        {"no section", "ZoneId=3\r\n", std::nullopt},
        {"another section only", "[Other]\r\nZoneId=3\r\n", std::nullopt},
        {"section closed by another", "[ZoneTransfer]\r\n[Other]\r\nZoneId=3\r\n", std::nullopt},
        {"no ZoneId", "[ZoneTransfer]\r\nHostUrl=about:internet\r\n", std::nullopt},
        {"not a number", "[ZoneTransfer]\r\nZoneId=three\r\n", std::nullopt},
        {"a number and more", "[ZoneTransfer]\r\nZoneId=3x\r\n", std::nullopt},
        {"negative", "[ZoneTransfer]\r\nZoneId=-3\r\n", std::nullopt},
        {"empty value", "[ZoneTransfer]\r\nZoneId=\r\n", std::nullopt},
        {"longer key", "[ZoneTransfer]\r\nZoneIdX=3\r\n", std::nullopt},
        {"empty stream", "", std::nullopt},
        {"binary", std::string("\x00\x01\xFF[", 4), std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(streamZone(c.stream), c.zone) << c.what;
}

TEST(ZoneMarkText, OnlyTheInternetAndRestrictedZonesPassOnWithoutTheHostAddress) {
    const std::string referrer = "D:\\下载\\工具.zip";  // the ANSI bytes the caller gives, as they are
    for (int zone = 0; zone <= 5; zone++) {
        const std::string stream = "[ZoneTransfer]\r\nZoneId=" + std::to_string(zone) +
                                   "\r\nReferrerUrl=https://a.example/\r\nHostUrl=https://a.example/t.zip\r\n";
        const std::optional<std::string> mark = inheritedZoneMark(stream, referrer);
        if (zone != 3 && zone != 4) {
            EXPECT_FALSE(mark) << zone;
            continue;
        }
        EXPECT_EQ(mark, "[ZoneTransfer]\r\nZoneId=" + std::to_string(zone) + "\r\nReferrerUrl=" + referrer + "\r\n");
    }
    EXPECT_FALSE(inheritedZoneMark("", referrer)) << "an archive without a mark gives none";
}

TEST(ZoneMarkText, TheReferrerIsTheAnsiPathOrItsEscapedUtf8) {
    EXPECT_EQ(referrerText(std::string("C:\\\xCF\xC2\xD4\xD8\\a b.zip"), "ignored"), "C:\\\xCF\xC2\xD4\xD8\\a b.zip");
    // "C:\Ünïcode ✓\100%.zip" has characters outside code page 936.
    EXPECT_EQ(referrerText(std::nullopt, "C:\\\xC3\x9C\\x \xE2\x9C\x93\\100%.zip"), "C:\\%C3%9C\\x %E2%9C%93\\100%25.zip");
}

}  // namespace
