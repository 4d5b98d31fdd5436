#include "app/PathText.h"

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// Calls visit(pos, length) for every character of text, first to last.
template <typename Visit>
void forEachChar(std::string_view text, Visit visit) {
    for (size_t pos = 0; pos < text.size();) {
        size_t len = charLengthAt(text, pos);
        visit(pos, len);
        pos += len;
    }
}

}  // namespace

std::string_view pathFileName(std::string_view path) {
    size_t start = 0;
    forEachChar(path, [&](size_t pos, size_t len) {
        if (len != 1) return;
        char c = path[pos];
        // A separator only starts a new component when something other than a
        // separator follows it, so "C:\dl\" names "dl\".
        if ((isSeparator(c) || c == ':') && pos + 1 < path.size() && !isSeparator(path[pos + 1]))
            start = pos + 1;
    });
    return path.substr(start);
}

std::string pathExtension(std::string_view path) {
    size_t dot = std::string_view::npos;
    forEachChar(path, [&](size_t pos, size_t len) {
        if (len != 1) return;
        // A "\" starts a new component; a space ends any extension, as in the
        // shell's own rule ("a.b c" has none).
        if (path[pos] == '\\' || path[pos] == ' ')
            dot = std::string_view::npos;
        else if (path[pos] == '.')
            dot = pos;
    });
    return dot == std::string_view::npos ? std::string() : std::string(path.substr(dot));
}

std::string fileTitle(std::string_view path) {
    std::string_view name = pathFileName(path);
    if (endsWithBackslash(name)) return {};
    return std::string(name.substr(0, name.size() - pathExtension(name).size()));
}

std::string folderOfPath(std::string_view path) {
    size_t end = 0;
    forEachChar(path, [&](size_t pos, size_t len) {
        if (len == 1 && path[pos] == '\\') end = pos + 1;
    });
    return std::string(path.substr(0, end));
}

bool endsWithBackslash(std::string_view path) {
    bool last = false;
    forEachChar(path, [&](size_t pos, size_t len) { last = len == 1 && path[pos] == '\\'; });
    return last;
}

std::string withTrailingBackslash(std::string_view path) {
    std::string out(path);
    if (!endsWithBackslash(path)) out += '\\';
    return out;
}

std::string browsedFolder(std::string_view displayName, bool choseItem, std::string_view itemPath) {
    // No item means the user cancelled. The display name is not looked at
    // then: some shells fill it with whatever their own buffer held.
    if (!choseItem) return {};
    // "?" is never the second byte of a GBK character, so a byte search is exact.
    if (displayName.find('?') != std::string_view::npos) return {};
    if (itemPath.size() == 3 && itemPath.substr(1) == ":\\") return std::string(itemPath.substr(0, 2));
    return std::string(itemPath);
}
