#include "app/detect/DownloadRules.h"

#include "base/PathText.h"

namespace {

bool isDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// "x.7z.001": a 7z volume (three digits or more after ".7z.").
bool isSevenZipVolume(std::wstring_view name) {
    size_t digits = 0;
    while (digits < name.size() && isDigit(name[name.size() - 1 - digits])) ++digits;
    return digits >= 3 && endsWithNoCase(name.substr(0, name.size() - digits), L".7z.");
}

// "x.r00" … "x.r99": a later volume of an old-style RAR set.
bool isOldRarVolume(std::wstring_view name) {
    return name.size() > 4 && isDigit(name.back()) && isDigit(name[name.size() - 2]) &&
           endsWithNoCase(name.substr(0, name.size() - 2), L".r");
}

// Longer endings first is no matter: any match is a yes.
constexpr std::wstring_view kArchiveEndings[] = {L".zip", L".7z",  L".rar", L".tar", L".tgz", L".tbz2",
                                                 L".txz", L".gz",  L".bz2", L".xz",  L".tar.zst"};

}  // namespace

bool isArchiveDownloadName(std::wstring_view path) {
    if (path.find(L'$') != std::wstring_view::npos) return false;
    const std::wstring_view name = pathFileName(path);
    // The ending alone is no name: ".zip" is a hidden file's whole name only on Unix.
    for (std::wstring_view ending : kArchiveEndings) {
        if (name.size() > ending.size() && endsWithNoCase(name, ending)) return true;
    }
    return isSevenZipVolume(name) || isOldRarVolume(name);
}

const std::vector<std::wstring_view> kPartialSuffixes = {
    L".part", L".crdownload", L".xltd", L".td", L".td.cfg", L".baiduyun.downloading", L".aria2", L".download",
    L".tmp",  L".!ut",        L".bc!",
};

std::wstring finishedNameOfPartial(std::wstring_view path) {
    for (std::wstring_view suffix : kPartialSuffixes) {
        if (path.size() <= suffix.size() || !endsWithNoCase(path, suffix)) continue;
        std::wstring_view finished = path.substr(0, path.size() - suffix.size());
        if (isArchiveDownloadName(finished)) return std::wstring(finished);
    }
    return {};
}

std::vector<std::string> splitDriveStrings(std::string_view buffer) {
    std::vector<std::string> letters;
    size_t start = 0;
    for (size_t i = 0; i < buffer.size(); ++i) {
        if (buffer[i] != '\0') continue;
        // An empty piece is the list's closing NUL; a piece's first byte is its letter.
        if (i > start) letters.emplace_back(1, buffer[start]);
        start = i + 1;
    }
    return letters;
}

std::string countLine(int count) { return "共有" + std::to_string(count) + "个文件，请放心解压"; }
