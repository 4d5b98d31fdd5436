#include "app/detect/DownloadRules.h"

#include "base/PathText.h"

bool isZipDownloadName(std::wstring_view path) {
    return pathExtension(path) == L".zip" && path.find(L'$') == std::wstring_view::npos;
}

const std::vector<std::wstring_view> kPartialSuffixes = {
    L".part", L".crdownload", L".xltd", L".td", L".td.cfg", L".baiduyun.downloading", L".aria2", L".download",
    L".tmp",  L".!ut",        L".bc!",
};

std::wstring finishedNameOfPartial(std::wstring_view path) {
    for (std::wstring_view suffix : kPartialSuffixes) {
        if (path.size() <= suffix.size() || path.substr(path.size() - suffix.size()) != suffix) continue;
        std::wstring_view finished = path.substr(0, path.size() - suffix.size());
        if (isZipDownloadName(finished)) return std::wstring(finished);
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
