// The resident program end to end: quillozip.exe runs as a separate process
// with a test drive mapped to a folder of the build tree. The driver makes
// downloads on that drive, reads and presses the real windows through
// messages, checks the extracted tree, and ends the program from its tray menu.
#include "ProgramDriver.h"
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

constexpr int kShowTimeoutMs = 2000;  // a finished download must be reminded within this

std::wstring archivesDir() { return buildFolder("e2e/archives"); }

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

// The entry names of tools.zip as Info-ZIP's own lister printed them, in
// archive order.
std::vector<std::wstring> toolsEntryNames() {
    const std::vector<char> names = readFile(archivesDir() + L"\\tools.names");
    std::vector<std::wstring> out;
    std::istringstream lines(std::string(names.begin(), names.end()));
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) out.push_back(utf8ToWide(line));
    return out;
}

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = mappedDriveRoot(buildFolder("e2e"));
        if (!root_.empty()) started_ = program_.start();
    }

    static void TearDownTestSuite() {
        // A folder window left by a failed check would hold the run's output open.
        closeAllFolderWindows();
        program_.terminate();
    }

    void SetUp() override {
        if (!haveDisplay()) GTEST_SKIP() << "no X display: run through scripts/test.sh";
        ASSERT_FALSE(root_.empty()) << "the test drive was not mapped";
        ASSERT_TRUE(started_) << "quillozip.exe did not load its reminder";
    }

    static HWND reminder() { return program_.reminder(); }
    static HWND reminderControl(const char* name) { return program_.reminderControl(name); }
    static HWND mainWindow() { return ProgramUnderTest::mainWindow(); }
    static HWND mainControl(const char* name) { return ProgramUnderTest::mainControl(name); }
    static void hideReminder() { program_.hideReminder(); }

    // A new subfolder on the test drive, made after the watch began.
    static std::wstring newFolder(const std::wstring& name) {
        const std::wstring dir = root_ + name + L"\\";
        CreateDirectoryW(dir.c_str(), nullptr);
        return dir;
    }

    // Writes the download and waits for the reminder with that title and a verdict.
    static bool downloadAndWait(const std::wstring& path, const std::vector<char>& bytes, const std::wstring& title,
                                double* latencyMs = nullptr) {
        EXPECT_TRUE(writeDownload(path, bytes)) << wideToUtf8(path);
        const double closed = nowMs();
        const bool shown = waitFor([] { return visible(reminder()); }, kShowTimeoutMs);
        if (latencyMs) *latencyMs = std::max(0.0, nowMs() - closed);
        return shown && program_.waitForReminder(title, kShowTimeoutMs);
    }

    static std::wstring root_;
    static ProgramUnderTest program_;
    static bool started_;
};

std::wstring EndToEnd::root_;
ProgramUnderTest EndToEnd::program_;
bool EndToEnd::started_ = false;

TEST_F(EndToEnd, StartsHiddenWithTheReminderParked) {
    EXPECT_FALSE(visible(reminder()));
    RECT r;
    GetWindowRect(reminder(), &r);
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
    GetWindowRect(reminder(), &r);
    // Beside the taskbar: 10 pixels from the work area's right and bottom edges.
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(r.right, work.right - 10);
    EXPECT_EQ(r.bottom, work.bottom - 10);
    EXPECT_EQ(r.right - r.left, 300);
}

TEST_F(EndToEnd, SafeOpenListsTheArchive) {
    ASSERT_TRUE(press(reminderControl("超级按钮4")));
    ASSERT_TRUE(waitFor([] { return visible(mainWindow()); }, kGenerousMs));
    EXPECT_FALSE(visible(reminder()));
    screenshot("2-main-window");

    const std::vector<std::wstring> expected = toolsEntryNames();
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(textOf(mainControl("标签1")), L"tools");
    EXPECT_EQ(textOf(mainControl("标签2")), L"共有" + std::to_wstring(expected.size()) + L"个文件，请放心解压");
    EXPECT_EQ(listRows(mainControl("列表框1")), expected);
    EXPECT_FALSE(visible(mainControl("标签5")));
}

TEST_F(EndToEnd, ExtractsIntoAFolderNamedAfterTheArchiveTwice) {
    ASSERT_TRUE(visible(mainWindow()));
    ASSERT_TRUE(press(mainControl("超级按钮1")));
    const std::wstring destination = root_ + L"dl\\tools\\";
    EXPECT_NE(GetFileAttributesW(destination.c_str()), INVALID_FILE_ATTRIBUTES) << "当前文件夹 makes the folder at once";
    ASSERT_TRUE(press(mainControl("超级按钮4")));
    // The destination opens in the shell once the archive is out.
    EXPECT_TRUE(waitFor([] { return !shellWindows(L"tools").empty(); }, kGenerousMs));
    screenshot("3-extracted");
    EXPECT_TRUE(closeOpenedFolder(L"tools"));
    const std::wstring source = wineDir((binaryDir() + "/e2e/archives/src/tools/").c_str());
    expectSameTree(source, destination);
    // A second run writes the same tree over the first.
    ASSERT_TRUE(press(mainControl("超级按钮4")));
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

// Under Wine the last change record of a download comes with its last write,
// while the writer still holds the file, and none follows the close.
TEST_F(EndToEnd, DownloadHeldByItsWriterIsCheckedAgainOnceClosed) {
    hideReminder();
    const std::vector<char> zip = readFile(archivesDir() + L"\\tools.zip");
    const std::wstring path = newFolder(L"held") + L"held.zip";
    UniqueFile writer(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer.get(), zip.data(), static_cast<DWORD>(zip.size()), &written, nullptr));
    ASSERT_TRUE(program_.waitForReminder(L"held", kGenerousMs, L"下载完毕，检测未知"));
    writer.reset();
    EXPECT_TRUE(program_.waitForReminder(L"held", kGenerousMs, kSafeVerdict));
}

