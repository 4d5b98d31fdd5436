// The installer in its silent forms, in a Wine prefix of its own: the files,
// both shortcuts (their targets resolved), the entry in the list of
// installed programs, the installed program starting with its tray icon,
// installing over a running copy, and an uninstaller that ends the running
// copy and leaves nothing behind.
#include "ProgramDriver.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

namespace {

constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuilloZIP";
constexpr wchar_t kLinkName[] = L"QuilloZIP快速解压.lnk";
constexpr wchar_t kFormClass[] = L"QuilloZIP.Form";

std::wstring envWide(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::wstring(v, v + std::strlen(v)) : std::wstring();
}

std::wstring folder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    return SUCCEEDED(SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, 0, path)) ? path : L"";
}

std::wstring installDir() { return folder(CSIDL_LOCAL_APPDATA) + L"\\Programs\\QuilloZIP"; }
std::wstring startMenuLink() { return folder(CSIDL_PROGRAMS) + L"\\" + kLinkName; }
std::wstring startupLink() { return folder(CSIDL_STARTUP) + L"\\" + kLinkName; }
bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The names in a folder, to compare before and after.
std::set<std::wstring> listing(const std::wstring& dir) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do names.insert(fd.cFileName);
    while (FindNextFileW(h, &fd));
    FindClose(h);
    return names;
}

std::wstring linkTarget(const std::wstring& link) {
    std::wstring target;
    IShellLinkW* shellLink = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&shellLink))))
        return target;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        wchar_t path[MAX_PATH] = {};
        if (SUCCEEDED(file->Load(link.c_str(), STGM_READ)) && SUCCEEDED(shellLink->GetPath(path, MAX_PATH, nullptr, 0)))
            target = path;
        file->Release();
    }
    shellLink->Release();
    return target;
}

bool sameFile(const std::wstring& a, const std::wstring& b) {
    wchar_t la[MAX_PATH] = {}, lb[MAX_PATH] = {};
    GetLongPathNameW(a.c_str(), la, MAX_PATH);
    GetLongPathNameW(b.c_str(), lb, MAX_PATH);
    return la[0] && lstrcmpiW(la, lb) == 0;
}

bool uninstallKeyExists() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::wstring uninstallString(const wchar_t* name) {
    wchar_t value[1024] = {};
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, kUninstallKey, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return L"";
    return value;
}

DWORD uninstallDword(const wchar_t* name) {
    DWORD value = 0, size = sizeof value;
    RegGetValueW(HKEY_CURRENT_USER, kUninstallKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

// Starts a program without waiting for it.
bool start(const std::wstring& exe) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

// Runs a command line and returns its exit code, or -1.
int run(std::wstring commandLine, int timeoutMs = 120000) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

int install(const std::wstring& options = L"") {
    std::wstring setup = envWide("QZ_INSTALLER");  // Z: and the Unix path
    std::replace(setup.begin(), setup.end(), L'/', L'\\');
    return run(L"\"" + setup + L"\" /S " + options);
}

// The uninstaller copies itself away and returns at once: wait for the
// files to go.
bool uninstall() {
    const std::wstring uninstaller = installDir() + L"\\uninstall.exe";
    if (run(L"\"" + uninstaller + L"\" /S") != 0) return false;
    return waitFor([] { return !exists(installDir()) && !uninstallKeyExists(); }, kGenerousMs);
}

HWND reminderOfRunningCopy() { return FindWindowW(kFormClass, kReminderCaption); }

// The tray icon is there when the shell accepts a change to it.
bool trayIconShown(HWND reminder) {
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof nid;
    nid.hWnd = reminder;
    nid.uID = 100;
    return Shell_NotifyIconW(NIM_MODIFY, &nid) != FALSE;
}

// A started copy: its reminder loaded and its tray icon shown.
bool waitForRunningCopy() {
    HWND reminder = nullptr;
    return waitFor([&] { return (reminder = reminderOfRunningCopy()) && trayIconShown(reminder); }, kGenerousMs);
}

// The process of a running copy, found through its reminder.
HANDLE processOfRunningCopy() {
    DWORD pid = 0;
    GetWindowThreadProcessId(reminderOfRunningCopy(), &pid);
    return pid ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, pid) : nullptr;
}

// Ends a copy the installer cannot ask to quit (it has no resident window).
void endRunningCopyByHand() {
    if (HANDLE p = processOfRunningCopy()) {
        TerminateProcess(p, 1);
        WaitForSingleObject(p, kGenerousMs);
        CloseHandle(p);
    }
}

class Installer : public ::testing::Test {
protected:
    void SetUp() override {
        if (envWide("QZ_INSTALLER").empty()) GTEST_SKIP() << "QZ_INSTALLER names no installer";
        CoInitialize(nullptr);
        endRunningCopyByHand();  // left by an earlier run that was cut short
        if (exists(installDir() + L"\\uninstall.exe")) uninstall();
        programs_ = listing(folder(CSIDL_PROGRAMS));
        startup_ = listing(folder(CSIDL_STARTUP));
    }
    void TearDown() override {
        endRunningCopyByHand();
        if (exists(installDir() + L"\\uninstall.exe")) uninstall();
        CoUninitialize();
    }

    void expectInstalled(bool autostart) {
        const std::wstring dir = installDir(), exe = dir + L"\\quillozip.exe";
        EXPECT_TRUE(exists(exe));
        EXPECT_TRUE(exists(dir + L"\\使用说明.txt"));
        EXPECT_TRUE(exists(dir + L"\\uninstall.exe"));
        EXPECT_TRUE(sameFile(linkTarget(startMenuLink()), exe)) << "Start-menu shortcut";
        if (autostart) EXPECT_TRUE(sameFile(linkTarget(startupLink()), exe)) << "Startup shortcut";
        else EXPECT_FALSE(exists(startupLink())) << "no Startup shortcut";
        EXPECT_EQ(uninstallString(L"DisplayName"), L"QuilloZIP快速解压");
        EXPECT_EQ(uninstallString(L"DisplayVersion"), envWide("QZ_VERSION"));
        EXPECT_EQ(uninstallString(L"Publisher"), L"QuilloZIP");
        EXPECT_TRUE(sameFile(uninstallString(L"DisplayIcon").substr(0, exe.size()), exe)) << "icon";
        EXPECT_NE(uninstallString(L"UninstallString").find(L"uninstall.exe"), std::wstring::npos);
        EXPECT_GT(uninstallDword(L"EstimatedSize"), 100u) << "size in KiB";
    }

    void expectNothingLeft() {
        EXPECT_FALSE(exists(installDir())) << "install folder removed";
        EXPECT_FALSE(uninstallKeyExists()) << "uninstall entry removed";
        EXPECT_EQ(listing(folder(CSIDL_PROGRAMS)), programs_) << "Start menu as before";
        EXPECT_EQ(listing(folder(CSIDL_STARTUP)), startup_) << "Startup folder as before";
        HKEY key;
        EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\QuilloZIP", 0, KEY_READ, &key), ERROR_SUCCESS)
            << "the program keeps nothing in the registry";
    }

    std::set<std::wstring> programs_, startup_;
};

}  // namespace

