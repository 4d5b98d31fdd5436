// The installer in its silent forms, in a Wine prefix of its own: the files
// (the program built for the prefix's Windows), both shortcuts (their
// targets resolved), the entry in the list of installed programs, Explorer's
// verbs and "打开方式" entries beside a user's own association, the installed
// program starting with its tray icon, installing over a running copy, and an
// uninstaller that ends the running copy and leaves nothing behind.
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
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuilloZIP";
constexpr wchar_t kLinkName[] = L"QuilloZIP快速解压.lnk";
constexpr wchar_t kFormClass[] = L"QuilloZIP.Form";
constexpr wchar_t kClasses[] = L"Software\\Classes";
constexpr wchar_t kProgId[] = L"QuilloZIP.Archive";
constexpr wchar_t kAppKey[] = L"Software\\Classes\\Applications\\quillozip.exe";
// The registry's keys for every archive type the program reads.
constexpr const wchar_t* kExtensions[] = {L".zip", L".7z",  L".rar", L".tar", L".tgz", L".tbz2",
                                          L".txz", L".gz",  L".bz2", L".xz",  L".zst", L".001"};
struct Verb {
    const wchar_t* key;
    const wchar_t* text;
    const wchar_t* args;
};
constexpr Verb kVerbs[] = {{L"QuilloZIP.Open", L"用QuilloZIP打开", L"\"%1\""},
                           {L"QuilloZIP.Extract", L"用QuilloZIP解压到当前文件夹", L"/extract \"%1\""}};

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

bool keyExists(const std::wstring& path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool uninstallKeyExists() { return keyExists(kUninstallKey); }

// A string value under HKEY_CURRENT_USER ("" names the default value), or
// "<none>" when it is missing.
std::wstring regString(const std::wstring& path, const wchar_t* name) {
    wchar_t value[1024] = {};
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), *name ? name : nullptr, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return L"<none>";
    return value;
}

std::wstring uninstallString(const wchar_t* name) { return regString(kUninstallKey, name); }

void setString(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), *name ? name : nullptr, REG_SZ, value.c_str(),
                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// Every key and value under HKEY_CURRENT_USER\path, as "key\\:value" -> type
// and data, to compare before and after.
using Snapshot = std::map<std::wstring, std::wstring>;
void snapshot(const std::wstring& path, Snapshot& out) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    out[path + L"\\"] = L"";
    std::vector<std::wstring> subkeys;
    wchar_t name[256];
    std::vector<BYTE> data(4096);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = 256, type = 0, size = static_cast<DWORD>(data.size());
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) break;
        out[path + L"\\:" + name] = std::to_wstring(type) + L"=" +
                                     std::wstring(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        subkeys.push_back(path + L"\\" + name);
    }
    RegCloseKey(key);
    for (const auto& subkey : subkeys) snapshot(subkey, out);
}

Snapshot classes() {
    Snapshot all;
    snapshot(kClasses, all);
    all.erase(std::wstring(kClasses) + L"\\");  // always there on Windows; a fresh Wine prefix makes it on first use
    return all;
}

// The keys and values of one snapshot that the other lacks or holds
// otherwise, one a line.
std::wstring missing(const Snapshot& from, const Snapshot& in) {
    std::wstring lines;
    for (const auto& [name, value] : from)
        if (!in.count(name) || in.at(name) != value) lines += name + L"\n";
    return lines;
}

// The machine field of a program's PE header, or 0.
WORD peMachine(const std::wstring& exe) {
    std::ifstream file(exe.c_str(), std::ios::binary);
    char header[4096] = {};
    file.read(header, sizeof header);
    DWORD peOffset = 0;
    std::memcpy(&peOffset, header + 0x3C, sizeof peOffset);
    if (peOffset > sizeof header - 6 || std::memcmp(header + peOffset, "PE\0\0", 4) != 0) return 0;
    WORD machine = 0;
    std::memcpy(&machine, header + peOffset + 4, sizeof machine);
    return machine;
}

// The machine of the programs this Windows runs natively.
WORD nativeMachine() {
    SYSTEM_INFO si{};
    GetNativeSystemInfo(&si);
    return si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ? IMAGE_FILE_MACHINE_AMD64
                                                                       : IMAGE_FILE_MACHINE_I386;
}

