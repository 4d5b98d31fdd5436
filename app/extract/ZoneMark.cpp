#include "app/extract/ZoneMark.h"

#include <windows.h>

#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "app/extract/ZoneMarkText.h"
#include "base/FileSystem.h"
#include "base/TextCodec.h"
#include "base/UniqueAny.h"
#include "zip/EntryName.h"

namespace {

constexpr wchar_t kStream[] = L":Zone.Identifier";
constexpr DWORD kLongestMark = 64 * 1024;  // a stream beyond this is no zone mark

bool volumeHoldsStreams(const std::wstring& path) {
    wchar_t root[MAX_PATH + 1] = {};
    DWORD flags = 0;
    return ::GetVolumePathNameW(path.c_str(), root, MAX_PATH) &&
           ::GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
           (flags & FILE_NAMED_STREAMS);
}

// The archive's own stream, empty when it has none.
std::string readZoneStream(const std::wstring& archive) {
    UniqueFile in(::CreateFileW(systemPath(archive + kStream).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string text;
    if (!in) return text;
    char buffer[4096];
    DWORD got = 0;
    while (text.size() < kLongestMark && ::ReadFile(in.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    return text;
}

// The path in the ANSI code page, when every character has a form there.
std::optional<std::string> exactAnsi(const std::wstring& path) {
    BOOL lossy = FALSE;
    const int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.data(), static_cast<int>(path.size()),
                                        nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy) return std::nullopt;
    std::string ansi(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.data(), static_cast<int>(path.size()), ansi.data(), n,
                          nullptr, &lossy);
    return lossy ? std::nullopt : std::optional<std::string>(std::move(ansi));
}

// Writes mark as file's Zone.Identifier stream.
bool writeZoneMark(const std::wstring& file, const std::string& mark) {
    UniqueFile out(::CreateFileW(systemPath(file + kStream).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return out && ::WriteFile(out.get(), mark.data(), static_cast<DWORD>(mark.size()), &written, nullptr) &&
           written == mark.size();
}

// What one run's hook keeps: the mark, read once, and whether each folder
// written to can hold it. The threads of a batch call it at once.
struct RunMarks {
    std::wstring archive;
    std::once_flag readOnce;
    std::optional<std::string> mark;  // set once, read-only afterwards
    std::mutex lock;                  // guards folders
    std::unordered_map<std::wstring, bool> folders;  // whether each holds streams

    // False when the file should carry a mark and could not be given it.
    bool markFile(const std::wstring& file) {
        std::call_once(readOnce, [this] {
            std::wstring full = fullPath(archive);
            if (full.empty()) full = archive;
            mark = inheritedZoneMark(readZoneStream(full), referrerText(exactAnsi(full), wideToUtf8(full)));
        });
        if (!mark) return true;
        const size_t sep = file.find_last_of(L"\\/");
        const std::wstring folder = sep == std::wstring::npos ? std::wstring() : file.substr(0, sep + 1);
        std::optional<bool> holdsStreams;
        if (!folder.empty()) {
            std::lock_guard<std::mutex> hold(lock);
            auto known = folders.find(folder);
            if (known != folders.end()) holdsStreams = known->second;
        }
        if (!holdsStreams) {
            holdsStreams = volumeHoldsStreams(file);
            std::lock_guard<std::mutex> hold(lock);
            if (!folder.empty()) folders.emplace(folder, *holdsStreams);
        }
        return !*holdsStreams || writeZoneMark(file, *mark);
    }
};

}  // namespace

Unzip::CompletedFileHook zoneMarkHook(std::wstring archivePath) {
    auto marks = std::make_shared<RunMarks>();
    marks->archive = std::move(archivePath);
    return [marks](const std::wstring& writtenPath) {
        // Nothing is thrown into the archive library. A file that should
        // carry the mark and cannot is refused, so that nothing from the
        // Internet arrives unmarked while the run reports success.
        try {
            return marks->markFile(writtenPath);
        } catch (...) {
            return false;
        }
    };
}
