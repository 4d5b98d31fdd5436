// Folder and path services over the shell: special folders, the folder
// browser, the two destination choices and whole-file reads. Paths are wide
// text and go to the wide API, so folders whose names lie outside the ANSI
// code page work; every result is the caller's own copy.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

using ByteArray = std::vector<uint8_t>;

// Kinds of specialFolderPath; 0 means the desktop as well.
enum SpecialFolderKind : int {
    kFolderDefault = 0,
    kFolderDocuments = 1,
    kFolderFavorites = 2,
    kFolderDesktop = 3,
    kFolderFonts = 4,
    kFolderStartMenu = 5,
    kFolderPrograms = 6,
    kFolderStartup = 7,
    kFolderAppData = 8,
    kFolderWindows = 9,
    kFolderSystem = 10,
    kFolderTemp = 11,
    kFolderInternetCache = 12,
};

// The folder's path ending in "\", or the empty text for an unknown kind or a
// failing lookup.
std::wstring specialFolderPath(int kind);

// Shows the shell's modal folder browser rooted at the desktop and returns
// the chosen folder ("C:" for a drive root), or the empty text when the user
// cancels or picks something that is not a file-system folder. Null title
// gives "请选择文件夹路径".
std::wstring browseForFolder(HWND owner = nullptr, const wchar_t* title = nullptr);

// The desktop becomes the destination. False, with destinationFolder left as
// it was, when the desktop's path cannot be found.
bool useDesktopDestination(std::wstring& destinationFolder);

// A folder picked in the browser becomes the destination, ending in "\". False,
// with destinationFolder left as it was, when nothing usable was picked.
bool chooseCustomDestination(std::wstring& destinationFolder, HWND owner = nullptr);

// The file's whole contents; empty when it cannot be opened or read, or when
// it is 4 GiB or larger (or more than this process can hold).
ByteArray readWholeFile(const std::wstring& path);
