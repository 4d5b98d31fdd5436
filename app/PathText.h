// Splitting 8-bit Windows paths (system ANSI code page, GBK on the users'
// systems) into folder, file name, title and extension. No Windows headers:
// the same code runs under sanitizers on the host.
//
// Paths are scanned character by character, not byte by byte: in GBK the
// second byte of a double-byte character can be 0x5C ("\") or 0x2E ("."), and
// must never be taken for a separator or a dot.
#pragma once

#include <string>
#include <string_view>

// True for the first byte of a double-byte character of code page 936 (0x81 to
// 0xFE), as the system's CharNextA sees it.
constexpr bool isLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Byte length of the character starting at text[pos]: 2 for a lead byte with a
// byte after it, else 1. A lead byte at the very end stands alone.
inline size_t charLengthAt(std::string_view text, size_t pos) {
    return isLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size() ? 2 : 1;
}

// The last component of path, as PathFindFileNameA finds it: the text after
// the last "\", "/" or ":" that is followed by more than a separator. For a
// path ending in "\" this is the last folder's name with that "\".
std::string_view pathFileName(std::string_view path);

// The extension of the last component with its dot (".zip"), as
// PathFindExtensionA finds it; empty when the component has none.
std::string pathExtension(std::string_view path);

// The last component without its extension; empty when the path ends in "\".
std::string fileTitle(std::string_view path);

// The path up to and including its last "\"; empty when it has none.
std::string folderOfPath(std::string_view path);

// True when the last character (not merely the last byte) is "\".
bool endsWithBackslash(std::string_view path);

// path with a "\" appended unless it already ends in one.
std::string withTrailingBackslash(std::string_view path);

// What the folder browser's answer means as a folder path.
//   displayName: the browser's display-name buffer as text;
//   choseItem:   true when the user chose an item (the browser returned an
//                item list);
//   itemPath:    the file-system path of that item, empty when it has none.
// Returns the item's path, cut to "C:" for a drive root so that appending "\"
// gives "C:\"; the empty text for a cancel (whatever the display name says),
// a non-file-system item or a display name with "?" (a name the code page
// cannot hold, so any path made from it would be wrong).
std::string browsedFolder(std::string_view displayName, bool choseItem, std::string_view itemPath);
