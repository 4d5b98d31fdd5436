#include "base/PathText.h"

#include <algorithm>
#include <optional>
#include <vector>

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

bool endsWithNoCase(std::wstring_view text, std::wstring_view ending) {
    if (text.size() < ending.size()) return false;
    const std::wstring_view tail = text.substr(text.size() - ending.size());
    for (size_t i = 0; i < ending.size(); ++i) {
        const wchar_t c = tail[i];
        if ((c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c) != ending[i]) return false;
    }
    return true;
}

std::wstring systemPath(const std::wstring& path) {
    if (path.size() < kShortPathUnits || path.compare(0, 4, L"\\\\?\\") == 0) return path;
    if (path.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + path.substr(2);
    return L"\\\\?\\" + path;
}

namespace {

bool isDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

wchar_t upperDriveLetter(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// The root of an absolute path ("C:\\", "\\\\server\\share\\") and the rest
// after it; nothing for a relative path or a share without both names.
struct RootedPath {
    std::wstring root;
    std::wstring_view rest;
};

std::optional<RootedPath> splitRoot(std::wstring_view path) {
    if (path.size() >= 3 && isDriveLetter(path[0]) && path[1] == L':' && isSeparator(path[2]))
        return RootedPath{std::wstring{path[0], L':', L'\\'}, path.substr(3)};
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        // "\\server\share\": both names must be there.
        size_t server = 2;
        while (server < path.size() && isSeparator(path[server])) ++server;
        const size_t serverEnd = std::min(path.find_first_of(L"\\/", server), path.size());
        const size_t shareEnd = std::min(path.find_first_of(L"\\/", serverEnd + 1), path.size());
        if (serverEnd == server || serverEnd >= path.size() || shareEnd == serverEnd + 1) return std::nullopt;
        std::wstring root = L"\\\\";
        root += path.substr(server, serverEnd - server);
        root += L'\\';
        root += path.substr(serverEnd + 1, shareEnd - serverEnd - 1);
        root += L'\\';
        return RootedPath{std::move(root), path.substr(std::min(shareEnd + 1, path.size()))};
    }
    return std::nullopt;
}

// Takes off the extended prefix: "\\?\C:\x" is "C:\x", "\\?\UNC\s\x" is "\\s\x".
std::wstring withoutExtendedPrefix(std::wstring_view path) {
    if (path.substr(0, 8) == L"\\\\?\\UNC\\") return L"\\\\" + std::wstring(path.substr(8));
    if (path.substr(0, 4) == L"\\\\?\\" || path.substr(0, 4) == L"\\\\.\\") return std::wstring(path.substr(4));
    return std::wstring(path);
}

// Appends the components of relative to root's components, "." and ".."
// resolved.
void appendComponents(std::vector<std::wstring_view>& parts, std::wstring_view relative) {
    size_t pos = 0;
    while (pos <= relative.size()) {
        const size_t end = std::min(relative.find_first_of(L"\\/", pos), relative.size());
        const std::wstring_view part = relative.substr(pos, end - pos);
        if (part == L"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != L".") {
            parts.push_back(part);
        }
        pos = end + 1;
    }
}

}  // namespace

std::wstring resolvePath(std::wstring_view folderText, std::wstring_view pathText) {
    const std::wstring path = withoutExtendedPrefix(pathText);
    const std::wstring folder = withoutExtendedPrefix(folderText);
    const std::optional<RootedPath> base = splitRoot(folder);
    std::optional<RootedPath> rooted = splitRoot(path);
    std::vector<std::wstring_view> parts;
    if (!rooted) {
        const bool driveRelative = path.size() >= 2 && isDriveLetter(path[0]) && path[1] == L':';
        const bool onBaseDrive = base && driveRelative && upperDriveLetter(base->root[0]) == upperDriveLetter(path[0]) &&
                                 base->root[1] == L':';
        if (driveRelative && !onBaseDrive) {
            rooted = RootedPath{std::wstring{path[0], L':', L'\\'}, std::wstring_view(path).substr(2)};
        } else {
            if (!base) return {};
            rooted = RootedPath{base->root, std::wstring_view(path).substr(driveRelative ? 2 : 0)};
            // "\x" starts at the root; everything else in the folder.
            if (rooted->rest.empty() || !isSeparator(rooted->rest[0])) appendComponents(parts, base->rest);
        }
    }
    appendComponents(parts, rooted->rest);
    std::wstring out = rooted->root;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out += L'\\';
        out += parts[i];
    }
    if (out.size() >= kMaxPathUnits) return {};
    return out;
}