// "<exe>" ARGS, the exe quoted.
bool isCommand(const std::wstring& command, const std::wstring& exe, const std::wstring& args) {
    const size_t close = command.find(L'"', 1);
    return command.size() > 2 && command[0] == L'"' && close != std::wstring::npos &&
           sameFile(command.substr(1, close - 1), exe) && command.substr(close + 1) == L" " + args;
}

// <exe>,0
bool isIcon(const std::wstring& value, const std::wstring& exe) {
    return value.size() > 2 && value.substr(value.size() - 2) == L",0" &&
           sameFile(value.substr(0, value.size() - 2), exe);
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
        classes_ = classes();
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
        EXPECT_EQ(peMachine(exe), nativeMachine()) << "the build for this Windows";
        expectRegistered(exe);
    }

    // Explorer's verbs on every archive type and the "打开方式" entries, all
    // starting the installed program.
    void expectRegistered(const std::wstring& exe) {
        const Snapshot now = classes();
        EXPECT_EQ(missing(classes_, now), L"") << "every key and value there before is unchanged";
        const std::wstring progId = std::wstring(kClasses) + L"\\" + kProgId;
        EXPECT_EQ(regString(progId, L""), L"QuilloZIP压缩包");
        EXPECT_TRUE(isIcon(regString(progId + L"\\DefaultIcon", L""), exe));
        EXPECT_TRUE(isCommand(regString(progId + L"\\shell\\open\\command", L""), exe, L"\"%1\""));
        EXPECT_EQ(regString(kAppKey, L"FriendlyAppName"), L"QuilloZIP快速解压");
        EXPECT_TRUE(isCommand(regString(std::wstring(kAppKey) + L"\\shell\\open\\command", L""), exe, L"\"%1\""));
        for (const wchar_t* ext : kExtensions) {
            SCOPED_TRACE(ext);
            const std::wstring classKey = std::wstring(kClasses) + L"\\" + ext;
            EXPECT_EQ(regString(classKey + L"\\OpenWithProgids", kProgId), L"");
            EXPECT_EQ(regString(std::wstring(kAppKey) + L"\\SupportedTypes", ext), L"");
            EXPECT_EQ(now.count(classKey + L"\\:"), classes_.count(classKey + L"\\:")) << "no default program taken";
            for (const Verb& verb : kVerbs) {
                const std::wstring key =
                    std::wstring(kClasses) + L"\\SystemFileAssociations\\" + ext + L"\\shell\\" + verb.key;
                EXPECT_EQ(regString(key, L""), verb.text);
                EXPECT_TRUE(isIcon(regString(key, L"Icon"), exe)) << regString(key, L"Icon");
                EXPECT_TRUE(isCommand(regString(key + L"\\command", L""), exe, verb.args))
                    << regString(key + L"\\command", L"");
            }
        }
    }

    void expectNothingLeft() {
        EXPECT_FALSE(exists(installDir())) << "install folder removed";
        EXPECT_FALSE(uninstallKeyExists()) << "uninstall entry removed";
        EXPECT_EQ(listing(folder(CSIDL_PROGRAMS)), programs_) << "Start menu as before";
        EXPECT_EQ(listing(folder(CSIDL_STARTUP)), startup_) << "Startup folder as before";
        const Snapshot now = classes();
        EXPECT_EQ(missing(classes_, now), L"") << "changed or removed by the uninstaller";
        EXPECT_EQ(missing(now, classes_), L"") << "left behind";
        HKEY key;
        EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\QuilloZIP", 0, KEY_READ, &key), ERROR_SUCCESS)
            << "the program keeps nothing in the registry";
    }

    std::set<std::wstring> programs_, startup_;
    Snapshot classes_;
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

// A type the user has given another program keeps its default program and
// that program's "打开方式" entry through install and uninstall; the
// installer only adds its own entry beside them.
TEST_F(Installer, LeavesTheUsersOwnAssociationAlone) {
    const std::wstring zip = std::wstring(kClasses) + L"\\.zip";
    setString(zip, L"", L"OtherArchiver.zip");
    setString(zip + L"\\OpenWithProgids", L"OtherArchiver.zip", L"");
    classes_ = classes();

    ASSERT_EQ(install(L"/NOAUTOSTART"), 0);
    expectInstalled(/*autostart*/ false);  // the user's values unchanged
    EXPECT_EQ(regString(zip, L""), L"OtherArchiver.zip");
    ASSERT_TRUE(uninstall());
    expectNothingLeft();  // the user's values all still there
    RegDeleteTreeW(HKEY_CURRENT_USER, zip.c_str());
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
