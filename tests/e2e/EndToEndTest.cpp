// The resident program end to end: quillozip.exe runs as a separate process
// with a test drive mapped to a folder of the build tree. The driver makes
// downloads on that drive, reads and presses the real windows through
// messages, checks the extracted tree, and ends the program from its tray menu.
#include "UiTestSupport.h"

#include "base/TextCodec.h"
#include "base/UniqueAny.h"
#include "ui/FormTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

namespace {

constexpr wchar_t kReminderCaption[] = L"QuilloZIP快速解压提醒您";
constexpr wchar_t kMainCaption[] = L"QuilloZIP快速解压";
constexpr int kFirstControlId = 1000;  // controls are numbered by their table row
constexpr int kShowTimeoutMs = 2000;   // a finished download must be reminded within this
constexpr int kGenerousMs = 20000;

std::wstring wineDir(const char* unixPath) {
    std::wstring out = L"Z:" + utf8ToWide(unixPath);
    std::replace(out.begin(), out.end(), L'/', L'\\');
    return out;
}

std::string binaryDir() {
    const char* dir = std::getenv("QZ_BINARY_DIR");
    return dir ? dir : ".";
}

std::wstring e2eDir() { return wineDir((binaryDir() + "/e2e").c_str()); }
std::wstring archivesDir() { return e2eDir() + L"\\archives"; }

std::vector<char> readFile(const std::wstring& path) {
    UniqueFile f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             0, nullptr));
    std::vector<char> bytes;
    if (!f) return bytes;
    LARGE_INTEGER size{};
    GetFileSizeEx(f.get(), &size);
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    if (!bytes.empty() && (!ReadFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
                           got != bytes.size()))
        bytes.clear();
    return bytes;
}

// The test drive's letter, as the fixture mapped it.
std::wstring driveRoot() {
    std::vector<char> letter = readFile(e2eDir() + L"\\watch-drive\\letter");
    if (letter.empty()) return {};
    return std::wstring(1, static_cast<wchar_t>(towupper(letter[0]))) + L":\\";
}

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
        if (done()) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(2);
    }
}

double nowMs() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return 1000.0 * static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

HWND control(HWND form, FormId id, const char* name) {
    const auto controls = formTable(id).controls;
    for (size_t i = 0; i < controls.size(); ++i)
        if (std::strcmp(controls[i].name, name) == 0) return GetDlgItem(form, kFirstControlId + static_cast<int>(i));
    return nullptr;
}

std::wstring textOf(HWND hwnd) {
    wchar_t buffer[512] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                        5000, &copied);
    return buffer;
}

bool visible(HWND hwnd) { return hwnd && IsWindowVisible(hwnd); }

// Presses a button as a click would; returns when the program has handled it.
void press(HWND button) {
    ASSERT_NE(button, nullptr);
    DWORD_PTR result = 0;
    ASSERT_TRUE(SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, 60000, &result));
}

std::vector<std::wstring> listRows(HWND list) {
    std::vector<std::wstring> rows;
    const auto count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        std::wstring row(static_cast<size_t>(SendMessageW(list, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
        SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(row.data()));
        row.resize(wcslen(row.c_str()));
        rows.push_back(row);
    }
    return rows;
}

// Asks the screen grabber running beside the driver for a picture of the
// display; without a grabber (the driver started by hand) Wine's own capture
// has to do.
void screenshot(const std::string& name) {
    const std::wstring request = wineDir((binaryDir() + "/artifacts/e2e-" + name + ".request").c_str());
    UniqueFile(CreateFileW(request.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const bool grabbed =
        waitFor([&] { return GetFileAttributesW(request.c_str()) == INVALID_FILE_ATTRIBUTES; }, 10000);
    if (grabbed) return;
    DeleteFileW(request.c_str());
    RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    saveArtifact(captureScreen(screen), "e2e-" + name);
}

// The shell's folder windows showing a folder of this name (Wine's explorer
// or the Windows shell).
std::vector<HWND> shellWindows(const std::wstring& folderName) {
    std::vector<HWND> found;
    for (const wchar_t* cls : {L"ExplorerWClass", L"CabinetWClass"})
        for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, cls, folderName.c_str())) != nullptr;)
            found.push_back(w);
    return found;
}

