#include <windows.h>
#include <shellapi.h>

#include "app/ShellOpen.h"

void openInShell(const std::string& path) {
    // An open browser window, when there is one, owns the new shell window.
    HWND owner = ::FindWindowExA(nullptr, nullptr, nullptr, "Microsoft Internet Explorer");
    ::ShellExecuteA(owner, "open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
