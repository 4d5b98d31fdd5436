// The zone-mark hook on a real volume. Where the volume holds named streams
// every file gets the archive's mark; where it holds none (Wine's drives,
// FAT) nothing is written, not even a file named "name:Zone.Identifier".
// The archive's mark is made with the same stream syntax, which on such a
// volume makes a file of that name: the hook reads it all the same.
#include "app/extract/ZoneMark.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>

namespace {

std::wstring tempFolder() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring dir = std::wstring(base) + L"qz-zone-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

bool writeBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD done = 0;
    const bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) && done == bytes.size();
    CloseHandle(h);
    return ok;
}

std::optional<std::string> readBytes(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    char buffer[4096];
    DWORD got = 0;
    std::string bytes;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got) bytes.append(buffer, got);
    CloseHandle(h);
    return bytes;
}

std::string ansi(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
    return bytes;
}

bool holdsStreams(const std::wstring& path) {
    wchar_t root[MAX_PATH + 1] = {};
    DWORD flags = 0;
    return GetVolumePathNameW(path.c_str(), root, MAX_PATH) &&
           GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
           (flags & FILE_NAMED_STREAMS);
}

TEST(ZoneMarkHook, MarksEveryFileWhereTheVolumeCanHoldItAndWritesNothingElsewhere) {
    const std::wstring dir = tempFolder();
    const std::wstring archive = dir + L"下载.zip";
    struct Case {
        const char* archiveMark;  // nothing: the archive has no stream
        bool passesOn;
    } cases[] = {{"[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.com/x.zip\r\n", true},
                 {"[ZoneTransfer]\r\nZoneId=4\r\n", true},
                 {"[ZoneTransfer]\r\nZoneId=2\r\n", false},
                 {nullptr, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.archiveMark ? c.archiveMark : "no mark");
        ASSERT_TRUE(writeBytes(archive, "PK"));
        DeleteFileW((archive + L":Zone.Identifier").c_str());
        if (c.archiveMark) {
            ASSERT_TRUE(writeBytes(archive + L":Zone.Identifier", c.archiveMark));
        }
        const std::wstring files[] = {dir + L"a.exe", dir + L"~qz1234.tmp"};
        const Unzip::CompletedFileHook hook = zoneMarkHook(archive);
        for (const std::wstring& file : files) {
            ASSERT_TRUE(writeBytes(file, "data"));
            DeleteFileW((file + L":Zone.Identifier").c_str());
            EXPECT_TRUE(hook(file)) << "a file is refused only when its mark cannot be written";
            const std::optional<std::string> mark = readBytes(file + L":Zone.Identifier");
            if (c.passesOn && holdsStreams(file)) {  // Windows on NTFS
                const std::string zone = std::string(c.archiveMark).substr(0, 24);  // "[ZoneTransfer]\r\nZoneId=n"
                EXPECT_EQ(mark, zone + "\r\nReferrerUrl=" + ansi(archive) + "\r\n");
            } else {
                EXPECT_FALSE(mark) << "no mark, and no file of the stream's name";
            }
            EXPECT_EQ(readBytes(file), "data");
            DeleteFileW(file.c_str());
        }
        DeleteFileW((archive + L":Zone.Identifier").c_str());
    }
    DeleteFileW(archive.c_str());
    RemoveDirectoryW(dir.c_str());
}

}  // namespace
