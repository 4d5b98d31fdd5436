// Path splitting on wide paths, names beyond the ANSI code page included.
#include "base/PathText.h"

#include <gtest/gtest.h>

namespace {

struct SplitCase {
    const wchar_t* path;
    const wchar_t* fileName;
    const wchar_t* extension;
    const wchar_t* title;
    const wchar_t* folder;
};

}  // namespace

TEST(PathText, SplittingPaths) {
    const SplitCase cases[] = {
        {L"C:\\dl\\setup.old.zip", L"setup.old.zip", L".zip", L"setup.old", L"C:\\dl\\"},
        {L"C:\\dl\\README", L"README", L"", L"README", L"C:\\dl\\"},
        {L"C:\\dl\\", L"dl\\", L"", L"", L"C:\\dl\\"},
        {L"C:\\", L"C:\\", L"", L"", L"C:\\"},
        {L"tools.zip", L"tools.zip", L".zip", L"tools", L""},
        {L"", L"", L"", L"", L""},
        {L"C:\\dl.d\\README", L"README", L"", L"README", L"C:\\dl.d\\"},
        {L"C:\\dl\\TOOLS.ZIP", L"TOOLS.ZIP", L".ZIP", L"TOOLS", L"C:\\dl\\"},
        {L"C:\\dl\\a.zipx", L"a.zipx", L".zipx", L"a", L"C:\\dl\\"},
        {L"C:\\dl\\name.", L"name.", L".", L"name", L"C:\\dl\\"},
        // The shell's rule: a space ends an extension.
        {L"C:\\dl\\a.b c", L"a.b c", L"", L"a.b c", L"C:\\dl\\"},
        {L"C:\\my files\\a.zip", L"a.zip", L".zip", L"a", L"C:\\my files\\"},
        {L"C:x.zip", L"x.zip", L".zip", L"x", L""},
        {L"C:/dl/x.zip", L"x.zip", L".zip", L"x", L""},
        {L"\\\\server\\share", L"share", L"", L"share", L"\\\\server\\"},
        // Names the ANSI code page cannot hold: an emoji, Hangul, Thai.
        {L"D:\\下载\\资料😀한국어.zip", L"资料😀한국어.zip", L".zip", L"资料😀한국어", L"D:\\下载\\"},
        {L"D:\\😀.d\\ก", L"ก", L"", L"ก", L"D:\\😀.d\\"},
        {L"D:\\乗\\乗.zip", L"乗.zip", L".zip", L"乗", L"D:\\乗\\"},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.path)));
        EXPECT_EQ(pathFileName(c.path), c.fileName);
        EXPECT_EQ(pathExtension(c.path), c.extension);
        EXPECT_EQ(fileTitle(c.path), c.title);
        EXPECT_EQ(folderOfPath(c.path), c.folder);
    }
}

TEST(PathText, TrailingBackslash) {
    EXPECT_TRUE(endsWithBackslash(L"C:\\"));
    EXPECT_FALSE(endsWithBackslash(L"C:\\Windows"));
    EXPECT_FALSE(endsWithBackslash(L""));
    EXPECT_EQ(withTrailingBackslash(L"C:\\Windows"), L"C:\\Windows\\");
    EXPECT_EQ(withTrailingBackslash(L"C:\\Temp\\"), L"C:\\Temp\\");
    EXPECT_EQ(withTrailingBackslash(L"D:\\한국어"), L"D:\\한국어\\");
    EXPECT_EQ(withTrailingBackslash(L"C:"), L"C:\\");
}

TEST(PathText, TitleWidthCountsWideCharactersTwice) {
    const std::pair<std::wstring, size_t> cases[] = {
        {L"", 0},
        {L"tools", 5},
        {L"下载", 4},
        {L"资料😀한국어", 12},
        {L"a😀😀", 5},
        // A surrogate pair as Windows stores it, even where wchar_t is wider.
        {std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}, 2},
    };
    for (const auto& [title, width] : cases) EXPECT_EQ(titleWidth(title), width) << testing::PrintToString(title);
}

TEST(PathText, BrowsedFolderMeaning) {
    EXPECT_EQ(browsedFolder(true, L"D:\\Data"), L"D:\\Data");
    EXPECT_EQ(browsedFolder(true, L"D:\\"), L"D:");
    EXPECT_EQ(withTrailingBackslash(browsedFolder(true, L"D:\\")), L"D:\\");
    EXPECT_EQ(browsedFolder(true, L"D:\\资料😀"), L"D:\\资料😀");
    // Not a file-system folder, or cancelled.
    EXPECT_EQ(browsedFolder(true, L""), L"");
    EXPECT_EQ(browsedFolder(false, L""), L"");
}

TEST(PathText, ResolvingAgainstACurrentFolder) {
    struct Case {
        const wchar_t* folder;
        const wchar_t* path;
        const wchar_t* resolved;
    };
    const Case cases[] = {
        {L"C:\\dl", L"a.zip", L"C:\\dl\\a.zip"},
        {L"C:\\dl\\", L".\\sub/a.zip", L"C:\\dl\\sub\\a.zip"},
        {L"C:\\dl\\x", L"..\\..\\..\\a.zip", L"C:\\a.zip"},  // never above the root
        {L"C:\\dl", L"D:\\other\\a.zip", L"D:\\other\\a.zip"},
        {L"C:\\dl", L"\\top\\a.zip", L"C:\\top\\a.zip"},
        {L"C:\\dl", L"c:a.zip", L"C:\\dl\\a.zip"},
        {L"C:\\dl", L"D:a.zip", L"D:\\a.zip"},
        {L"C:\\dl", L"D:\\\\x\\\\.\\a.zip", L"D:\\x\\a.zip"},
        {L"\\\\srv\\share\\dl", L"..\\..\\a.zip", L"\\\\srv\\share\\a.zip"},
        {L"\\\\srv\\share\\dl", L"\\a.zip", L"\\\\srv\\share\\a.zip"},
        {L"\\\\?\\C:\\deep", L"a.zip", L"C:\\deep\\a.zip"},
        {L"C:\\", L"\\\\?\\UNC\\srv\\share\\a.zip", L"\\\\srv\\share\\a.zip"},
        {L"D:\\下载", L"资料😀한국어.zip", L"D:\\下载\\资料😀한국어.zip"},
        // Nothing to go by: a relative path needs an absolute folder.
        {L"", L"a.zip", L""},
        {L"dl", L"a.zip", L""},
        {L"\\\\srv", L"a.zip", L""},
        {L"", L"C:\\a.zip", L"C:\\a.zip"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(resolvePath(c.folder, c.path), c.resolved) << testing::PrintToString(std::wstring(c.path));
    EXPECT_EQ(resolvePath(L"C:\\", std::wstring(kMaxPathUnits, L'a')), L"");
}
