#include "TestFolder.h"

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "base/TextCodec.h"
#include "base/UniqueAny.h"

namespace {

uint64_t ticks(const FILETIME& t) { return static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime; }
FILETIME fileTime(uint64_t v) { return FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)}; }

void listInto(const std::string& root, const std::string& relative, std::vector<std::string>& out) {
    WIN32_FIND_DATAA found{};
    UniqueFind find(::FindFirstFileA((root + relative + "*").c_str(), &found));
    if (!find) return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.push_back(relative + name + "\\");
            listInto(root, relative + name + "\\", out);
        } else {
            out.push_back(relative + name);
        }
    } while (::FindNextFileA(find.get(), &found));
}

// Removes what folder (ending with "\", in the extended form so that long
// paths go too) holds, then folder itself.
void removeBelow(const std::wstring& folder) {
    std::vector<std::pair<std::wstring, bool>> entries;  // name, is a folder
    {
        WIN32_FIND_DATAW found{};
        UniqueFind find(::FindFirstFileW((folder + L"*").c_str(), &found));
        if (find) {
            do {
                std::wstring name = found.cFileName;
                if (name != L"." && name != L"..")
                    entries.emplace_back(name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
            } while (::FindNextFileW(find.get(), &found));
        }
    }
    for (const auto& [name, isFolder] : entries) {
        std::wstring full = folder + name;
        ::SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (isFolder) removeBelow(full + L"\\");
        else ::DeleteFileW(full.c_str());
    }
    ::RemoveDirectoryW(folder.c_str());
}

}  // namespace

TestFolder::TestFolder() {
    static int counter = 0;
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    char name[64];
    std::snprintf(name, sizeof name, "qz-zip-%lu-%d\\", ::GetCurrentProcessId(), ++counter);
    path_ = std::string(temp) + name;
    removeTree(path_);
    ::CreateDirectoryA(path_.c_str(), nullptr);
}

TestFolder::~TestFolder() { removeTree(path_); }

void removeTree(const std::string& path) {
    std::wstring folder = ansiToWide(path);
    if (folder.empty()) return;
    std::replace(folder.begin(), folder.end(), L'/', L'\\');
    if (folder.back() != L'\\') folder += L'\\';
    removeBelow(L"\\\\?\\" + folder);
}

std::vector<std::string> listTree(const std::string& folder) {
    std::vector<std::string> out;
    listInto(folder.back() == '\\' ? folder : folder + "\\", "", out);
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::wstring> listTreeWide(const std::wstring& folder) {
    std::vector<std::wstring> out;
    std::vector<std::wstring> pending{L""};
    const std::wstring root = L"\\\\?\\" + folder + (folder.back() == L'\\' ? L"" : L"\\");
    while (!pending.empty()) {
        std::wstring relative = std::move(pending.back());
        pending.pop_back();
        WIN32_FIND_DATAW found{};
        UniqueFind find(::FindFirstFileW((root + relative + L"*").c_str(), &found));
        if (!find) continue;
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            out.push_back(relative + name + (isFolder ? L"\\" : L""));
            if (isFolder) pending.push_back(relative + name + L"\\");
        } while (::FindNextFileW(find.get(), &found));
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::optional<std::string> readFile(const std::string& path) {
    UniqueFile h(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!h) return std::nullopt;
    std::string data;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(h.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) data.append(buffer, got);
    return data;
}

bool writeFile(const std::string& path, const std::string& data) {
    UniqueFile h(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD done = 0;
    return h && ::WriteFile(h.get(), data.data(), static_cast<DWORD>(data.size()), &done, nullptr) &&
           done == data.size();
}

bool makeFolder(const std::string& path) { return ::CreateDirectoryA(path.c_str(), nullptr) != 0; }

uint32_t fileAttributes(const std::string& path) { return ::GetFileAttributesA(path.c_str()); }

uint64_t modificationTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return ticks(data.ftLastWriteTime);
}

uint64_t fileTimeOfUnix(int64_t seconds) { return static_cast<uint64_t>(seconds + 11644473600LL) * 10000000ULL; }

uint64_t fileTimeOfLocal(int year, int month, int day, int hour, int minute, int second) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    FILETIME local{}, utc{};
    ::SystemTimeToFileTime(&st, &local);
    ::LocalFileTimeToFileTime(&local, &utc);
    return ticks(utc);
}

double oleDateOf(uint64_t value) {
    FILETIME utc = fileTime(value), local{};
    SYSTEMTIME st{};
    double date = 0;
    ::FileTimeToLocalFileTime(&utc, &local);
    ::FileTimeToSystemTime(&local, &st);
    ::SystemTimeToVariantTime(&st, &date);
    return date;
}

std::string fixturePath(const std::string& name) {
    const char* binary = std::getenv("QZ_BINARY_DIR");
    std::string path = std::string("Z:") + (binary ? binary : "") + "/fixtures/" + name;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}
