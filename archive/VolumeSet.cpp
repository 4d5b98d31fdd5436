#include "archive/VolumeSet.h"

#include "base/PathText.h"

namespace {

bool isDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// The digits ending at end (exclusive) in text: where they start.
size_t digitsBefore(std::wstring_view text, size_t end) {
    size_t start = end;
    while (start > 0 && isDigit(text[start - 1])) start--;
    return start;
}

// The number text[start, end) plus one, with the same width unless it
// overflows it; empty when it would overflow a width the scheme fixes.
std::wstring increment(std::wstring_view digits, bool fixedWidth) {
    std::wstring out(digits);
    for (size_t i = out.size(); i-- > 0;) {
        if (out[i] != L'9') {
            out[i]++;
            return out;
        }
        out[i] = L'0';
    }
    return fixedWidth ? std::wstring() : L"1" + out;
}

// Where the file name starts (after the last separator).
size_t nameStart(std::wstring_view path) {
    size_t sep = path.find_last_of(L"\\/");
    return sep == std::wstring_view::npos ? 0 : sep + 1;
}

}  // namespace

std::wstring nextVolumeName(std::wstring_view path) {
    const size_t name = nameStart(path);
    // "x.part7.rar"
    if (endsWithNoCase(path, L".rar")) {
        size_t end = path.size() - 4;
        size_t start = digitsBefore(path, end);
        if (start < end && start >= name + 5 && endsWithNoCase(path.substr(0, start), L".part")) {
            return std::wstring(path.substr(0, start)) + increment(path.substr(start, end - start), false) +
                   std::wstring(path.substr(end));
        }
        // The old scheme: "x.rar" is followed by "x.r00".
        std::wstring next(path.substr(0, path.size() - 3));
        return next + (path[path.size() - 3] == L'R' ? L"R00" : L"r00");
    }
    // "x.r07" ... "x.r99", then "x.s00"; "x.7z.001" and the like.
    size_t start = digitsBefore(path, path.size());
    size_t count = path.size() - start;
    if (start <= name + 1 || count == 0) return {};
    if (path[start - 1] == L'.' && count >= 3) {
        return std::wstring(path.substr(0, start)) + increment(path.substr(start), false);
    }
    wchar_t letter = path[start - 1];
    if (count == 2 && start >= name + 2 && path[start - 2] == L'.' && ((letter >= L'r' && letter <= L'z') ||
                                                                        (letter >= L'R' && letter <= L'Z'))) {
        std::wstring digits = increment(path.substr(start), true);
        if (!digits.empty()) return std::wstring(path.substr(0, start)) + digits;
        if (letter == L'z' || letter == L'Z') return {};
        return std::wstring(path.substr(0, start - 1)) + static_cast<wchar_t>(letter + 1) + L"00";
    }
    return {};
}

bool isVolumeName(std::wstring_view path) {
    if (endsWithNoCase(path, L".rar")) {
        size_t end = path.size() - 4, start = digitsBefore(path, end);
        return start < end && start >= nameStart(path) + 5 && endsWithNoCase(path.substr(0, start), L".part");
    }
    return !nextVolumeName(path).empty();
}

VolumeSet findVolumes(const std::wstring& firstVolume, const std::function<bool(const std::wstring&)>& exists) {
    VolumeSet set;
    set.paths.push_back(firstVolume);
    // A set of more volumes than this is no set a person made.
    constexpr size_t kMostVolumes = 10000;
    for (std::wstring next = nextVolumeName(firstVolume); !next.empty(); next = nextVolumeName(next)) {
        if (set.paths.size() >= kMostVolumes || !exists(next)) {
            set.firstMissing = next;
            break;
        }
        set.paths.push_back(next);
    }
    return set;
}
