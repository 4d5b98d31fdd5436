#include "base/PathText.h"

namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

std::wstring_view pathFileName(std::wstring_view path) {
    size_t start = 0;
    for (size_t pos = 0; pos + 1 < path.size(); ++pos) {
        // A separator only starts a new component when something other than a
        // separator follows it, so "C:\dl\" names "dl\".
        const wchar_t c = path[pos];
        if ((isSeparator(c) || c == L':') && !isSeparator(path[pos + 1])) start = pos + 1;
    }
    return path.substr(start);
}

std::wstring pathExtension(std::wstring_view path) {
    size_t dot = std::wstring_view::npos;
    for (size_t pos = 0; pos < path.size(); ++pos) {
        // A "\" starts a new component; a space ends any extension, as in the
        // shell's own rule ("a.b c" has none).
        if (path[pos] == L'\\' || path[pos] == L' ')
            dot = std::wstring_view::npos;
        else if (path[pos] == L'.')
            dot = pos;
    }
    return dot == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(dot));
}

std::wstring fileTitle(std::wstring_view path) {
    std::wstring_view name = pathFileName(path);
    if (endsWithBackslash(name)) return {};
    return std::wstring(name.substr(0, name.size() - pathExtension(name).size()));
}

std::wstring folderOfPath(std::wstring_view path) {
    const size_t last = path.rfind(L'\\');
    return last == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, last + 1));
}

bool endsWithBackslash(std::wstring_view path) { return !path.empty() && path.back() == L'\\'; }

std::wstring withTrailingBackslash(std::wstring_view path) {
    std::wstring out(path);
    if (!endsWithBackslash(path)) out += L'\\';
    return out;
}

size_t titleWidth(std::wstring_view title) {
    size_t width = 0;
    for (wchar_t c : title) {
        const auto unit = static_cast<unsigned long>(c);
        // The second half of a surrogate pair adds nothing: its first half counted 2.
        if (unit >= 0xDC00 && unit <= 0xDFFF) continue;
        width += unit < 0x80 ? 1 : 2;
    }
    return width;
}

std::wstring browsedFolder(bool choseItem, std::wstring_view itemPath) {
    // No item means the user cancelled, whatever the display name says.
    if (!choseItem) return {};
    if (itemPath.size() == 3 && itemPath.substr(1) == L":\\") return std::wstring(itemPath.substr(0, 2));
    return std::wstring(itemPath);
}

std::wstring systemPath(const std::wstring& path) {
    if (path.size() < kShortPathUnits || path.compare(0, 4, L"\\\\?\\") == 0) return path;
    if (path.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + path.substr(2);
    return L"\\\\?\\" + path;
}
