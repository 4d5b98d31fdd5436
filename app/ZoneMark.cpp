#include "app/ZoneMark.h"

#include <windows.h>

#include "base/UniqueAny.h"

namespace {

constexpr wchar_t kStream[] = L":Zone.Identifier";
constexpr char kInternetZone[] = "[ZoneTransfer]\r\nZoneId=3\r\n";

bool volumeHoldsStreams(const std::wstring& path) {
    wchar_t root[MAX_PATH + 1] = {};
    DWORD flags = 0;
    return ::GetVolumePathNameW(path.c_str(), root, MAX_PATH + 1) &&
           ::GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
           (flags & FILE_NAMED_STREAMS);
}

// The archive's own mark (with the address it came from), or the Internet zone's.
std::string markOf(const std::wstring& archive) {
    UniqueFile in(::CreateFileW((archive + kStream).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    char buffer[4096];
    DWORD got = 0;
    if (in && ::ReadFile(in.get(), buffer, sizeof buffer, &got, nullptr)) {
        std::string mark(buffer, got);
        if (mark.find("ZoneId=") != std::string::npos) return mark;
    }
    return kInternetZone;
}

}  // namespace

bool markAsDownloaded(const std::wstring& file, const std::wstring& archive) {
    if (!volumeHoldsStreams(file)) return false;
    const std::string mark = markOf(archive);
    UniqueFile out(::CreateFileW((file + kStream).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return out && ::WriteFile(out.get(), mark.data(), static_cast<DWORD>(mark.size()), &written, nullptr) &&
           written == mark.size();
}
