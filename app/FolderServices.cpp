#include "app/FolderServices.h"

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <stdexcept>

#include "app/PathText.h"
#include "base/TextCodec.h"
#include "base/UniqueAny.h"

namespace {

int csidlOf(int kind) {
    switch (kind) {
        case kFolderDocuments: return CSIDL_PERSONAL;
        case kFolderFavorites: return CSIDL_FAVORITES;
        case kFolderDefault:
        case kFolderDesktop: return CSIDL_DESKTOPDIRECTORY;
        case kFolderFonts: return CSIDL_FONTS;
        case kFolderStartMenu: return CSIDL_STARTMENU;
        case kFolderPrograms: return CSIDL_PROGRAMS;
        case kFolderStartup: return CSIDL_STARTUP;
        case kFolderAppData: return CSIDL_APPDATA;
        case kFolderInternetCache: return CSIDL_INTERNET_CACHE;
        default: return -1;
    }
}

// The browser with BIF_NEWDIALOGSTYLE needs COM on the calling thread. Joins
// whatever apartment the thread already has; undoes only its own start.
class ComScope {
public:
    ComScope() : started_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ComScope() {
        if (started_) ::CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool started_;
};

constexpr UINT kBrowseFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN | BIF_STATUSTEXT | BIF_EDITBOX |
                              BIF_VALIDATE | BIF_NEWDIALOGSTYLE;  // 0x77

}  // namespace

std::string specialFolderPath(int kind) {
    char buffer[MAX_PATH + 1] = {};
    bool ok = false;
    if (int csidl = csidlOf(kind); csidl >= 0) {
        ok = ::SHGetSpecialFolderPathA(nullptr, buffer, csidl, FALSE) != FALSE;
    } else {
        // These return the length written, or the size needed when the
        // buffer is too small, in which case nothing usable was written.
        UINT len = 0;
        if (kind == kFolderWindows)
            len = ::GetWindowsDirectoryA(buffer, MAX_PATH);
        else if (kind == kFolderSystem)
            len = ::GetSystemDirectoryA(buffer, MAX_PATH);
        else if (kind == kFolderTemp)
            len = ::GetTempPathA(MAX_PATH, buffer);
        ok = len > 0 && len < MAX_PATH;
    }
    if (!ok || buffer[0] == '\0') return {};
    return withTrailingBackslash(buffer);
}

std::string browseForFolder(HWND owner, const char* title) {
    ComScope com;
    std::string defaultTitle;
    if (!title) {
        defaultTitle = utf8ToAnsi("请选择文件夹路径");
        title = defaultTitle.c_str();
    }

    PIDLIST_ABSOLUTE desktop = nullptr;
    ::SHGetFolderLocation(owner, CSIDL_DESKTOP, nullptr, 0, &desktop);

    // The browser writes the chosen item's display name here.
    char displayName[MAX_PATH] = {};

    BROWSEINFOA info = {};
    info.hwndOwner = owner;
    info.pidlRoot = desktop;
    info.pszDisplayName = displayName;
    info.lpszTitle = title;
    info.ulFlags = kBrowseFlags;
    PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderA(&info);
    displayName[MAX_PATH - 1] = '\0';

    std::string itemPath;
    if (chosen) {
        char path[MAX_PATH + 1] = {};
        if (::SHGetPathFromIDListA(chosen, path)) itemPath = path;
    }
    ::CoTaskMemFree(chosen);
    ::CoTaskMemFree(desktop);
    return browsedFolder(displayName, chosen != nullptr, itemPath);
}

bool useDesktopDestination(std::string& destinationFolder) {
    std::string desktop = specialFolderPath(kFolderDesktop);
    if (desktop.empty()) return false;
    destinationFolder = std::move(desktop);
    return true;
}

bool chooseCustomDestination(std::string& destinationFolder, HWND owner) {
    std::string folder = browseForFolder(owner);
    if (folder.empty()) return false;
    destinationFolder = withTrailingBackslash(folder);
    return true;
}

ByteArray readWholeFile(const std::string& path) {
    UniqueFile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 || size.QuadPart >= (LONGLONG(1) << 32)) return {};

    ByteArray data;
    try {
        data.resize(static_cast<size_t>(size.QuadPart));
    } catch (const std::exception&) {  // bad_alloc, or length_error in a 32-bit process
        return {};
    }
    // A file that shrinks while we read gives what it still holds, never
    // zero padding passed off as its contents.
    size_t got = 0;
    while (got < data.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - got, 1u << 30));
        DWORD read = 0;
        if (!::ReadFile(file.get(), data.data() + got, chunk, &read, nullptr)) return {};
        if (read == 0) break;
        got += read;
    }
    data.resize(got);
    return data;
}