// Waits for the folder window the program opened after an extraction and
// closes it, so that no shell process outlives the run.
bool closeOpenedFolder(const std::wstring& folderName) {
    if (!waitFor([&] { return !shellWindows(folderName).empty(); }, kGenerousMs)) return false;
    for (HWND w : shellWindows(folderName)) PostMessageW(w, WM_CLOSE, 0, 0);
    return waitFor([&] { return shellWindows(folderName).empty(); }, kGenerousMs);
}

// Writes a file as a download would: a new file, its bytes, closed.
// Returns the time it was closed.
double writeDownload(const std::wstring& path, const std::vector<char>& bytes) {
    UniqueFile f(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(f) << wideToUtf8(path);
    DWORD written = 0;
    WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    EXPECT_EQ(written, bytes.size());
    f.reset();
    return nowMs();
}

// The files below a folder, relative names with "\", with their bytes and
// modification times.
struct TreeFile {
    std::vector<char> bytes;
    FILETIME modified{};
};
void collectTree(const std::wstring& root, const std::wstring& relative, std::map<std::wstring, TreeFile>& out) {
    WIN32_FIND_DATAW found;
    UniqueFind find(FindFirstFileW((root + relative + L"*").c_str(), &found));
    if (!find) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out[relative + name + L"\\"] = {};
            collectTree(root, relative + name + L"\\", out);
        } else {
            out[relative + name] = {readFile(root + relative + name), found.ftLastWriteTime};
        }
    } while (FindNextFileW(find.get(), &found));
}

int64_t seconds(const FILETIME& t) {
    return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000000ULL);
}

void expectSameTree(const std::wstring& expected, const std::wstring& actual) {
    std::map<std::wstring, TreeFile> want, got;
    collectTree(expected, L"", want);
    collectTree(actual, L"", got);
    ASSERT_FALSE(want.empty());
    std::vector<std::wstring> wantNames, gotNames;
    for (auto& [name, file] : want) wantNames.push_back(name);
    for (auto& [name, file] : got) gotNames.push_back(name);
    ASSERT_EQ(gotNames, wantNames);
    for (auto& [name, file] : want) {
        if (name.back() == L'\\') continue;
        const TreeFile& g = got[name];
        EXPECT_TRUE(g.bytes == file.bytes) << wideToUtf8(name);
        EXPECT_EQ(seconds(g.modified), seconds(file.modified)) << wideToUtf8(name);
    }
}

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = driveRoot();
        if (root_.empty()) return;
        const std::wstring exe = wineDir((binaryDir() + "/bin/quillozip.exe").c_str());
        STARTUPINFOW si{};
        si.cb = sizeof si;
        std::wstring commandLine = L"\"" + exe + L"\"";
        if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &process_))
            return;
        waitFor([] { return (reminder_ = FindWindowW(nullptr, kReminderCaption)) != nullptr; }, kGenerousMs);
        // Idle means start-up is over: the watchers run and the loop waits.
        WaitForInputIdle(process_.hProcess, kGenerousMs);
    }

    static void TearDownTestSuite() {
        // A folder window left by a failed check would hold the run's output open.
        for (const wchar_t* cls : {L"ExplorerWClass", L"CabinetWClass"})
            for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, cls, nullptr)) != nullptr;)
                PostMessageW(w, WM_CLOSE, 0, 0);
        if (process_.hProcess) {
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process_.hProcess, 99);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
    }

    void SetUp() override {
        if (!haveDisplay()) GTEST_SKIP() << "no X display: run through scripts/test.sh";
        ASSERT_FALSE(root_.empty()) << "the test drive was not mapped";
        ASSERT_NE(reminder_, nullptr) << "quillozip.exe did not load its reminder";
    }

    static HWND reminderControl(const char* name) { return control(reminder_, FormId::Reminder, name); }
    static HWND mainWindow() { return FindWindowW(nullptr, kMainCaption); }
    static HWND mainControl(const char* name) { return control(mainWindow(), FormId::Main, name); }

    // Hides the reminder without touching the program's state, so the next
    // download's reminder can be seen appearing.
    static void hideReminder() {
        ShowWindow(reminder_, SW_HIDE);
        waitFor([] { return !visible(reminder_); }, kGenerousMs);
    }

    // A new subfolder on the test drive, made after the watch began.
    static std::wstring newFolder(const std::wstring& name) {
        const std::wstring dir = root_ + name + L"\\";
        CreateDirectoryW(dir.c_str(), nullptr);
        return dir;
    }

    // Writes the download and waits for the reminder with that title and a verdict.
    static bool downloadAndWait(const std::wstring& path, const std::vector<char>& bytes, const std::wstring& title,
                                double* latencyMs = nullptr) {
        const double closed = writeDownload(path, bytes);
        const bool shown = waitFor([] { return visible(reminder_); }, kShowTimeoutMs);
        const double seen = nowMs();
        if (latencyMs) *latencyMs = std::max(0.0, seen - closed);
        return shown && waitFor(
                            [&] {
                                return textOf(reminderControl("标签3")) == title &&
                                       !textOf(reminderControl("标签2")).empty();
                            },
                            kGenerousMs);
    }

    static std::wstring root_;
    static PROCESS_INFORMATION process_;
    static HWND reminder_;
};

