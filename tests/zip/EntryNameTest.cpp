#include "zip/EntryName.h"

#include <gtest/gtest.h>

#include "zip/NameEncoding.h"

namespace {

bool noLeadBytes(unsigned char) { return false; }

// A wide name for a failure message.
std::string encodeForMessage(std::wstring_view name) { return encodeUtf8(name); }

struct Cleaning {
    const char* stored;
    const char* cleaned;
};

TEST(CleanEntryName, StripsDrivesLeadingSeparatorsAndClimbs) {
    const Cleaning cases[] = {
        {"C:/dir/a.txt", "dir/a.txt"},
        {"//server/share/f.txt", "server/share/f.txt"},
        {"x/../y/z.txt", "y/z.txt"},
        {"../../w.txt", "w.txt"},
        {"D:E:f.txt", "f.txt"},
        {"a/b/c.txt", "a/b/c.txt"},
        {"C:\\dir\\a.txt", "dir\\a.txt"},
        {"\\\\server\\share\\f.txt", "server\\share\\f.txt"},
        {"x\\..\\y\\z.txt", "y\\z.txt"},
        {"..\\..\\w.txt", "w.txt"},
        {"x/..\\y", "y"},
        {"x\\../y", "y"},
        {"", ""},
        // A leading climb is stripped as well, so no cleaned name starts outside.
        {"../a.txt", "a.txt"},
        {"..\\a.txt", "a.txt"},
        {"x/../../a.txt", "a.txt"},
        {"/../C:/../a.txt", "a.txt"},
        // Dots that do not climb stay.
        {"..a/b", "..a/b"},
        {"a/..", "a/.."},
        {"...\\x", "...\\x"},
    };
    for (const Cleaning& c : cases) EXPECT_EQ(cleanEntryName(c.stored), c.cleaned) << c.stored;
}

TEST(CleanEntryName, StopsAtAnEmbeddedNul) {
    EXPECT_EQ(cleanEntryName(std::string_view("ok.txt\0../../x", 14)), "ok.txt");
}

TEST(CleanEntryName, NeverMatchesOnTheSecondByteOfADoubleByteCharacter) {
    // 0x81 0x5C is one GBK character whose second byte looks like "\".
    std::string name = "\x81\\..\\x";
    EXPECT_EQ(cleanEntryName(name), name);
    EXPECT_EQ(cleanEntryName(name, noLeadBytes), "x");
    EXPECT_EQ(cleanEntryName("\x81\\/../x"), "x");
}

TEST(EntryName, AbsoluteNames) {
    EXPECT_TRUE(isAbsoluteName("\\x"));
    EXPECT_TRUE(isAbsoluteName("/x"));
    EXPECT_TRUE(isAbsoluteName("E:/x/y.txt"));
    EXPECT_TRUE(isAbsoluteName("E:y.txt"));
    EXPECT_FALSE(isAbsoluteName(""));
    EXPECT_FALSE(isAbsoluteName("a/b"));
    EXPECT_FALSE(isAbsoluteName("ab:c"));
}

TEST(EntryName, SeparatorsAreFoundOnCharacterBoundaries) {
    EXPECT_EQ(findLastSeparator("a/b\\c"), 3u);
    EXPECT_EQ(findLastSeparator("abc"), std::string_view::npos);
    EXPECT_EQ(findLastSeparator("d/\x81\\"), 1u);
    EXPECT_EQ(findLastSeparator("d/\x81\\", noLeadBytes), 3u);
    EXPECT_TRUE(endsWithSeparator("C:\\out\\"));
    EXPECT_FALSE(endsWithSeparator("C:\\out\\\x81\\"));
    EXPECT_FALSE(endsWithSeparator(""));
}

TEST(EntryName, CharacterBoundaryNeverSplitsACharacter) {
    EXPECT_EQ(characterBoundary("abcdef", 4), 4u);
    EXPECT_EQ(characterBoundary("abc", 4), 3u);
    EXPECT_EQ(characterBoundary("ab\xB0\xA1", 3), 2u);
    EXPECT_EQ(characterBoundary("ab\xB0\xA1x", 4), 4u);
}

struct Verdict {
    const char* name;
    NameVerdict verdict;
};

TEST(CheckRelativeName, RefusesClimbsDevicesAndStreams) {
    const Verdict cases[] = {
        {"a.txt", NameVerdict::safe},
        {"a/b/c.txt", NameVerdict::safe},
        {"a/./b", NameVerdict::safe},
        {"a//b", NameVerdict::safe},
        {"a/../b", NameVerdict::safe},
        {"a/..", NameVerdict::safe},
        {"docs/", NameVerdict::safe},
        {"", NameVerdict::safe},
        {"com", NameVerdict::safe},
        {"console.txt", NameVerdict::safe},
        {"nullx", NameVerdict::safe},
        {"com10", NameVerdict::safe},
        {"lpt0", NameVerdict::deviceName},
        {"..", NameVerdict::leavesBase},
        {"../a", NameVerdict::leavesBase},
        {"a/../../b", NameVerdict::leavesBase},
        {"a\\..\\..\\b", NameVerdict::leavesBase},
        {"...", NameVerdict::leavesBase},
        {"a/. ./b", NameVerdict::leavesBase},
        {"nul", NameVerdict::deviceName},
        {"NUL.txt", NameVerdict::deviceName},
        {"nul .txt", NameVerdict::deviceName},
        {"a/con/b.txt", NameVerdict::deviceName},
        {"a\\Aux", NameVerdict::deviceName},
        {"prn.tar.gz", NameVerdict::deviceName},
        {"COM1", NameVerdict::deviceName},
        {"lpt9.log", NameVerdict::deviceName},
        {"conin$", NameVerdict::deviceName},
        {"a.txt:stream", NameVerdict::streamName},
        {"a:b/c", NameVerdict::streamName},
    };
    for (const Verdict& c : cases) EXPECT_EQ(checkRelativeName(c.name), c.verdict) << c.name;
}

TEST(CheckRelativeName, SplitsComponentsAsWindowsDoes) {
    // Windows converts the name before splitting it, so "\x81\\.." is one
    // component (a character and two dots) and the name stays inside.
    std::string name = "\x81\\..\\..\\x";
    EXPECT_EQ(checkRelativeName(name), NameVerdict::safe);
    EXPECT_EQ(checkRelativeName(name, noLeadBytes), NameVerdict::leavesBase);
}

}  // namespace

