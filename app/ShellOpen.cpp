#include <windows.h>
#include <shellapi.h>

#include "app/ShellOpen.h"

void openInShell(const std::wstring& path) {
    // An open browser window, when there is one, owns the new shell window.
    HWND owner = ::FindWindowExW(nullptr, nullptr, nullptr, L"Microsoft Internet Explorer");
    ::ShellExecuteW(owner, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