std::wstring EndToEnd::root_;
PROCESS_INFORMATION EndToEnd::process_{};
HWND EndToEnd::reminder_ = nullptr;

TEST_F(EndToEnd, StartsHiddenWithTheReminderParked) {
    EXPECT_FALSE(visible(reminder_));
    RECT r;
    GetWindowRect(reminder_, &r);
    EXPECT_EQ(r.right - r.left, 300);
    EXPECT_EQ(r.bottom - r.top, 117);
}

TEST_F(EndToEnd, FinishedDownloadShowsTheReminderWithItsVerdict) {
    const std::wstring dir = newFolder(L"dl");
    ASSERT_TRUE(downloadAndWait(dir + L"tools.zip", readFile(archivesDir() + L"\\tools.zip"), L"tools"));
    waitFor([] { return textOf(reminderControl("标签2")) == L"下载完毕，压缩包安全"; }, kGenerousMs);
    screenshot("1-reminder");
    EXPECT_EQ(textOf(reminderControl("标签2")), L"下载完毕，压缩包安全");
    EXPECT_FALSE(visible(reminderControl("标签4")));
    RECT r;
    GetWindowRect(reminder_, &r);
    EXPECT_EQ(r.left, GetSystemMetrics(SM_CXSCREEN) - 300 - 10);
    EXPECT_EQ(r.top, GetSystemMetrics(SM_CYSCREEN) - 117 - 50);
}

TEST_F(EndToEnd, SafeOpenListsTheArchive) {
    press(reminderControl("超级按钮4"));
    ASSERT_TRUE(waitFor([] { return visible(mainWindow()); }, kGenerousMs));
    EXPECT_FALSE(visible(reminder_));
    screenshot("2-main-window");

    // The entry names as Info-ZIP's own lister printed them, in archive order.
    std::vector<char> names = readFile(archivesDir() + L"\\tools.names");
    std::vector<std::wstring> expected;
    std::istringstream lines(std::string(names.begin(), names.end()));
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) expected.push_back(utf8ToWide(line));
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(textOf(mainControl("标签1")), L"tools");
    EXPECT_EQ(textOf(mainControl("标签2")), L"共有" + std::to_wstring(expected.size()) + L"个文件，请放心解压");
    EXPECT_EQ(listRows(mainControl("列表框1")), expected);
    EXPECT_FALSE(visible(mainControl("标签5")));
}

