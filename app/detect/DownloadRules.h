// The rules that decide which names can be finished archive downloads and
// how the windows describe them. No Windows headers: tested on the host as well.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Change-record actions.
constexpr int kActionAdded = 1, kActionRemoved = 2, kActionModified = 3, kActionRenamedOld = 4,
              kActionRenamedNew = 5;

// Title widths (see titleWidth) beyond which a "..." marker covers the cut.
constexpr size_t kReminderTitleLimit = 16;
constexpr size_t kMainTitleLimit = 26;

// A path that a finished archive download can have: it ends in one of the
// archive endings (.zip .7z .rar .tar .tgz .tar.gz .tbz2 .tar.bz2 .txz
// .tar.xz .tar.zst .gz .bz2 .xz, and the volume names .7z.001 … and
// .r00 …; ".part2.rar" ends in ".rar"), compared without regard to case as
// Windows compares names ("REPORT.ZIP" is a download, "tools.zipx" is not),
// and it has no "$" anywhere (recycle bins, system folders, "a$b.zip"). The
// name only chooses what is watched: the content decides how it is read.
bool isArchiveDownloadName(std::wstring_view path);

// The endings browsers and download tools give a download while they write
// it: "name.zip.crdownload", "name.zip.part", "name.zip.xltd", ...
extern const std::vector<std::wstring_view> kPartialSuffixes;

// For a partial file of an archive download ("D:\\dl\\a.zip.aria2"), the path
// the download gets when it is finished ("D:\\dl\\a.zip"); empty for any other path.
std::wstring finishedNameOfPartial(std::wstring_view path);

// The drive letters of a GetLogicalDriveStrings answer: "C:\\\0D:\\\0\0"
// gives C and D. Only pieces ended by a NUL count.
std::vector<std::string> splitDriveStrings(std::string_view buffer);

// "共有12个文件，请放心解压" for 12 (UTF-8).
std::string countLine(int count);
