// The extraction run's decisions and texts: where "当前文件夹" puts an
// archive, which entries are bookkeeping, what a result code means to the
// user, and the count line during and after a run.
#include "app/ExtractionPlan.h"
#include "zip/ZipResult.h"

#include <gtest/gtest.h>

#include <set>

namespace {

struct FolderCase {
    const char* what;
    std::vector<std::string> names;
    std::set<std::string> taken;  // paths that exist already
    const char* folder;
    bool create;
};

}  // namespace

TEST(ExtractionPlan, ArchiveFolderDecision) {
    const std::string dl = "C:\\dl\\";
    const std::vector<FolderCase> cases = {
        {"one top folder", {"tools/", "tools/a.txt", "tools/bin/b.exe"}, {}, "C:\\dl\\", false},
        {"one top folder without its own entry", {"tools/a.txt", "Tools\\bin\\b.exe"}, {}, "C:\\dl\\", false},
        {"a single file", {"setup.exe"}, {}, "C:\\dl\\", false},
        {"the top folder's name is taken", {"tools/", "tools/a.txt"}, {"C:\\dl\\tools"}, "C:\\dl\\tools (2)\\", true},
        {"the single file's name is taken", {"setup.exe"}, {"C:\\dl\\setup.exe"}, "C:\\dl\\tools\\", true},
        {"many top items", {"a.txt", "b.txt"}, {}, "C:\\dl\\tools\\", true},
        {"a file beside the top folder", {"tools/a.txt", "readme.txt"}, {}, "C:\\dl\\tools\\", true},
        {"a file, then a folder of the same name", {"x", "x/y"}, {}, "C:\\dl\\tools\\", true},
        {"many top items, name taken twice",
         {"a.txt", "b.txt"}, {"C:\\dl\\tools", "C:\\dl\\tools (2)"}, "C:\\dl\\tools (3)\\", true},
        {"bookkeeping left out",
         {"__MACOSX/", "__MACOSX/tools/._a.txt", "tools/a.txt", "tools/.DS_Store", ".DS_Store"}, {}, "C:\\dl\\",
         false},
        {"only bookkeeping", {"__MACOSX/._x", ".DS_Store"}, {}, "C:\\dl\\tools\\", true},
        {"no entries", {}, {}, "C:\\dl\\tools\\", true},
    };
    for (const FolderCase& c : cases) {
        const ArchiveFolderChoice choice =
            chooseArchiveFolder(dl + "tools.zip", c.names, [&](const std::string& p) { return c.taken.count(p) > 0; });
        EXPECT_EQ(choice.folder, c.folder) << c.what;
        EXPECT_EQ(choice.create, c.create) << c.what;
    }
}

TEST(ExtractionPlan, ArchiveFolderDecisionOnGbkNames) {
    // 0x9A 0x5C is one GBK character whose second byte is "\": not a separator.
    const std::string title = "\xB1\xED\x9A\x5C";
    const auto none = [](const std::string&) { return false; };
    EXPECT_EQ(chooseArchiveFolder("C:\\dl\\" + title + ".zip", {title + "/a", title + "/b"}, none).folder, "C:\\dl\\");
    EXPECT_EQ(chooseArchiveFolder("C:\\dl\\" + title + ".zip", {"\x9A\x5C" "a", "\x9A\x5C" "b"}, none).folder,
              "C:\\dl\\" + title + "\\");
    EXPECT_EQ(chooseArchiveFolder("C:\\dl\\.zip", {"a", "b"}, none).folder, "C:\\dl\\.zip\\");
}

TEST(ExtractionPlan, MacBookkeeping) {
    for (const char* name : {"__MACOSX/", "__MACOSX/a/._b", "__MACOSX\\x", ".DS_Store", "a/b/.DS_Store"})
        EXPECT_TRUE(isMacBookkeeping(name)) << name;
    for (const char* name : {"a/__MACOSX/b", "MACOSX/a", ".DS_Store/", ".DS_Store2", "x.DS_Store", ""})
        EXPECT_FALSE(isMacBookkeeping(name)) << name;
}

TEST(ExtractionPlan, UnsafeNames) {
    const std::wstring tooLong(256, L'n');
    const std::wstring longThenClimb = tooLong + L"/../../x";
    for (const wchar_t* name : {L"C:\\x", L"\\x", L"a/../../b", L"CON.txt", L"a/nul", L"a/.../b", L"COM\u00B9",
                                L"d/lpt0.txt/x", longThenClimb.c_str()})
        EXPECT_TRUE(unsafeEntryName(name));
    // A ":" becomes "_" and a trailing dot goes: the entry is kept. A name
    // too long to store fails, but not as an unsafe one.
    for (const wchar_t* name : {L"a/b.txt", L"a..b", L"\u8868\u9762.txt", L"CONSOLE.txt", L"ab:c", L"dir./f.txt",
                                tooLong.c_str()})
        EXPECT_FALSE(unsafeEntryName(name));
}

TEST(ExtractionPlan, ResultCodesBecomeReasons) {
    struct Case {
        int32_t code;
        bool unsafe;
        EntryFigures figures;
        const char* reason;
    };
    const Case cases[] = {
        {kZipOk, false, {}, ""},
        {kZipBadPassword, false, {}, "（密码错误）"},
        {kZipDataError, false, {}, "（数据损坏）"},
        {kZipBadEntry, false, {}, "（数据损坏）"},
        {kZipReadFailed, false, {}, "（不支持的压缩方式）"},
        {kZipCannotOpen, true, {}, "（路径不安全，已跳过）"},
        {kZipCannotOpen, false, {}, "（无法写入）"},
        {kZipWriteFailed, false, {100, 5000, 1000}, "（磁盘空间不足）"},
        {kZipWriteFailed, false, {1000, 1000000, 5000}, "（疑似压缩炸弹，已跳过）"},
        {kZipWriteFailed, false, {100, 500, 1000}, "（无法写入）"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(outcomeReason(classifyResult(c.code, c.unsafe, c.figures)), c.reason) << std::hex << c.code;
    EXPECT_EQ(outcomeReason(EntryOutcome::Skipped), "（已跳过）");
    EXPECT_EQ(outcomeReason(EntryOutcome::PasswordSkipped), "（已跳过）");
}

TEST(ExtractionPlan, CountLineTexts) {
    EXPECT_EQ(progressLine(37, 100, 12, 120), "正在解压 37%（12/120）");
    EXPECT_EQ(progressLine(0, 0, 0, 0), "正在解压 0%（0/0）");
    EXPECT_EQ(progressLine(0, 0, 1, 4), "正在解压 25%（1/4）");           // only empty entries: by count
    EXPECT_EQ(progressLine(UINT64_MAX / 2, UINT64_MAX, 3, 3), "正在解压 50%（3/3）");  // no overflow
    EXPECT_EQ(progressLine(200, 100, 3, 3), "正在解压 100%（3/3）");
    EXPECT_EQ(resultLine(120, 0, false), "解压完成，共120个文件");
    EXPECT_EQ(resultLine(118, 2, false), "解压完成：成功118个，失败2个");
    EXPECT_EQ(resultLine(0, 3, false), "解压完成：成功0个，失败3个");
    EXPECT_EQ(resultLine(5, 1, true), "已取消：已解压5个");
}