TEST_F(EndToEnd, ExtractsIntoAFolderNamedAfterTheArchiveTwice) {
    ASSERT_TRUE(visible(mainWindow()));
    press(mainControl("超级按钮1"));
    const std::wstring destination = root_ + L"dl\\tools\\";
    EXPECT_NE(GetFileAttributesW(destination.c_str()), INVALID_FILE_ATTRIBUTES) << "当前文件夹 makes the folder at once";
    press(mainControl("超级按钮4"));
    // The destination opens in the shell once the archive is out.
    EXPECT_TRUE(waitFor([] { return !shellWindows(L"tools").empty(); }, kGenerousMs));
    screenshot("3-extracted");
    EXPECT_TRUE(closeOpenedFolder(L"tools"));
    const std::wstring source = wineDir((binaryDir() + "/e2e/archives/src/tools/").c_str());
    expectSameTree(source, destination);
    // A second run writes the same tree over the first.
    press(mainControl("超级按钮4"));
    expectSameTree(source, destination);
    EXPECT_TRUE(closeOpenedFolder(L"tools"));
    SendMessageW(mainWindow(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(waitFor([] { return !IsWindow(mainWindow()); }, kGenerousMs));
}

TEST_F(EndToEnd, TruncatedDownloadIsReportedAsUnknown) {
    hideReminder();
    const std::wstring dir = newFolder(L"broken");
    ASSERT_TRUE(downloadAndWait(dir + L"half.zip", readFile(archivesDir() + L"\\truncated.zip"), L"half"));
    EXPECT_TRUE(waitFor([] { return textOf(reminderControl("标签2")) == L"下载完毕，检测未知"; }, kGenerousMs));
    screenshot("4-unknown");
}

TEST_F(EndToEnd, OnlyLowerCaseZipWithoutDollarThatWasModifiedCounts) {
    hideReminder();
    const std::vector<char> zip = readFile(archivesDir() + L"\\tools.zip");
    const std::wstring dir = newFolder(L"ignored");
    writeDownload(dir + L"TOOLS.ZIP", zip);
    writeDownload(dir + L"a$b.zip", zip);
    // Only named .zip by a rename: no modification record for that name.
    writeDownload(dir + L"renamed.tmp", zip);
    ASSERT_TRUE(MoveFileW((dir + L"renamed.tmp").c_str(), (dir + L"x.zip").c_str()));
    // Nothing may show up; a bounded look is the only way to see an absence.
    EXPECT_FALSE(waitFor([] { return visible(reminder_); }, 1500)) << wideToUtf8(textOf(reminderControl("标签3")));
    // The watch goes on: the next real download is reminded.
    EXPECT_TRUE(downloadAndWait(dir + L"after.zip", zip, L"after"));
}

TEST_F(EndToEnd, LongTitlesGetTheMarker) {
    const std::vector<char> zip = readFile(archivesDir() + L"\\tools.zip");
    const std::wstring dir = newFolder(L"titles");
    ASSERT_TRUE(downloadAndWait(dir + L"abcdefghijklmnopq.zip", zip, L"abcdefghijklmnopq"));
    EXPECT_TRUE(visible(reminderControl("标签4")));
    screenshot("5-long-title");
    ASSERT_TRUE(downloadAndWait(dir + L"abcdefghijklmnop.zip", zip, L"abcdefghijklmnop"));
    EXPECT_FALSE(visible(reminderControl("标签4")));
    // Nine Chinese characters are 18 bytes in code page 936.
    ASSERT_TRUE(downloadAndWait(dir + L"九个汉字的压缩包名称.zip", zip, L"九个汉字的压缩包名称"));
    EXPECT_TRUE(visible(reminderControl("标签4")));
}

TEST_F(EndToEnd, DetectionLatency) {
    const std::vector<char> zip = readFile(archivesDir() + L"\\tools.zip");
    const std::wstring dir = newFolder(L"latency");
    std::vector<double> latencies;
    for (int i = 0; i < 20; ++i) {
        hideReminder();
        double ms = 0;
        const std::wstring title = L"dl" + std::to_wstring(i);
        ASSERT_TRUE(downloadAndWait(dir + title + L".zip", zip, title, &ms)) << i;
        latencies.push_back(ms);
    }
    std::sort(latencies.begin(), latencies.end());
    const double median = (latencies[9] + latencies[10]) / 2;
    std::printf("detection latency over %zu downloads: median %.0f ms, worst %.0f ms\n", latencies.size(), median,
                latencies.back());
    EXPECT_LE(latencies.back(), kShowTimeoutMs);
}

TEST_F(EndToEnd, ExitFromTheTrayMenuEndsWithCodeZero) {
    // A left click on the tray icon opens the menu with its one item.
    PostMessageW(reminder_, WM_APP + 0x64, 100, WM_LBUTTONUP);
    HWND menu = nullptr;
    ASSERT_TRUE(waitFor([&] { return (menu = FindWindowW(L"#32768", nullptr)) && IsWindowVisible(menu); }, kGenerousMs));
    screenshot("6-tray-menu");
    PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_EQ(WaitForSingleObject(process_.hProcess, kGenerousMs), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(process_.hProcess, &code);
    EXPECT_EQ(code, 0u);
}

}  // namespace