TEST_F(EndToEnd, OnlyLowerCaseZipWithoutDollarThatWasModifiedCounts) {
    hideReminder();
    const std::vector<char> zip = readFile(archivesDir() + L"\\tools.zip");
    const std::wstring dir = newFolder(L"ignored");
    EXPECT_TRUE(writeDownload(dir + L"TOOLS.ZIP", zip));
    EXPECT_TRUE(writeDownload(dir + L"a$b.zip", zip));
    // Only named .zip by a rename: no modification record for that name.
    EXPECT_TRUE(writeDownload(dir + L"renamed.tmp", zip));
    ASSERT_TRUE(MoveFileW((dir + L"renamed.tmp").c_str(), (dir + L"x.zip").c_str()));
    // Nothing may show up; a bounded look is the only way to see an absence.
    EXPECT_FALSE(waitFor([] { return visible(reminder()); }, 1500)) << wideToUtf8(textOf(reminderControl("标签3")));
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

TEST_F(EndToEnd, ExtractingBeforeChoosingUsesTheFolderNamedAfterTheArchive) {
    hideReminder();
    const std::wstring dir = newFolder(L"unchosen");
    ASSERT_TRUE(downloadAndWait(dir + L"first.zip", readFile(archivesDir() + L"\\tools.zip"), L"first"));
    ASSERT_TRUE(program_.safeOpen(static_cast<int>(toolsEntryNames().size())));
    // No destination button pressed: the archive goes next to itself, never
    // into the root of the current drive.
    ASSERT_TRUE(press(mainControl("超级按钮4")));
    EXPECT_TRUE(closeOpenedFolder(L"first"));
    const std::wstring source = buildFolder("e2e/archives/src/tools") + L"\\";
    expectSameTree(source, dir + L"first\\");
}

TEST_F(EndToEnd, TheMainWindowExtractsTheArchiveItListsUntilSafeOpenRefreshesIt) {
    // The window still lists first.zip; a newer download arrives meanwhile.
    ASSERT_EQ(textOf(mainControl("标签1")), L"first");
    const std::wstring dir = root_ + L"unchosen\\";
    ASSERT_TRUE(downloadAndWait(dir + L"second.zip", readFile(archivesDir() + L"\\tools.zip"), L"second"));
    EXPECT_EQ(textOf(mainControl("标签1")), L"first");
    // What the window lists is what it extracts, to where that archive goes.
    ASSERT_TRUE(DeleteFileW((dir + L"first\\readme.txt").c_str()));
    ASSERT_TRUE(press(mainControl("超级按钮4")));
    EXPECT_TRUE(closeOpenedFolder(L"first"));
    const std::wstring source = buildFolder("e2e/archives/src/tools") + L"\\";
    expectSameTree(source, dir + L"first\\");
    EXPECT_EQ(GetFileAttributesW((dir + L"second").c_str()), INVALID_FILE_ATTRIBUTES);

    // "安全打开" again shows the newer archive, and extracts it next to itself.
    press(reminderControl("超级按钮4"));
    ASSERT_TRUE(waitFor([] { return textOf(mainControl("标签1")) == L"second"; }, kGenerousMs));
    const size_t rows = toolsEntryNames().size();
    EXPECT_EQ(listRowCount(mainControl("列表框1")), static_cast<int>(rows));
    EXPECT_EQ(textOf(mainControl("标签2")), L"共有" + std::to_wstring(rows) + L"个文件，请放心解压");
    screenshot("7-refreshed");
    ASSERT_TRUE(press(mainControl("超级按钮4")));
    EXPECT_TRUE(closeOpenedFolder(L"second"));
    expectSameTree(source, dir + L"second\\");
    EXPECT_TRUE(program_.closeMainWindow());
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
    std::printf("figure: detection latency over %zu downloads: median %.0f ms, worst %.0f ms\n", latencies.size(), median,
                latencies.back());
    EXPECT_LE(latencies.back(), kShowTimeoutMs);
}

TEST_F(EndToEnd, ExitFromTheTrayMenuEndsWithCodeZero) {
    DWORD code = 1;
    ASSERT_TRUE(program_.exitFromTrayMenu(&code, [] { screenshot("6-tray-menu"); }));
    EXPECT_EQ(code, 0u);
}

}  // namespace