TEST(EntryName, NumberedNamesGoBeforeTheExtensionOfTheFilePart) {
    struct Case {
        const char* path;
        size_t folderLength;
        const char* numbered;
    } cases[] = {
        {"C:\\out\\a.txt", 7, "C:\\out\\a (2).txt"},
        {"C:\\out\\a.tar.gz", 7, "C:\\out\\a.tar (2).gz"},
        {"C:\\out.d\\README", 9, "C:\\out.d\\README (2)"},
        {"C:\\out\\.profile", 7, "C:\\out\\.profile (2)"},
        {"\xC3\xFB\xB3\xC6.\xC0\xA9", 0, "\xC3\xFB\xB3\xC6 (2).\xC0\xA9"},  // 名称.扩 in GBK
    };
    for (const Case& c : cases) EXPECT_EQ(numberedName(c.path, c.folderLength, 2), c.numbered) << c.path;
    EXPECT_EQ(numberedName("x/y.z", 2, 10), "x/y (10).z");
}

// The wide forms: the name is judged exactly as it will be created.
TEST(PrepareRelativeName, JudgesTheNameThatWillBeCreated) {
    struct Case {
        const wchar_t* name;
        NameVerdict verdict;
        const wchar_t* prepared;  // for a safe name
    };
    const std::wstring longest(kMaxComponentUnits, L'x');
    const Case cases[] = {
        {L"a/b.txt", NameVerdict::safe, L"a\\b.txt"},
        {L"a//./b\\", NameVerdict::safe, L"a\\b"},
        {L"a/x/../b.txt", NameVerdict::safe, L"a\\b.txt"},
        // Characters Windows cannot store become "_"; a ":" opens no stream.
        {L"a:b.txt", NameVerdict::safe, L"a_b.txt"},
        {L"q<>\"|?*\x01\x1F.txt", NameVerdict::safe, L"q________.txt"},
        // Trailing dots and spaces go from every component, not only the last.
        {L"dir. /sub../f.txt. ", NameVerdict::safe, L"dir\\sub\\f.txt"},
        {L"\u00DCber/\u00D6ber \U0001F600.txt", NameVerdict::safe, L"\u00DCber\\\u00D6ber \U0001F600.txt"},
        {L"CONSOLE/COM10/LPT/NULL.txt/COM\u00B4", NameVerdict::safe, L"CONSOLE\\COM10\\LPT\\NULL.txt\\COM\u00B4"},
        {L"../a", NameVerdict::leavesBase, nullptr},
        {L"a/../../b", NameVerdict::leavesBase, nullptr},
        {L"a/. ./b", NameVerdict::leavesBase, nullptr},
        {L"a/.../b", NameVerdict::leavesBase, nullptr},
        // Device names in any component, with an extension, spaces before
        // the dot, a trailing dot, the digits 0 to 9 and superscripts.
        {L"a/nul/b.txt", NameVerdict::deviceName, nullptr},
        {L"Con .txt", NameVerdict::deviceName, nullptr},
        {L"aux.", NameVerdict::deviceName, nullptr},
        {L"x/com0.log", NameVerdict::deviceName, nullptr},
        {L"LPT9", NameVerdict::deviceName, nullptr},
        {L"COM\u00B9", NameVerdict::deviceName, nullptr},
        {L"lpt\u00B2.txt", NameVerdict::deviceName, nullptr},
        {L"COM\u00B3/x", NameVerdict::deviceName, nullptr},
        {L"conin$", NameVerdict::deviceName, nullptr},
        {L"CONOUT$.txt", NameVerdict::deviceName, nullptr},
        {L"clock$", NameVerdict::deviceName, nullptr},
        {L"prn:", NameVerdict::safe, L"prn_"},
    };
    for (const Case& c : cases) {
        std::wstring prepared = L"unchanged";
        EXPECT_EQ(prepareRelativeName(c.name, &prepared), c.verdict) << encodeForMessage(c.name);
        EXPECT_EQ(prepared, c.prepared ? std::wstring(c.prepared) : L"unchanged") << encodeForMessage(c.name);
        // Judged without being prepared, the name is judged alike.
        EXPECT_EQ(checkRelativeName(c.name), c.verdict) << encodeForMessage(c.name);
    }
    // 255 UTF-16 units per component at most; a character outside the BMP takes two.
    EXPECT_EQ(checkRelativeName(L"d/" + longest), NameVerdict::safe);
    EXPECT_EQ(checkRelativeName(longest + L"x/f"), NameVerdict::tooLong);
    EXPECT_EQ(checkRelativeName(longest + L"x/../../f"), NameVerdict::leavesBase);  // the graver reason
    EXPECT_EQ(checkRelativeName(longest.substr(1) + *decodeUtf8("\xF0\x9F\x98\x80")), NameVerdict::tooLong);
    // The trailing dots do not count: they are dropped first.
    EXPECT_EQ(checkRelativeName(longest + L"..."), NameVerdict::safe);
}

