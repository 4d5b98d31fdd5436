#include "app/DownloadRules.h"

#include "app/PathText.h"

bool isFinishedZipDownload(int action, std::string_view path) {
    // GBK trail bytes start at 0x40, so a byte search for "$" (0x24) cannot
    // hit the second half of a Chinese character.
    return action == kActionModified && pathExtension(path) == ".zip" && path.find('$') == std::string_view::npos;
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
