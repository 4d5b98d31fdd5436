#include "app/detect/DownloadRules.h"

#include <gtest/gtest.h>

TEST(DownloadRules, OnlyLowerCaseZipNamesWithoutDollarCanBeDownloads) {
    for (const wchar_t* path : {L"C:\\Users\\a\\Downloads\\tools.zip", L"D:\\setup.old.zip", L"C:\\压缩.zip",
                                L"D:\\下载\\资料😀한국어.zip", L"E:\\Ünïcødé\\ก.zip"})
        EXPECT_TRUE(isZipDownloadName(path)) << testing::PrintToString(std::wstring(path));
    for (const wchar_t* path : {L"C:\\dl\\TOOLS.ZIP", L"C:\\dl\\tools.Zip", L"C:\\dl\\tools.zipx", L"C:\\dl\\tools",
                                L"C:\\$Recycle.Bin\\S-1-5\\$R1.zip", L"C:\\dl\\a$b.zip", L"C:\\dl.zip\\readme", L"",
                                L"D:\\😀$\\a.zip", L"C:\\a.zip😀"})
        EXPECT_FALSE(isZipDownloadName(path)) << testing::PrintToString(std::wstring(path));
}

TEST(DownloadRules, PartialFilesNameTheDownloadTheyBecome) {
    for (const wchar_t* partial : {L"D:\\dl\\a.zip.part", L"D:\\dl\\a.zip.crdownload", L"D:\\dl\\a.zip.xltd",
                                   L"D:\\dl\\a.zip.td", L"D:\\dl\\a.zip.td.cfg", L"D:\\dl\\a.zip.baiduyun.downloading",
                                   L"D:\\dl\\a.zip.aria2", L"D:\\dl\\a.zip.download"})
        EXPECT_EQ(finishedNameOfPartial(partial), L"D:\\dl\\a.zip") << testing::PrintToString(std::wstring(partial));
    EXPECT_EQ(finishedNameOfPartial(L"D:\\dl\\资料😀한국어.zip.crdownload"), L"D:\\dl\\资料😀한국어.zip");
    EXPECT_EQ(finishedNameOfPartial(L"D:\\dl\\a.zip"), L"");
    EXPECT_EQ(finishedNameOfPartial(L"D:\\dl\\a.rar.part"), L"");
    EXPECT_EQ(finishedNameOfPartial(L"D:\\dl\\a$.zip.part"), L"");
    EXPECT_EQ(finishedNameOfPartial(L".part"), L"");
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
