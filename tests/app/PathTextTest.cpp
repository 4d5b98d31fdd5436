// Path splitting on 8-bit GBK paths. "\x81\x5C" is 乗, a GBK character whose
// second byte is "\".
#include "app/PathText.h"

#include <gtest/gtest.h>

TEST(PathText, TitleAndExtensionOfOrdinaryPaths) {
    EXPECT_EQ(fileTitle("C:\\dl\\setup.old.zip"), "setup.old");
    EXPECT_EQ(fileTitle("C:\\dl\\README"), "README");
    EXPECT_EQ(fileTitle("C:\\dl\\"), "");
    EXPECT_EQ(fileTitle("C:\\"), "");
    EXPECT_EQ(fileTitle("tools.zip"), "tools");
    EXPECT_EQ(fileTitle(""), "");

    EXPECT_EQ(pathExtension("C:\\dl\\setup.old.zip"), ".zip");
    EXPECT_EQ(pathExtension("C:\\dl.d\\README"), "");
    EXPECT_EQ(pathExtension("C:\\dl\\TOOLS.ZIP"), ".ZIP");
    EXPECT_EQ(pathExtension("C:\\dl\\a.zipx"), ".zipx");
    EXPECT_EQ(pathExtension("C:\\dl\\name."), ".");
    // The shell's rule: a space ends an extension.
    EXPECT_EQ(pathExtension("C:\\dl\\a.b c"), "");
    EXPECT_EQ(pathExtension("C:\\my files\\a.zip"), ".zip");
}

TEST(PathText, FileNameFollowsTheShellsComponentRule) {
    EXPECT_EQ(pathFileName("C:\\dl\\x.zip"), "x.zip");
    EXPECT_EQ(pathFileName("C:\\dl\\"), "dl\\");
    EXPECT_EQ(pathFileName("C:x.zip"), "x.zip");
    EXPECT_EQ(pathFileName("C:/dl/x.zip"), "x.zip");
    EXPECT_EQ(pathFileName("\\\\server\\share"), "share");
}

TEST(PathText, SecondByteBackslashIsNoSeparator) {
    const std::string name = "\x81\x5C.zip";  // 乗.zip
    EXPECT_EQ(pathFileName("C:\\a\\" + name), name);
    EXPECT_EQ(fileTitle("C:\\a\\" + name), "\x81\x5C");
    EXPECT_EQ(pathExtension("C:\\a\\\x81\x5C" "b"), "");
    EXPECT_EQ(pathExtension("C:\\a.b\\\x81\x5C"), "");  // the dot is in an earlier folder
    EXPECT_EQ(folderOfPath("C:\\a\\" + name), "C:\\a\\");
    EXPECT_EQ(folderOfPath("C:\\a\\\x81\x5C"), "C:\\a\\");
    EXPECT_EQ(folderOfPath("\x81\x5C\x81\x5C"), "");
    // Mixed: the real separator after a double-byte character still counts.
    EXPECT_EQ(folderOfPath("C:\\\x81\x5C\\t.zip"), "C:\\\x81\x5C\\");
    EXPECT_EQ(fileTitle("C:\\\x81\x5C\\t.zip"), "t");
}

TEST(PathText, FolderOfPath) {
    EXPECT_EQ(folderOfPath("C:\\dl\\tools.zip"), "C:\\dl\\");
    EXPECT_EQ(folderOfPath("C:\\dl\\"), "C:\\dl\\");
    EXPECT_EQ(folderOfPath("tools.zip"), "");
    EXPECT_EQ(folderOfPath(""), "");
    // A lead byte at the very end stands alone and swallows nothing.
    EXPECT_EQ(folderOfPath("C:\\dl\\\x81"), "C:\\dl\\");
}

TEST(PathText, TrailingBackslashIsJudgedByCharacter) {
    EXPECT_TRUE(endsWithBackslash("C:\\"));
    EXPECT_FALSE(endsWithBackslash("C:\\Windows"));
    EXPECT_FALSE(endsWithBackslash("D:\\\x81\x5C"));
    EXPECT_TRUE(endsWithBackslash("D:\\\x81\x5C\\"));
    EXPECT_FALSE(endsWithBackslash(""));

    EXPECT_EQ(withTrailingBackslash("C:\\Windows"), "C:\\Windows\\");
    EXPECT_EQ(withTrailingBackslash("C:\\Temp\\"), "C:\\Temp\\");
    EXPECT_EQ(withTrailingBackslash("D:\\\x81\x5C"), "D:\\\x81\x5C\\");
    EXPECT_EQ(withTrailingBackslash("C:"), "C:\\");
}

TEST(PathText, BrowsedFolderMeaning) {
    EXPECT_EQ(browsedFolder("Data", true, "D:\\Data"), "D:\\Data");
    EXPECT_EQ(browsedFolder("本地磁盘 (D:)", true, "D:\\"), "D:");
    EXPECT_EQ(withTrailingBackslash(browsedFolder("D:", true, "D:\\")), "D:\\");
    // Not a file-system folder.
    EXPECT_EQ(browsedFolder("Control Panel", true, ""), "");
    // A name the code page could not hold.
    EXPECT_EQ(browsedFolder("a?b", true, "C:\\a?b"), "");
    EXPECT_EQ(browsedFolder("  ? ", true, "C:\\x"), "");
    // Cancelled: the untouched buffer of spaces, or whatever the shell left there.
    EXPECT_EQ(browsedFolder(std::string(259, ' '), false, ""), "");
    EXPECT_EQ(browsedFolder("\xD5\xF8" "7", false, ""), "");
}
