// The command line and the record a second start hands to the running copy.
#include "app/OpenRequest.h"

#include <gtest/gtest.h>

#include <cstring>

using Args = std::vector<std::wstring>;

TEST(OpenRequest, ArgumentsBecomeAbsolutePaths) {
    const OpenRequest plain = parseArguments(Args{L"a.zip", L"..\\b.7z", L"\"D:\\q d\\c.zip\"", L""}, L"C:\\dl\\x");
    EXPECT_FALSE(plain.extract);
    EXPECT_EQ(plain.paths, (Args{L"C:\\dl\\x\\a.zip", L"C:\\dl\\b.7z", L"D:\\q d\\c.zip"}));

    // The switch in any case and anywhere; a quoted folder's closing "\" leaves a quote behind.
    const OpenRequest extract = parseArguments(Args{L"资料😀.zip", L"/EXTRACT", L"C:\\dl\\\""}, L"D:\\下载");
    EXPECT_TRUE(extract.extract);
    EXPECT_EQ(extract.paths, (Args{L"D:\\下载\\资料😀.zip", L"C:\\dl"}));

    // Nothing to go by, and nothing there: no path.
    EXPECT_EQ(parseArguments(Args{L"a.zip", L"C:\\b.zip"}, L"").paths, (Args{L"C:\\b.zip"}));
    EXPECT_TRUE(parseArguments(Args{L"/extract", L"\"\""}, L"C:\\").paths.empty());
}

TEST(OpenRequest, ChosenFilesOfAnOpenDialog) {
    using namespace std::string_literals;
    EXPECT_EQ(chosenFiles(L"C:\\dl\\a.zip\0\0"s), (Args{L"C:\\dl\\a.zip"}));
    EXPECT_EQ(chosenFiles(L"C:\\dl\0a.zip\0资料😀.7z\0\0"s), (Args{L"C:\\dl\\a.zip", L"C:\\dl\\资料😀.7z"}));
    EXPECT_EQ(chosenFiles(L"C:\\\0a.zip\0b.zip\0\0"s), (Args{L"C:\\a.zip", L"C:\\b.zip"}));
    EXPECT_TRUE(chosenFiles(L"\0\0"s).empty());
}

TEST(OpenRequest, RecordRoundTrip) {
    const Args args{L"/extract", L"资料😀한국어.zip", L"", std::wstring(4000, L'x')};
    const std::vector<uint8_t> bytes = encodeOpenRecord(L"D:\\下载", args);
    // Header, then each text as length, UTF-16 units (the emoji a pair) and a 0 unit.
    EXPECT_EQ(bytes.size(), 8u + (4 + 2 * 6) + (4 + 2 * 9) + (4 + 2 * 12) + (4 + 2) + (4 + 2 * 4001));
    const std::optional<OpenRecord> back = decodeOpenRecord(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->currentFolder, L"D:\\下载");
    EXPECT_EQ(back->args, args);
    const std::optional<OpenRecord> none = decodeOpenRecord(encodeOpenRecord(L"C:\\", {}));
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->args.empty());
}

TEST(OpenRequest, MalformedRecordsAreRefused) {
    const std::vector<uint8_t> good = encodeOpenRecord(L"C:\\dl", Args{L"a.zip"});
    ASSERT_TRUE(decodeOpenRecord(good));
    // Byte offsets: version 0, reserved 2, count 4, folder length 8, its units 12..21, its 0 at 22,
    // the argument's length 24, units 28..37, its 0 at 38.
    auto changed = [&](size_t at, std::vector<uint8_t> with) {
        std::vector<uint8_t> bytes = good;
        std::memcpy(bytes.data() + at, with.data(), with.size());
        return bytes;
    };
    auto cut = [&](size_t size) { return std::vector<uint8_t>(good.begin(), good.begin() + size); };
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    longer.push_back(0);
    const std::vector<std::vector<uint8_t>> bad = {
        {},
        cut(3),
        cut(good.size() - 2),          // the last 0 unit missing
        cut(good.size() - 1),          // an odd size
        longer,                        // bytes after the last text
        changed(0, {2, 0}),            // another version
        changed(2, {1, 0}),            // reserved set
        changed(4, {2, 0, 0, 0}),      // one argument more than there is
        changed(4, {0xFF, 0xFF, 0xFF, 0xFF}),  // a huge count
        changed(8, {0xFF, 0xFF, 0xFF, 0x7F}),  // a huge length
        changed(24, {0xFF, 0x7F, 0, 0}),       // a length beyond a path
        changed(24, {4, 0, 0, 0}),     // shorter than the text: its 0 unit is not where it must be
        changed(38, {'x', 0}),         // no terminator
        changed(30, {0, 0}),           // a 0 unit inside a text
    };
    for (size_t i = 0; i < bad.size(); ++i) EXPECT_FALSE(decodeOpenRecord(bad[i])) << "case " << i;
}
