#include "app/DownloadRules.h"

#include <gtest/gtest.h>

TEST(DownloadRules, OnlyModifiedLowerCaseZipWithoutDollarIsAFinishedDownload) {
    EXPECT_TRUE(isFinishedZipDownload(3, "C:\\Users\\a\\Downloads\\tools.zip"));
    EXPECT_TRUE(isFinishedZipDownload(3, "D:\\setup.old.zip"));
    // Added, removed and both halves of a rename do not count.
    for (int action : {0, 1, 2, 4, 5}) EXPECT_FALSE(isFinishedZipDownload(action, "C:\\dl\\tools.zip")) << action;
    EXPECT_FALSE(isFinishedZipDownload(3, "C:\\dl\\TOOLS.ZIP"));
    EXPECT_FALSE(isFinishedZipDownload(3, "C:\\dl\\tools.Zip"));
    EXPECT_FALSE(isFinishedZipDownload(3, "C:\\dl\\tools.zipx"));
    EXPECT_FALSE(isFinishedZipDownload(3, "C:\\dl\\tools"));
    EXPECT_FALSE(isFinishedZipDownload(3, "C:\\$Recycle.Bin\\S-1-5\\$R1.zip"));
    EXPECT_FALSE(isFinishedZipDownload(3, "C:\\dl\\a$b.zip"));
    // A folder named x.zip ending the path is still a ".zip" path: opening it fails later.
    EXPECT_FALSE(isFinishedZipDownload(3, "C:\\dl.zip\\readme"));
    EXPECT_FALSE(isFinishedZipDownload(3, ""));
}

TEST(DownloadRules, ChineseNamesAreJudgedByCharactersNotBytes) {
    // "压缩.zip" in GBK; the second byte of 缩 (0xCB 0xF5) is no dot or dollar.
    EXPECT_TRUE(isFinishedZipDownload(3, "C:\\\xD1\xB9\xCB\xF5.zip"));
    // 0x81 0x2E would be a lead byte and a dot; GBK never pairs them, but a
    // truncated name ending in a lead byte must not crash or match.
    EXPECT_FALSE(isFinishedZipDownload(3, "C:\\a.zip\x81"));
}

TEST(DownloadRules, DriveStringsSplitIntoLetters) {
    using namespace std::string_literals;
    EXPECT_EQ(splitDriveStrings("C:\\\0D:\\\0\0"s), (std::vector<std::string>{"C", "D"}));
    EXPECT_EQ(splitDriveStrings("A:\\\0C:\\\0Z:\\\0\0"s), (std::vector<std::string>{"A", "C", "Z"}));
    // What follows the last NUL is no piece; an empty answer gives nothing.
    EXPECT_EQ(splitDriveStrings("C:\\\0D:"s), (std::vector<std::string>{"C"}));
    EXPECT_TRUE(splitDriveStrings(""s).empty());
    EXPECT_TRUE(splitDriveStrings("\0"s).empty());
}

TEST(DownloadRules, CountLineHasNoSpaces) {
    EXPECT_EQ(countLine(12), "共有12个文件，请放心解压");
    EXPECT_EQ(countLine(0), "共有0个文件，请放心解压");
}
