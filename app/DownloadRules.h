// The rules that decide what counts as a finished ZIP download and how the
// windows describe it. No Windows headers: tested on the host as well.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The change-record action of a modified item.
constexpr int kActionModified = 3;

// Title lengths, in ANSI bytes, beyond which a "..." marker covers the cut.
constexpr size_t kReminderTitleLimit = 16;
constexpr size_t kMainTitleLimit = 26;

// A change means a finished ZIP download when the item was modified, its
// extension is exactly ".zip" (not ".ZIP", not ".zipx") and the path has no
// "$" anywhere (recycle bins, system folders, "a$b.zip").
bool isFinishedZipDownload(int action, std::string_view path);

// The drive letters of a GetLogicalDriveStrings answer: "C:\\\0D:\\\0\0"
// gives C and D. Only pieces ended by a NUL count.
std::vector<std::string> splitDriveStrings(std::string_view buffer);

// "共有12个文件，请放心解压" for 12 (UTF-8).
std::string countLine(int count);
