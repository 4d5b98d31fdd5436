#include "base/FileSystem.h"

#include "base/PathText.h"

#include <windows.h>

std::wstring fullPath(std::wstring path) {
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    const DWORD n = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0 || n > kMaxPathUnits) return {};
    std::wstring out(n, L'\0');
    const DWORD got = ::GetFullPathNameW(path.c_str(), n, out.data(), nullptr);
    if (got == 0 || got >= n) return {};
    out.resize(got);
    return out;
}

bool pathExists(const std::wstring& path) {
    return ::GetFileAttributesW(systemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(systemPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool isFile(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(systemPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<uint64_t> freeBytesAt(const std::wstring& path) {
    std::wstring folder = path;
    while (!isFolder(folder)) {
        if (folder.size() <= 3) return std::nullopt;  // no drive or share along it
        while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
        const size_t sep = folder.rfind(L'\\');
        if (sep == std::wstring::npos) return std::nullopt;
        folder.resize(sep + 1);  // the parent, with its "\" (a drive root keeps it)
    }
    if (folder.back() != L'\\') folder += L'\\';
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(systemPath(folder).c_str(), &available, nullptr, nullptr)) return std::nullopt;
    return available.QuadPart;
}
