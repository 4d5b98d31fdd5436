#include "app/FolderServices.h"

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <stdexcept>

#include "base/PathText.h"
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

// The longest path the wide API takes, with its NUL.
constexpr DWORD kLongPathChars = 32768;

}  // namespace

std::wstring specialFolderPath(int kind) {
    wchar_t buffer[MAX_PATH + 1] = {};
    bool ok = false;
    if (int csidl = csidlOf(kind); csidl >= 0) {
        ok = ::SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE) != FALSE;
    } else {
        // These return the length written, or the size needed when the
        // buffer is too small, in which case nothing usable was written.
        UINT len = 0;
        if (kind == kFolderWindows)
            len = ::GetWindowsDirectoryW(buffer, MAX_PATH);
        else if (kind == kFolderSystem)
            len = ::GetSystemDirectoryW(buffer, MAX_PATH);
        else if (kind == kFolderTemp)
            len = ::GetTempPathW(MAX_PATH, buffer);
        ok = len > 0 && len < MAX_PATH;
    }
    if (!ok || buffer[0] == L'\0') return {};
    return withTrailingBackslash(buffer);
}

std::wstring browseForFolder(HWND owner, const wchar_t* title) {
    ComScope com;
    PIDLIST_ABSOLUTE desktop = nullptr;
    ::SHGetFolderLocation(owner, CSIDL_DESKTOP, nullptr, 0, &desktop);

    // The browser writes the chosen item's display name here; nothing reads it.
    wchar_t displayName[MAX_PATH] = {};

    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.pidlRoot = desktop;
    info.pszDisplayName = displayName;
    info.lpszTitle = title ? title : L"请选择文件夹路径";
    info.ulFlags = kBrowseFlags;
    PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&info);

    // A folder deep below its drive may be longer than MAX_PATH.
    std::wstring itemPath;
    if (chosen) {
        std::wstring path(kLongPathChars, L'\0');
        if (::SHGetPathFromIDListEx(chosen, path.data(), kLongPathChars, GPFIDL_DEFAULT))
            itemPath.assign(path.c_str());
    }
    ::CoTaskMemFree(chosen);
    ::CoTaskMemFree(desktop);
    return browsedFolder(chosen != nullptr, itemPath);
}

bool useDesktopDestination(std::wstring& destinationFolder) {
    std::wstring desktop = specialFolderPath(kFolderDesktop);
    if (desktop.empty()) return false;
    destinationFolder = std::move(desktop);
    return true;
}

bool chooseCustomDestination(std::wstring& destinationFolder, HWND owner) {
    std::wstring folder = browseForFolder(owner);
    if (folder.empty()) return false;
    destinationFolder = withTrailingBackslash(folder);
    return true;
}

ByteArray readWholeFile(const std::wstring& path) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
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