TEST_F(Installer, InstallsSilentlyStartsAndUninstallsCleanly) {
    ASSERT_EQ(install(), 0);
    expectInstalled(/*autostart*/ true);

    // The shortcut's target starts the program: its tray icon appears.
    ASSERT_TRUE(start(linkTarget(startMenuLink())));
    ASSERT_TRUE(waitForRunningCopy()) << "installed program runs with its tray icon";
    endRunningCopyByHand();

    ASSERT_TRUE(uninstall());
    expectNothingLeft();
}

TEST_F(Installer, UntickedAutostartMakesNoStartupShortcut) {
    ASSERT_EQ(install(L"/NOAUTOSTART"), 0);
    expectInstalled(/*autostart*/ false);
    // Installing again with autostart takes it back.
    ASSERT_EQ(install(), 0);
    expectInstalled(/*autostart*/ true);
    ASSERT_TRUE(uninstall());
    expectNothingLeft();
}

TEST_F(Installer, RunningCopyIsAskedToQuitByInstallAndUninstall) {
    ASSERT_EQ(install(), 0);
    ASSERT_TRUE(start(installDir() + L"\\quillozip.exe"));
    ASSERT_TRUE(waitForRunningCopy());
    if (!waitFor([] { return FindWindowW(kResidentWindowClass, nullptr) != nullptr; }, 5000))
        GTEST_SKIP() << "the program has no window the installer can ask to quit";

    // Over a running copy: it is ended as "退出" ends it, replaced, and the
    // silent update starts the new one again.
    HANDLE old = processOfRunningCopy();
    ASSERT_NE(old, nullptr);
    ASSERT_EQ(install(), 0);
    EXPECT_EQ(WaitForSingleObject(old, kGenerousMs), WAIT_OBJECT_0) << "old copy ended";
    DWORD code = 1;
    GetExitCodeProcess(old, &code);
    EXPECT_EQ(code, 0u) << "ended as \"退出\" does, not killed";
    CloseHandle(old);
    expectInstalled(/*autostart*/ true);
    ASSERT_TRUE(waitForRunningCopy()) << "started again after the update";

    // The uninstaller ends it the same way.
    HANDLE current = processOfRunningCopy();
    ASSERT_NE(current, nullptr);
    ASSERT_TRUE(uninstall());
    EXPECT_EQ(WaitForSingleObject(current, kGenerousMs), WAIT_OBJECT_0) << "running copy ended";
    code = 1;
    GetExitCodeProcess(current, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(current);
    expectNothingLeft();
}
