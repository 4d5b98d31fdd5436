#include "app/detect/DownloadSets.h"

#include "archive/VolumeSet.h"
#include "base/PathText.h"

#include <algorithm>

namespace {

bool isDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
wchar_t upperAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// Names compare as Windows compares them: ASCII without regard to case.
std::wstring folded(std::wstring_view path) {
    std::wstring out(path);
    std::transform(out.begin(), out.end(), out.begin(), upperAscii);
    return out;
}

// Where the run of digits ending at end starts.
size_t digitsStart(std::wstring_view text, size_t end) {
    while (end > 0 && isDigit(text[end - 1])) --end;
    return end;
}

// "1" in the width of the number it replaces: "01", "001".
std::wstring firstNumber(size_t width) { return std::wstring(width > 1 ? width - 1 : 0, L'0') + L"1"; }

}  // namespace

std::wstring firstVolumeOf(std::wstring_view path) {
    const size_t name = path.find_last_of(L"\\/") == std::wstring_view::npos ? 0 : path.find_last_of(L"\\/") + 1;
    if (endsWithNoCase(path, L".rar")) {
        const size_t end = path.size() - 4, start = digitsStart(path, end);
        if (start < end && start >= name + 5 && endsWithNoCase(path.substr(0, start), L".part"))
            return std::wstring(path.substr(0, start)) + firstNumber(end - start) + std::wstring(path.substr(end));
        return std::wstring(path);
    }
    const size_t start = digitsStart(path, path.size()), digits = path.size() - start;
    if (digits >= 3 && start > name + 1 && path[start - 1] == L'.')  // "x.7z.004"
        return std::wstring(path.substr(0, start)) + firstNumber(digits);
    if (digits == 2 && start >= name + 2 && path[start - 2] == L'.') {  // "x.r07", "x.s00"
        const wchar_t letter = upperAscii(path[start - 1]);
        if (letter >= L'R' && letter <= L'Z') return std::wstring(path.substr(0, start - 1)) + L"rar";
    }
    return std::wstring(path);
}

bool DownloadSets::remindedBefore(const std::wstring& firstVolume) const {
    return std::find(reminded_.begin(), reminded_.end(), folded(firstVolume)) != reminded_.end();
}

std::optional<std::wstring> DownloadSets::reminderFor(const std::wstring& path, const PathQuestion& exists,
                                                      const PathQuestion& beingDownloaded) {
    const std::wstring first = firstVolumeOf(path);
    // "x.rar" is the first of an old-style set when "x.r00" is there or coming.
    const std::wstring afterFirst = nextVolumeName(first);
    const bool set = isVolumeName(path) || first != path ||
                     (!afterFirst.empty() && endsWithNoCase(first, L".rar") &&
                      (exists(afterFirst) || beingDownloaded(afterFirst)));
    if (!set) return path;
    if (remindedBefore(first) || !exists(first) || beingDownloaded(first)) return std::nullopt;
    const VolumeSet volumes = findVolumes(first, exists);
    for (const std::wstring& volume : volumes.paths) {
        if (beingDownloaded(volume)) return std::nullopt;
    }
    // The volume after the last one present is still on its way.
    if (!volumes.firstMissing.empty() && beingDownloaded(volumes.firstMissing)) return std::nullopt;
    if (reminded_.size() >= kRemembered) reminded_.pop_front();
    reminded_.push_back(folded(first));
    return first;
}
