// Splitting Windows paths into folder, file name, title and extension. Paths
// are wide text (UTF-16 on Windows, as the file system and the wide API give
// them), so no character's second half can be taken for a "\" or a "." as in
// the 8-bit code pages. No Windows headers: the same code runs under
// sanitizers on the host, where wchar_t holds whole code points.
#pragma once

#include <string>
#include <string_view>

// The last component of path, as PathFindFileNameW finds it: the text after
// the last "\", "/" or ":" that is followed by more than a separator. For a
// path ending in "\" this is the last folder's name with that "\".
std::wstring_view pathFileName(std::wstring_view path);

// The extension of the last component with its dot (".zip"), as
// PathFindExtensionW finds it; empty when the component has none.
std::wstring pathExtension(std::wstring_view path);

// The last component without its extension; empty when the path ends in "\".
std::wstring fileTitle(std::wstring_view path);

// The path up to and including its last "\"; empty when it has none.
std::wstring folderOfPath(std::wstring_view path);

// True when the last character is "\".
bool endsWithBackslash(std::wstring_view path);

// path with a "\" appended unless it already ends in one.
std::wstring withTrailingBackslash(std::wstring_view path);

// How wide a title is in the units of the windows' title limits: 1 for an
// ASCII character, 2 for any other (as wide as a double-byte character of
// the ANSI code page). A character outside the Basic Multilingual Plane
// counts 2 whether it is one code point (host) or a surrogate pair (Windows).
size_t titleWidth(std::wstring_view title);

// What the folder browser's answer means as a folder path.
//   choseItem: true when the user chose an item (the browser returned an
//              item list);
//   itemPath:  the file-system path of that item, empty when it has none.
// Returns the item's path, cut to "C:" for a drive root so that appending "\"
// gives "C:\"; the empty text for a cancel or a non-file-system item.
std::wstring browsedFolder(bool choseItem, std::wstring_view itemPath);

// True when text ends in ending, ASCII letters compared without regard to
// case as Windows compares names; ending is given in lower case (".rar").
bool endsWithNoCase(std::wstring_view text, std::wstring_view ending);

// Up to this length a path goes to the system as it is; CreateDirectoryW
// stops 12 short of MAX_PATH (260; room for an 8.3 name), so from there on
// the extended form is used for every call.
constexpr size_t kShortPathUnits = 260 - 12;
// The longest path the wide API takes, in UTF-16 units with its NUL.
constexpr size_t kMaxPathUnits = 32767;

// A full path as the wide API takes it: unchanged while it is short, in its
// extended form ("\\?\", "\\?\UNC\" for a share) from kShortPathUnits on,
// where the system no longer turns "/" into "\\" nor resolves "." and "..":
// the path must be built with "\\" and checked before.
std::wstring systemPath(const std::wstring& path);

// path made absolute against folder (itself absolute: "C:\\dl" or
// "\\\\server\\share\\dl"), as a caller's current folder makes a command-line
// argument absolute: "/" as "\\", "." and ".." resolved (never above the
// drive root or the share), repeated separators made one, the extended
// prefix ("\\\\?\\", "\\\\?\\UNC\\") taken off so that systemPath can put it
// back where needed. "\\x" is on folder's drive; "D:x" is in folder when that
// is on D:, else under "D:\\". Empty when a relative path has no absolute
// folder to go by, or when the result is longer than the wide API takes.
std::wstring resolvePath(std::wstring_view folder, std::wstring_view path);
