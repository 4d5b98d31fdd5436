#include "app/DownloadRules.h"

#include "app/PathText.h"

bool isZipDownloadName(std::string_view path) {
    // GBK trail bytes start at 0x40, so a byte search for "$" (0x24) cannot
    // hit the second half of a Chinese character.
    return pathExtension(path) == ".zip" && path.find('$') == std::string_view::npos;
}

const std::vector<std::string_view> kPartialSuffixes = {
    ".part", ".crdownload", ".xltd", ".td", ".td.cfg", ".baiduyun.downloading", ".aria2", ".download",
    ".tmp",  ".!ut",        ".bc!",
};

std::string finishedNameOfPartial(std::string_view path) {
    for (std::string_view suffix : kPartialSuffixes) {
        if (path.size() <= suffix.size() || path.substr(path.size() - suffix.size()) != suffix) continue;
        std::string_view finished = path.substr(0, path.size() - suffix.size());
        // The suffix is plain ASCII after a whole ".zip", so the cut cannot
        // fall inside a double-byte character.
        if (isZipDownloadName(finished)) return std::string(finished);
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
