#include "app/DownloadRules.h"

#include <gtest/gtest.h>

TEST(DownloadRules, OnlyLowerCaseZipNamesWithoutDollarCanBeDownloads) {
    EXPECT_TRUE(isZipDownloadName("C:\\Users\\a\\Downloads\\tools.zip"));
    EXPECT_TRUE(isZipDownloadName("D:\\setup.old.zip"));
    EXPECT_FALSE(isZipDownloadName("C:\\dl\\TOOLS.ZIP"));
    EXPECT_FALSE(isZipDownloadName("C:\\dl\\tools.Zip"));
    EXPECT_FALSE(isZipDownloadName("C:\\dl\\tools.zipx"));
    EXPECT_FALSE(isZipDownloadName("C:\\dl\\tools"));
    EXPECT_FALSE(isZipDownloadName("C:\\$Recycle.Bin\\S-1-5\\$R1.zip"));
    EXPECT_FALSE(isZipDownloadName("C:\\dl\\a$b.zip"));
    EXPECT_FALSE(isZipDownloadName("C:\\dl.zip\\readme"));
    EXPECT_FALSE(isZipDownloadName(""));
    // "压缩.zip" in GBK; the second byte of 缩 (0xCB 0xF5) is no dot or dollar.
    EXPECT_TRUE(isZipDownloadName("C:\\\xD1\xB9\xCB\xF5.zip"));
    // A truncated name ending in a lead byte must not crash or match.
    EXPECT_FALSE(isZipDownloadName("C:\\a.zip\x81"));
}

TEST(DownloadRules, PartialFilesNameTheDownloadTheyBecome) {
    for (const char* partial : {"D:\\dl\\a.zip.part", "D:\\dl\\a.zip.crdownload", "D:\\dl\\a.zip.xltd",
                                "D:\\dl\\a.zip.td", "D:\\dl\\a.zip.td.cfg", "D:\\dl\\a.zip.baiduyun.downloading",
                                "D:\\dl\\a.zip.aria2", "D:\\dl\\a.zip.download"})
        EXPECT_EQ(finishedNameOfPartial(partial), "D:\\dl\\a.zip") << partial;
    EXPECT_EQ(finishedNameOfPartial("D:\\dl\\a.zip"), "");
    EXPECT_EQ(finishedNameOfPartial("D:\\dl\\a.rar.part"), "");
    EXPECT_EQ(finishedNameOfPartial("D:\\dl\\a$.zip.part"), "");
    EXPECT_EQ(finishedNameOfPartial(".part"), "");
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