TEST(CleanEntryName, WideNamesFollowTheSameRules) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:/dir/a.txt", L"dir/a.txt"},
        {L"\\\\server\\share\\f", L"server\\share\\f"},
        {L"x/../y/\u00FC.txt", L"y/\u00FC.txt"},
        {L"../..\\w", L"w"},
        {L"/../C:/../a", L"a"},
        {L"a/..", L"a/.."},
    };
    for (const auto& [stored, cleaned] : cases) EXPECT_EQ(cleanEntryName(std::wstring_view(stored)), cleaned);
    EXPECT_TRUE(isAbsoluteName(std::wstring_view(L"\\x")));
    EXPECT_TRUE(isAbsoluteName(std::wstring_view(L"d:x")));
    EXPECT_FALSE(isAbsoluteName(std::wstring_view(L"ab:c")));
    EXPECT_EQ(numberedName(std::wstring_view(L"d\\.a\\\u540D.txt"), 5, 2), L"d\\.a\\\u540D (2).txt");
}

TEST(EntryName, LongPathsTakeTheExtendedForm) {
    const std::wstring deep(300, L'd');
    const std::wstring shortPath = L"C:\\dest\\" + std::wstring(kShortPathUnits - 9, L'x');
    EXPECT_EQ(systemPath(shortPath), shortPath);
    EXPECT_EQ(systemPath(shortPath + L"x"), L"\\\\?\\" + shortPath + L"x");
    EXPECT_EQ(systemPath(L"C:\\" + deep), L"\\\\?\\C:\\" + deep);
    EXPECT_EQ(systemPath(L"\\\\server\\share\\" + deep), L"\\\\?\\UNC\\server\\share\\" + deep);
    EXPECT_EQ(systemPath(L"\\\\?\\C:\\" + deep), L"\\\\?\\C:\\" + deep);
}
