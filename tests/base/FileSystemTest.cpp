// File-system questions under Wine, on short and deep paths.
#include "base/FileSystem.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "base/PathText.h"

namespace {

std::wstring tempFolder() {
    wchar_t buf[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, buf);
    return std::wstring(buf, n);
}

TEST(FileSystem, FullPathResolvesSeparatorsAndClimbs) {
    const std::wstring temp = tempFolder();
    EXPECT_EQ(fullPath(temp + L"a/b/../c"), temp + L"a\\c");
    EXPECT_EQ(fullPath(L"C:/x/./y"), L"C:\\x\\y");
    EXPECT_TRUE(fullPath(L"C:\\" + std::wstring(kMaxPathUnits, L'a')).empty());
}

// Free space is asked at the nearest folder that exists, in the extended form
// once the path is long: a deep destination still gets an answer.
TEST(FileSystem, FreeBytesAtTheNearestExistingFolder) {
    std::wstring deep = tempFolder() + L"qz-fs-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring top = deep;
    ASSERT_TRUE(CreateDirectoryW(top.c_str(), nullptr));
    std::vector<std::wstring> made;
    while (deep.size() < 400) {
        deep += L"\\深层文件夹0123456789";
        ASSERT_TRUE(CreateDirectoryW(systemPath(deep).c_str(), nullptr)) << deep.size();
        made.push_back(deep);
    }
    const std::optional<uint64_t> atTemp = freeBytesAt(tempFolder());
    ASSERT_TRUE(atTemp);
    for (const std::wstring& path : {deep, deep + L"\\", deep + L"\\not\\yet\\made\\file.txt"}) {
        const std::optional<uint64_t> free = freeBytesAt(path);
        ASSERT_TRUE(free) << path.size();
        EXPECT_GT(*free, 0u);
        EXPECT_TRUE(isFolder(deep));
        EXPECT_TRUE(pathExists(deep));
    }
    EXPECT_FALSE(freeBytesAt(L"relative\\name"));
    EXPECT_FALSE(pathExists(deep + L"\\missing"));
    for (auto it = made.rbegin(); it != made.rend(); ++it) RemoveDirectoryW(systemPath(*it).c_str());
    RemoveDirectoryW(top.c_str());
}

}  // namespace
