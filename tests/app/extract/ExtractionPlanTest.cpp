// The extraction run's decisions and texts: where "当前文件夹" puts an
// archive, which entries are bookkeeping, what a result code means to the
// user, and the count line during and after a run.
#include "app/extract/ExtractionPlan.h"
#include "zip/ZipResult.h"

#include <gtest/gtest.h>

#include <set>

namespace {

struct FolderCase {
    const char* what;
    std::vector<std::wstring> names;
    std::set<std::wstring> taken;  // paths that exist already
    const wchar_t* folder;
    bool create;
};

}  // namespace

TEST(ExtractionPlan, ArchiveFolderDecision) {
    const std::vector<FolderCase> cases = {
        {"one top folder", {L"tools/", L"tools/a.txt", L"tools/bin/b.exe"}, {}, L"C:\\dl\\", false},
        {"one top folder without its own entry", {L"tools/a.txt", L"Tools\\bin\\b.exe"}, {}, L"C:\\dl\\", false},
        {"a single file", {L"setup.exe"}, {}, L"C:\\dl\\", false},
        {"the top folder's name is taken", {L"tools/", L"tools/a.txt"}, {L"C:\\dl\\tools"}, L"C:\\dl\\tools (2)\\",
         true},
        {"the single file's name is taken", {L"setup.exe"}, {L"C:\\dl\\setup.exe"}, L"C:\\dl\\tools\\", true},
        {"many top items", {L"a.txt", L"b.txt"}, {}, L"C:\\dl\\tools\\", true},
        {"a file beside the top folder", {L"tools/a.txt", L"readme.txt"}, {}, L"C:\\dl\\tools\\", true},
        {"a file, then a folder of the same name", {L"x", L"x/y"}, {}, L"C:\\dl\\tools\\", true},
        {"many top items, name taken twice",
         {L"a.txt", L"b.txt"}, {L"C:\\dl\\tools", L"C:\\dl\\tools (2)"}, L"C:\\dl\\tools (3)\\", true},
        {"bookkeeping left out",
         {L"__MACOSX/", L"__MACOSX/tools/._a.txt", L"tools/a.txt", L"tools/.DS_Store", L".DS_Store"}, {}, L"C:\\dl\\",
         false},
        {"only bookkeeping", {L"__MACOSX/._x", L".DS_Store"}, {}, L"C:\\dl\\tools\\", true},
        {"no entries", {}, {}, L"C:\\dl\\tools\\", true},
        {"a top folder beyond the code page", {L"😀한국어/", L"😀한국어/a"}, {}, L"C:\\dl\\", false},
        {"its name is taken", {L"😀한국어/a"}, {L"C:\\dl\\😀한국어"}, L"C:\\dl\\tools\\", true},
        {"names that differ beyond ASCII", {L"Über/a", L"Öber/b"}, {}, L"C:\\dl\\tools\\", true},
    };
    for (const FolderCase& c : cases) {
        const ArchiveFolderChoice choice = chooseArchiveFolder(
            L"C:\\dl\\tools.zip", c.names, [&](const std::wstring& p) { return c.taken.count(p) > 0; });
        EXPECT_EQ(choice.folder, c.folder) << c.what;
        EXPECT_EQ(choice.create, c.create) << c.what;
    }
}

TEST(ExtractionPlan, ArchiveFolderIsNamedAfterTheWholeArchiveName) {
    const auto none = [](const std::wstring&) { return false; };
    const std::wstring title = L"资料😀한국어";
    EXPECT_EQ(chooseArchiveFolder(L"D:\\下载\\" + title + L".zip", {L"a", L"b"}, none).folder,
              L"D:\\下载\\" + title + L"\\");
    EXPECT_EQ(chooseArchiveFolder(L"C:\\dl\\.zip", {L"a", L"b"}, none).folder, L"C:\\dl\\.zip\\");
}

TEST(ExtractionPlan, MacBookkeeping) {
    for (const wchar_t* name : {L"__MACOSX/", L"__MACOSX/a/._b", L"__MACOSX\\x", L".DS_Store", L"a/b/.DS_Store",
                                L"😀/.DS_Store"})
        EXPECT_TRUE(isMacBookkeeping(name)) << testing::PrintToString(std::wstring(name));
    for (const wchar_t* name : {L"a/__MACOSX/b", L"MACOSX/a", L".DS_Store/", L".DS_Store2", L"x.DS_Store", L""})
        EXPECT_FALSE(isMacBookkeeping(name)) << testing::PrintToString(std::wstring(name));
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
        {kZipMarkFailed, false, {}, "（无法写入安全标记）"},
        {kZipNotAFile, false, {}, "（链接，已跳过）"},
        {kZipMissingVolume, false, {}, "（缺少分卷）"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(outcomeReason(classifyResult(c.code, c.unsafe, c.figures)), c.reason) << std::hex << c.code;
    // An encrypted entry the library cannot decrypt (7z, RAR) says so.
    EXPECT_EQ(outcomeReason(classifyResult(kZipUnsupportedEncryption, false, {}, true)), "（不支持此类加密）");
    EXPECT_FALSE(isFailure(EntryOutcome::LinkSkipped));
    EXPECT_FALSE(isFailure(EntryOutcome::Skipped));
    EXPECT_TRUE(isFailure(EntryOutcome::MissingVolume));
    EXPECT_EQ(outcomeReason(EntryOutcome::Skipped), "（已跳过）");
    EXPECT_EQ(outcomeReason(EntryOutcome::PasswordSkipped), "（已跳过）");
    EXPECT_EQ(outcomeReason(EntryOutcome::RunFailed), "（解压出错）");
}

// Sizes beyond 4 GiB are judged whole: a 5 GiB entry that does not fit in
// 4.5 GiB is a full disk, not a file that fits (as 32-bit sizes would say).
TEST(ExtractionPlan, EntryOutcomeUsesFullSizesAndAsksForRoomOnlyWhenNeeded) {
    constexpr uint64_t GiB = uint64_t{1} << 30;
    int asked = 0;
    const auto room = [&](uint64_t bytes) {
        return [&asked, bytes] {
            ++asked;
            return bytes;
        };
    };
    EXPECT_EQ(entryOutcome(kZipWriteFailed, L"big.iso", 4 * GiB, 5 * GiB, room(GiB * 9 / 2)), EntryOutcome::DiskFull);
    EXPECT_EQ(entryOutcome(kZipWriteFailed, L"bomb.bin", 1000, 5 * GiB, room(GiB)), EntryOutcome::SuspectedBomb);
    EXPECT_EQ(entryOutcome(kZipCannotOpen, L"../x", 1, 1, room(0)), EntryOutcome::UnsafePath);
    EXPECT_EQ(entryOutcome(kZipOk, L"a.txt", 1, 1, room(0)), EntryOutcome::Extracted);
    EXPECT_EQ(asked, 2);
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
