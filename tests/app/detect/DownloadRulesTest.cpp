#include "app/detect/DownloadRules.h"

#include <gtest/gtest.h>

// Every archive ending, in any case; never a "$" path, an ending alone or a
// name that only resembles one.
TEST(DownloadRules, ArchiveNamesInAnyCaseWithoutDollarCanBeDownloads) {
    for (const wchar_t* path :
         {L"C:\\Users\\a\\Downloads\\tools.zip", L"D:\\setup.old.zip", L"C:\\压缩.zip", L"D:\\下载\\资料😀한국어.zip",
          L"E:\\Ünïcødé\\ก.zip", L"C:\\dl\\REPORT.ZIP", L"C:\\dl\\Setup.RAR", L"C:\\dl\\tools.Zip", L"a.7z",
          L"a.rar", L"资料.part1.rar", L"资料.part01.RAR", L"a.r00", L"a.R99", L"a.7z.001", L"a.7Z.002", L"a.7z.1000",
          L"src.tar", L"src.tgz", L"src.tar.gz", L"src.TAR.GZ", L"src.tbz2", L"src.tar.bz2", L"src.txz", L"src.tar.xz",
          L"src.tar.zst", L"log.gz", L"log.bz2", L"log.xz"})
        EXPECT_TRUE(isArchiveDownloadName(path)) << testing::PrintToString(std::wstring(path));
    for (const wchar_t* path :
         {L"C:\\dl\\tools.zipx", L"C:\\dl\\tools", L"C:\\$Recycle.Bin\\S-1-5\\$R1.zip", L"C:\\dl\\a$b.zip",
          L"C:\\dl.zip\\readme", L"", L"D:\\😀$\\a.zip", L"C:\\a.zip😀", L"C:\\dl\\.zip", L"a.7z.01", L"a.r1",
          L"a.r000", L"a.zst", L"a.001", L"a.rarx", L"a.tar.gzip", L"notes.txt"})
        EXPECT_FALSE(isArchiveDownloadName(path)) << testing::PrintToString(std::wstring(path));
}

TEST(DownloadRules, PartialFilesNameTheDownloadTheyBecome) {
    for (const wchar_t* partial : {L"D:\\dl\\a.zip.part", L"D:\\dl\\a.zip.crdownload", L"D:\\dl\\a.zip.xltd",
                                   L"D:\\dl\\a.zip.td", L"D:\\dl\\a.zip.td.cfg", L"D:\\dl\\a.zip.baiduyun.downloading",
                                   L"D:\\dl\\a.zip.aria2", L"D:\\dl\\a.zip.download"})
        EXPECT_EQ(finishedNameOfPartial(partial), L"D:\\dl\\a.zip") << testing::PrintToString(std::wstring(partial));
    EXPECT_EQ(finishedNameOfPartial(L"D:\\dl\\资料😀한국어.zip.crdownload"), L"D:\\dl\\资料😀한국어.zip");
    EXPECT_EQ(finishedNameOfPartial(L"D:\\dl\\a.zip"), L"");
    EXPECT_EQ(finishedNameOfPartial(L"D:\\dl\\a.rar.part"), L"D:\\dl\\a.rar");
    EXPECT_EQ(finishedNameOfPartial(L"D:\\dl\\资料.part2.rar.crdownload"), L"D:\\dl\\资料.part2.rar");
    EXPECT_EQ(finishedNameOfPartial(L"D:\\dl\\A.7Z.003.XLTD"), L"D:\\dl\\A.7Z.003");
    EXPECT_EQ(finishedNameOfPartial(L"D:\\dl\\a.txt.part"), L"");
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
