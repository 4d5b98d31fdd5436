// The resident program end to end: quillozip.exe runs as a separate process
// with a test drive mapped to a folder of the build tree. The driver makes
// downloads on that drive, reads and presses the real windows through
// messages, checks the extracted tree, and ends the program from its tray menu.
#include "ProgramDriver.h"
#include "UiTestSupport.h"

#include "app/OpenRequest.h"
#include "base/TextCodec.h"
#include "base/UniqueAny.h"
#include "ui/FormTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <vector>

namespace {

constexpr int kShowTimeoutMs = 2000;  // a finished download must be reminded within this
// A title beyond code page 936: an emoji and Hangul.
constexpr wchar_t kWideTitle[] = L"资料😀한국어";

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

class EndToEnd : public ProgramSuite<EndToEnd> {
public:
    static constexpr const char* kStateDir = "e2e";
    static void prepareDrive() {
        // An archive that was there before the program started: never reminded.
        CreateDirectoryW((root_ + L"old").c_str(), nullptr);
        writeDownload(oldZip(), readFile(archivesDir() + L"\\tools.zip"));
        // Archives the user opens from outside, there before the start as well.
        for (const wchar_t* name : {kWideTitle, L"explorer"})
            writeDownload(root_ + L"old\\" + name + L".zip", readFile(archivesDir() + L"\\tools.zip"));
        // The second test drive is taken off the drive list until the program runs.
        const std::vector<char> late = readFile(buildFolder("e2e/late") + L"\\watch-drive\\letter");
        if (!late.empty()) {
            lateDevice_ = {static_cast<wchar_t>(towupper(late[0])), L':'};
            if (GetLogicalDrives() & driveBit(lateDevice_[0]))
                DefineDosDeviceW(DDD_REMOVE_DEFINITION, lateDevice_.c_str(), nullptr);
        }
    }

protected:
    static DWORD driveBit(wchar_t letter) { return 1u << (letter - L'A'); }
    static std::wstring oldZip() { return root_ + L"old\\old.zip"; }
    static void hideReminder() { program_.hideReminder(); }

    // A new subfolder on the test drive, made after the watch began.
    static std::wstring newFolder(const std::wstring& name) {
        const std::wstring dir = root_ + name + L"\\";
        CreateDirectoryW(dir.c_str(), nullptr);
        return dir;
    }

    // Closes the reminder of the last download (downloads are reminded one
    // after another), writes the download and waits for the reminder with
    // that title and a verdict.
    static bool downloadAndWait(const std::wstring& path, const std::vector<char>& bytes, const std::wstring& title,
                                double* latencyMs = nullptr) {
        hideReminder();
        EXPECT_TRUE(writeDownload(path, bytes)) << wideToUtf8(path);
        const double closed = nowMs();
        const bool shown = waitFor([] { return visible(reminder()); }, kShowTimeoutMs);
        if (latencyMs) *latencyMs = std::max(0.0, nowMs() - closed);
        return shown && program_.waitForReminder(title, kShowTimeoutMs);
    }

    // Plays a download's file operations and checks that they bring up the
    // reminder exactly once, with this title and the safe verdict, also when
    // `afterwards` (the zone mark, an attribute change, a read) follows.
    static void expectOneReminder(const std::wstring& title, const std::function<void()>& sequence,
                                  const std::function<void()>& afterwards) {
        hideReminder();
        sequence();
        ASSERT_TRUE(program_.waitForReminder(title, kShowTimeoutMs, kSafeVerdict)) << wideToUtf8(title);
        hideReminder();
        afterwards();
        EXPECT_FALSE(waitFor([] { return visible(reminder()); }, kQuietMs))
            << "reminded again: " << wideToUtf8(textOf(reminderControl(ReminderControl::kTitle.name)));
    }
    static void expectNoReminder(const char* what, const std::function<void()>& sequence) {
        hideReminder();
        sequence();
        EXPECT_FALSE(waitFor([] { return visible(reminder()); }, kQuietMs))
            << what << ": " << wideToUtf8(textOf(reminderControl(ReminderControl::kTitle.name)));
    }
    // What follows a browser's download: the zone mark (an alternate stream
    // where the file system has them), permissions and attributes, a look
    // from a virus scanner or a preview.
    static void touchAfterwards(const std::wstring& path) {
        writeDownload(path + L":Zone.Identifier", std::vector<char>{'Z', 'o', 'n', 'e', 'I', 'd', '=', '3'});
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        readFile(path);
    }
    static std::vector<char> toolsZip() { return readFile(archivesDir() + L"\\tools.zip"); }

    static constexpr int kQuietMs = 1500;  // a bounded look is the only way to see an absence
    static inline std::wstring lateDevice_;  // "N:", the drive listed only after start
};

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
    waitFor([] { return textOf(reminderControl(ReminderControl::kStatus.name)) == L"下载完毕，压缩包安全"; }, kGenerousMs);
    screenshot("1-reminder");
    EXPECT_EQ(textOf(reminderControl(ReminderControl::kStatus.name)), L"下载完毕，压缩包安全");
    EXPECT_FALSE(visible(reminderControl(ReminderControl::kTitleMarker.name)));
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
    ASSERT_TRUE(press(reminderControl(ReminderControl::kSafeOpen.name)));
    ASSERT_TRUE(waitFor([] { return visible(mainWindow()); }, kGenerousMs));
    EXPECT_FALSE(visible(reminder()));
    screenshot("2-main-window");

    const std::vector<std::wstring> expected = toolsEntryNames();
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(textOf(mainControl(MainControl::kTitle.name)), L"tools");
    EXPECT_EQ(textOf(mainControl(MainControl::kCountLine.name)), L"共有" + std::to_wstring(expected.size()) + L"个文件，请放心解压");
    EXPECT_EQ(listRows(mainControl(MainControl::kEntryList.name)), expected);
    EXPECT_FALSE(visible(mainControl(MainControl::kTitleMarker.name)));
}

TEST_F(EndToEnd, ExtractsIntoAFolderNamedAfterTheArchiveTwice) {
    ASSERT_TRUE(visible(mainWindow()));
    ASSERT_TRUE(press(mainControl(MainControl::kArchiveFolder.name)));
    const std::wstring destination = root_ + L"dl\\tools\\";
    EXPECT_NE(GetFileAttributesW(destination.c_str()), INVALID_FILE_ATTRIBUTES) << "当前文件夹 makes the folder at once";
    ASSERT_TRUE(press(mainControl(MainControl::kExtract.name)));
    // The destination opens in the shell once the archive is out.
    EXPECT_TRUE(waitFor([] { return !shellWindows(L"tools").empty(); }, kGenerousMs));
    screenshot("3-extracted");
    EXPECT_TRUE(closeOpenedFolder(L"tools"));
    const std::wstring source = wineDir((binaryDir() + "/e2e/archives/src/tools/").c_str());
    expectSameTree(source, destination);
    // A second run writes the same tree over the first.
    ASSERT_TRUE(press(mainControl(MainControl::kExtract.name)));
    EXPECT_TRUE(closeOpenedFolder(L"tools"));
    expectSameTree(source, destination);
    SendMessageW(mainWindow(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(waitFor([] { return !IsWindow(mainWindow()); }, kGenerousMs));
}

TEST_F(EndToEnd, TruncatedDownloadIsReportedAsUnknown) {
    hideReminder();
    const std::wstring dir = newFolder(L"broken");
    ASSERT_TRUE(downloadAndWait(dir + L"half.zip", readFile(archivesDir() + L"\\truncated.zip"), L"half"));
    EXPECT_TRUE(waitFor([] { return textOf(reminderControl(ReminderControl::kStatus.name)) == L"下载完毕，检测未知"; }, kGenerousMs));
    screenshot("4-unknown");
}

TEST_F(EndToEnd, PartialFilesRenamedWhenCompleteAreRemindedOnce) {
    const std::wstring dir = newFolder(L"renamed");
    // Chrome and Edge (also under a temporary name), Thunder, Baidu Netdisk.
    const std::vector<std::pair<std::wstring, std::wstring>> tools = {
        {L"chrome.zip.crdownload", L"chrome"},
        {L"Unconfirmed 123456.crdownload", L"checked"},
        {L"thunder.zip.xltd", L"thunder"},
        {L"baidu.zip.baiduyun.downloading", L"baidu"},
    };
    for (const auto& [partial, title] : tools) {
        const std::wstring zip = dir + title + L".zip";
        expectOneReminder(
            title,
            [&] {
                ASSERT_TRUE(writeDownload(dir + partial, toolsZip()));
                ASSERT_TRUE(MoveFileW((dir + partial).c_str(), zip.c_str()));
            },
            [&] { touchAfterwards(zip); });
    }
}

TEST_F(EndToEnd, FirefoxPlaceholderAndMoveOverAreRemindedOnce) {
    const std::wstring dir = newFolder(L"firefox");
    const std::wstring zip = dir + L"fx.zip", part = dir + L"fx.Xy3kP.zip.part";
    expectOneReminder(
        L"fx",
        [&] {
            // The empty placeholder comes first and is no download.
            ASSERT_TRUE(writeDownload(zip, {}));
            EXPECT_FALSE(waitFor([] { return visible(reminder()); }, 500)) << "the empty placeholder was judged";
            ASSERT_TRUE(writeDownload(part, toolsZip()));
            ASSERT_TRUE(MoveFileExW(part.c_str(), zip.c_str(), MOVEFILE_REPLACE_EXISTING));
        },
        [&] { touchAfterwards(zip); });
}

TEST_F(EndToEnd, InPlaceWriterIsRemindedOnceItClosesTheFile) {
    const std::vector<char> zip = toolsZip();
    const std::wstring path = newFolder(L"held") + L"held.zip";
    expectOneReminder(
        L"held",
        [&] {
            UniqueFile writer(
                CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            ASSERT_TRUE(writer);
            const DWORD half = static_cast<DWORD>(zip.size() / 2);
            DWORD written = 0;
            ASSERT_TRUE(WriteFile(writer.get(), zip.data(), half, &written, nullptr));
            EXPECT_FALSE(waitFor([] { return visible(reminder()); }, 700)) << "reminded while still being written";
            ASSERT_TRUE(WriteFile(writer.get(), zip.data() + half, static_cast<DWORD>(zip.size()) - half, &written,
                                  nullptr));
            EXPECT_FALSE(waitFor([] { return visible(reminder()); }, 700)) << "reminded while still held";
            writer.reset();
        },
        [&] { touchAfterwards(path); });
}

TEST_F(EndToEnd, ReadingAnOldZipChangingItsAttributesAndRenamingItRemindNothing) {
    const std::wstring old = oldZip();
    ASSERT_FALSE(readFile(old).empty());
    expectNoReminder("read", [&] { readFile(old); });
    expectNoReminder("attributes", [&] {
        SetFileAttributesW(old.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
        SetFileAttributesW(old.c_str(), FILE_ATTRIBUTE_NORMAL);
    });
    expectNoReminder("renamed a.zip to b.zip", [&] {
        ASSERT_TRUE(MoveFileW(old.c_str(), (root_ + L"old\\renamed.zip").c_str()));
        ASSERT_TRUE(MoveFileW((root_ + L"old\\renamed.zip").c_str(), old.c_str()));
    });
    const std::wstring dir = newFolder(L"ignored");
    expectNoReminder("no archive ending, or with $", [&] {
        EXPECT_TRUE(writeDownload(dir + L"tools.zipx", toolsZip()));
        EXPECT_TRUE(writeDownload(dir + L"a$b.zip", toolsZip()));
        EXPECT_TRUE(writeDownload(dir + L"empty.zip", {}));
    });
    // The watch goes on: the next real download is reminded, whatever the
    // case of its ending (Windows names have none).
    EXPECT_TRUE(downloadAndWait(dir + L"after.zip", toolsZip(), L"after"));
    hideReminder();
    EXPECT_TRUE(downloadAndWait(dir + L"REPORT.ZIP", toolsZip(), L"REPORT"));
}

TEST_F(EndToEnd, TheCloseBoxHidesTheReminderAndWatchingGoesOn) {
    hideReminder();
    const std::wstring dir = newFolder(L"closebox");
    ASSERT_TRUE(downloadAndWait(dir + L"one.zip", toolsZip(), L"one"));
    PostMessageW(reminder(), WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(waitFor([] { return !visible(reminder()); }, kGenerousMs));
    EXPECT_TRUE(IsWindow(reminder()));
    EXPECT_TRUE(program_.running());
    EXPECT_TRUE(downloadAndWait(dir + L"two.zip", toolsZip(), L"two"));
}

BOOL CALLBACK countReminders(HWND hwnd, LPARAM count) {
    if (textOf(hwnd) == kReminderCaption) ++*reinterpret_cast<int*>(count);
    return TRUE;
}

TEST_F(EndToEnd, ASecondStartEndsAtOnceAndLeavesTheFirstRunning) {
    DWORD code = 99;
    ASSERT_TRUE(ProgramUnderTest::runAnotherCopy(&code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(program_.running());
    int reminders = 0;
    EnumWindows(countReminders, reinterpret_cast<LPARAM>(&reminders));
    EXPECT_EQ(reminders, 1);
}

TEST_F(EndToEnd, ADriveMappedAfterStartIsWatched) {
    ASSERT_FALSE(lateDevice_.empty()) << "the second test drive was not mapped";
    ASSERT_FALSE(GetLogicalDrives() & driveBit(lateDevice_[0]));
    const std::wstring target = buildFolder("e2e/late") + L"\\watch-drive\\root";
    hideReminder();
    ASSERT_TRUE(DefineDosDeviceW(0, lateDevice_.c_str(), target.c_str()));
    const double mapped = nowMs();
    // A download every half second until one is reminded: the first ones may
    // come before the watch has begun.
    bool shown = false;
    for (int i = 0; !shown && nowMs() - mapped < 10000; ++i) {
        ASSERT_TRUE(writeDownload(lateDevice_ + L"\\late" + std::to_wstring(i) + L".zip", toolsZip()));
        shown = waitFor([] { return visible(reminder()); }, 500);
    }
    const double watchedAfter = nowMs() - mapped;
    EXPECT_TRUE(shown);
    EXPECT_EQ(textOf(reminderControl(ReminderControl::kTitle.name)).rfind(L"late", 0), 0u);
    EXPECT_LE(watchedAfter, 6000) << "watched within 5 s";
    std::printf("figure: drive listed after start: a download on it reminded after %.0f ms\n", watchedAfter);
    // The drive goes off the list again: its watcher is let go without a fault.
    DefineDosDeviceW(DDD_REMOVE_DEFINITION, lateDevice_.c_str(), nullptr);
    EXPECT_FALSE(GetLogicalDrives() & driveBit(lateDevice_[0]));
    hideReminder();
    EXPECT_TRUE(downloadAndWait(root_ + L"closebox\\three.zip", toolsZip(), L"three"));
    EXPECT_TRUE(program_.running());
}

TEST_F(EndToEnd, LongTitlesGetTheMarker) {
    const std::vector<char> zip = readFile(archivesDir() + L"\\tools.zip");
    const std::wstring dir = newFolder(L"titles");
    ASSERT_TRUE(downloadAndWait(dir + L"abcdefghijklmnopq.zip", zip, L"abcdefghijklmnopq"));
    EXPECT_TRUE(visible(reminderControl(ReminderControl::kTitleMarker.name)));
    screenshot("5-long-title");
    ASSERT_TRUE(downloadAndWait(dir + L"abcdefghijklmnop.zip", zip, L"abcdefghijklmnop"));
    EXPECT_FALSE(visible(reminderControl(ReminderControl::kTitleMarker.name)));
    // Nine Chinese characters are 18 bytes in code page 936.
    ASSERT_TRUE(downloadAndWait(dir + L"九个汉字的压缩包名称.zip", zip, L"九个汉字的压缩包名称"));
    EXPECT_TRUE(visible(reminderControl(ReminderControl::kTitleMarker.name)));
    // Characters beyond the code page count as wide as Chinese ones: eight
    // emoji fit, one letter more does not.
    ASSERT_TRUE(downloadAndWait(dir + L"😀😀😀😀😀😀😀😀.zip", zip, L"😀😀😀😀😀😀😀😀"));
    EXPECT_FALSE(visible(reminderControl(ReminderControl::kTitleMarker.name)));
    ASSERT_TRUE(downloadAndWait(dir + L"😀😀😀😀😀😀😀😀a.zip", zip, L"😀😀😀😀😀😀😀😀a"));
    EXPECT_TRUE(visible(reminderControl(ReminderControl::kTitleMarker.name)));
}

TEST_F(EndToEnd, ExtractingBeforeChoosingUsesTheFolderNamedAfterTheArchive) {
    hideReminder();
    const std::wstring dir = newFolder(L"unchosen");
    ASSERT_TRUE(downloadAndWait(dir + L"first.zip", readFile(archivesDir() + L"\\tools.zip"), L"first"));
    ASSERT_TRUE(program_.safeOpen(static_cast<int>(toolsEntryNames().size())));
    // No destination button pressed: the archive goes next to itself, never
    // into the root of the current drive.
    ASSERT_TRUE(press(mainControl(MainControl::kExtract.name)));
    EXPECT_TRUE(closeOpenedFolder(L"first"));
    const std::wstring source = buildFolder("e2e/archives/src/tools") + L"\\";
    expectSameTree(source, dir + L"first\\");
}

TEST_F(EndToEnd, TheMainWindowExtractsTheArchiveItListsWhileANewerDownloadWaits) {
    // The window still lists first.zip; a newer download finishes meanwhile
    // and waits until the window closes.
    ASSERT_EQ(textOf(mainControl(MainControl::kTitle.name)), L"first");
    const std::wstring dir = root_ + L"unchosen\\";
    ASSERT_TRUE(writeDownload(dir + L"second.zip", toolsZip()));
    EXPECT_FALSE(waitFor([] { return visible(reminder()); }, kQuietMs)) << "reminded over the main window";
    EXPECT_EQ(textOf(mainControl(MainControl::kTitle.name)), L"first");
    // What the window lists is what it extracts, to where that archive goes.
    ASSERT_TRUE(DeleteFileW((dir + L"first\\readme.txt").c_str()));
    ASSERT_TRUE(press(mainControl(MainControl::kExtract.name)));
    EXPECT_TRUE(closeOpenedFolder(L"first"));
    const std::wstring source = buildFolder("e2e/archives/src/tools") + L"\\";
    expectSameTree(source, dir + L"first\\");
    EXPECT_EQ(GetFileAttributesW((dir + L"second").c_str()), INVALID_FILE_ATTRIBUTES);

    // Closing the window reminds of the newer archive; "安全打开" lists it,
    // and it extracts next to itself.
    ASSERT_TRUE(program_.closeMainWindow());
    ASSERT_TRUE(program_.waitForReminder(L"second", kShowTimeoutMs, kSafeVerdict));
    const size_t rows = toolsEntryNames().size();
    ASSERT_TRUE(program_.safeOpen(static_cast<int>(rows)));
    EXPECT_EQ(textOf(mainControl(MainControl::kTitle.name)), L"second");
    EXPECT_EQ(textOf(mainControl(MainControl::kCountLine.name)), L"共有" + std::to_wstring(rows) + L"个文件，请放心解压");
    screenshot("7-refreshed");
    ASSERT_TRUE(press(mainControl(MainControl::kExtract.name)));
    EXPECT_TRUE(closeOpenedFolder(L"second"));
    expectSameTree(source, dir + L"second\\");
    EXPECT_TRUE(program_.closeMainWindow());
}

TEST_F(EndToEnd, TheListedDownloadCanBeRenamedAndDeletedWhileItIsOpen) {
    hideReminder();
    const std::wstring dir = newFolder(L"unlocked");
    ASSERT_TRUE(downloadAndWait(dir + L"gone.zip", toolsZip(), L"gone"));
    ASSERT_TRUE(program_.safeOpen(static_cast<int>(toolsEntryNames().size())));
    ASSERT_TRUE(press(mainControl(MainControl::kArchiveFolder.name)));  // made before the archive goes
    ASSERT_TRUE(MoveFileW((dir + L"gone.zip").c_str(), (dir + L"moved.zip").c_str())) << GetLastError();
    ASSERT_TRUE(DeleteFileW((dir + L"moved.zip").c_str())) << GetLastError();
    // Extraction goes on from the open archive.
    ASSERT_TRUE(press(mainControl(MainControl::kExtract.name)));
    EXPECT_TRUE(closeOpenedFolder(L"gone"));
    EXPECT_TRUE(program_.running());
    expectSameTree(buildFolder("e2e/archives/src/tools") + L"\\", dir + L"gone\\");
    EXPECT_TRUE(program_.closeMainWindow());
}

TEST_F(EndToEnd, DetectionLatency) {
    const std::vector<char> zip = readFile(archivesDir() + L"\\tools.zip");
    const std::wstring dir = newFolder(L"latency");
    // From the writer's close, or from the rename of a partial file, to the reminder.
    std::vector<double> written, renamed;
    for (int i = 0; i < 20; ++i) {
        hideReminder();
        const std::wstring title = L"dl" + std::to_wstring(i), path = dir + title + L".zip";
        const bool rename = i % 2 == 1;
        ASSERT_TRUE(writeDownload(rename ? path + L".crdownload" : path, zip)) << i;
        if (rename) {
            ASSERT_TRUE(MoveFileW((path + L".crdownload").c_str(), path.c_str())) << i;
        }
        const double done = nowMs();
        ASSERT_TRUE(waitFor([] { return visible(reminder()); }, kShowTimeoutMs)) << i;
        (rename ? renamed : written).push_back(nowMs() - done);
        ASSERT_TRUE(program_.waitForReminder(title, kShowTimeoutMs)) << i;
    }
    std::vector<double> all = written;
    all.insert(all.end(), renamed.begin(), renamed.end());
    for (auto* set : {&written, &renamed, &all}) std::sort(set->begin(), set->end());
    const auto median = [](const std::vector<double>& v) { return (v[(v.size() - 1) / 2] + v[v.size() / 2]) / 2; };
    std::printf("figure: detection latency over %zu downloads: median %.0f ms, worst %.0f ms "
                "(written in place: median %.0f, worst %.0f; renamed: median %.0f, worst %.0f)\n",
                all.size(), median(all), all.back(), median(written), written.back(), median(renamed),
                renamed.back());
    EXPECT_LE(all.back(), 1000) << "reminded within 1 s";
    EXPECT_LT(median(all), 300);
}

// A download with 100,000 entries is opened and judged off the GUI thread:
// the reminder and the tray answer within a second throughout.
TEST_F(EndToEnd, ALargeDownloadIsCheckedWhileTheTrayKeepsAnswering) {
    hideReminder();
    const std::wstring dir = newFolder(L"large");
    ASSERT_TRUE(writeDownload(dir + L"many.zip", readFile(archivesDir() + L"\\many.zip")));
    ASSERT_TRUE(waitFor([] { return visible(reminder()); }, kShowTimeoutMs));
    double slowest = 0;
    std::wstring status;
    const double start = nowMs();
    while ((status = textOf(reminderControl(ReminderControl::kStatus.name))) != kSafeVerdict) {
        ASSERT_LT(nowMs() - start, double(kGenerousMs)) << wideToUtf8(status);
        for (HWND window : {reminder(), FindWindowW(kResidentWindowClass, nullptr)}) {
            const double before = nowMs();
            DWORD_PTR result = 0;
            ASSERT_TRUE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result)) << "no answer within 1 s";
            slowest = std::max(slowest, nowMs() - before);
        }
        EXPECT_TRUE(status.empty() || status == L"正在检查…") << wideToUtf8(status);
        Sleep(10);
    }
    std::printf("figure: a 100,000-entry download judged in %.0f ms; the slowest answer meanwhile %.0f ms\n",
                nowMs() - start, slowest);
    EXPECT_EQ(textOf(reminderControl(ReminderControl::kTitle.name)), L"many");
    ASSERT_TRUE(program_.safeOpen(100000));
    EXPECT_TRUE(program_.closeMainWindow());
}

// A set of 7z volumes that finish last first is reminded once, when the
// first volume is there, named by it; it extracts across the volumes.
TEST_F(EndToEnd, ASevenZipSetFinishingOutOfOrderIsRemindedOnce) {
    std::vector<std::wstring> volumes;
    for (int n = 1;; ++n) {
        wchar_t name[32];
        swprintf(name, 32, L"set.7z.%03d", n);
        if (GetFileAttributesW((archivesDir() + L"\\" + name).c_str()) == INVALID_FILE_ATTRIBUTES) break;
        volumes.push_back(name);
    }
    ASSERT_GE(volumes.size(), 2u);
    hideReminder();
    const std::wstring dir = newFolder(L"sets");
    for (auto it = volumes.rbegin(); it != volumes.rend(); ++it) {
        ASSERT_TRUE(writeDownload(dir + *it + L".crdownload", readFile(archivesDir() + L"\\" + *it)));
        ASSERT_TRUE(MoveFileW((dir + *it + L".crdownload").c_str(), (dir + *it).c_str()));
        if (std::next(it) != volumes.rend())
            EXPECT_FALSE(waitFor([] { return visible(reminder()); }, 500)) << "reminded before the set was whole";
    }
    ASSERT_TRUE(program_.waitForReminder(L"set.7z", kShowTimeoutMs, kSafeVerdict));
    hideReminder();
    EXPECT_FALSE(waitFor([] { return visible(reminder()); }, kQuietMs)) << "a volume was reminded by itself";
    ASSERT_TRUE(program_.safeOpen(static_cast<int>(toolsEntryNames().size())));
    ASSERT_TRUE(press(mainControl(MainControl::kArchiveFolder.name)));
    ASSERT_TRUE(press(mainControl(MainControl::kExtract.name)));
    EXPECT_TRUE(closeOpenedFolder(L"set.7z"));
    expectSameTree(wineDir(binaryDir() + "/e2e/archives/src/tools/"), dir + L"set.7z\\");
    EXPECT_TRUE(program_.closeMainWindow());
}

// A RAR download renamed into place is read by its content; its symbolic
// link is listed and skipped, never created.
TEST_F(EndToEnd, ARenamedRarDownloadIsReadAndItsLinkSkipped) {
    hideReminder();
    const std::wstring dir = newFolder(L"rar");
    ASSERT_TRUE(writeDownload(dir + L"资料.rar.crdownload", readFile(archivesDir() + L"\\links.rar")));
    ASSERT_TRUE(MoveFileW((dir + L"资料.rar.crdownload").c_str(), (dir + L"资料.rar").c_str()));
    ASSERT_TRUE(program_.waitForReminder(L"资料", kShowTimeoutMs));
    ASSERT_TRUE(program_.safeOpen(5));
    ASSERT_TRUE(press(mainControl(MainControl::kArchiveFolder.name)));
    ASSERT_TRUE(press(mainControl(MainControl::kExtract.name)));
    EXPECT_TRUE(closeOpenedFolder(L"资料"));
    const std::vector<std::wstring> rows = listRows(mainControl(MainControl::kEntryList.name));
    EXPECT_NE(std::find(rows.begin(), rows.end(), L"testlink（链接，已跳过）"), rows.end());
    const std::wstring reference = wineDir(binaryDir() + "/e2e/archives/rar-ref/");
    for (const wchar_t* name : {L"test.txt", L"testdir\\test.txt"}) {
        const std::vector<char> bytes = readFile(dir + L"资料\\" + name);
        EXPECT_FALSE(bytes.empty()) << wideToUtf8(name);
        EXPECT_TRUE(bytes == readFile(reference + name)) << wideToUtf8(name);
    }
    EXPECT_EQ(GetFileAttributesW((dir + L"资料\\testlink").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(program_.closeMainWindow());
}

// Three downloads finishing within a second are reminded one after another,
// each saying how many still wait; one deleted before its turn is passed over.
TEST_F(EndToEnd, DownloadsFinishingTogetherAreRemindedOneAfterAnother) {
    hideReminder();
    const std::wstring dir = newFolder(L"burst");
    for (const wchar_t* title : {L"burst1", L"burst2", L"burst3"})
        ASSERT_TRUE(writeDownload(dir + title + L".zip", toolsZip()));
    HWND waiting = reminderControl(ReminderControl::kWaitingCount.name);
    ASSERT_TRUE(program_.waitForReminder(L"burst1", kShowTimeoutMs));
    EXPECT_TRUE(waitFor([&] { return textOf(waiting) == L"还有2个" && visible(waiting); }, kGenerousMs))
        << wideToUtf8(textOf(waiting));
    screenshot("8-burst");
    ASSERT_TRUE(SendMessageW(reminder(), WM_CLOSE, 0, 0) == 0);
    ASSERT_TRUE(program_.waitForReminder(L"burst2", kShowTimeoutMs));
    EXPECT_EQ(textOf(waiting), L"还有1个");
    ASSERT_TRUE(DeleteFileW((dir + L"burst3.zip").c_str()));
    SendMessageW(reminder(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(waitFor([] { return visible(reminder()); }, kQuietMs))
        << "reminded of a deleted download: " << wideToUtf8(textOf(reminderControl(ReminderControl::kTitle.name)));
    EXPECT_FALSE(visible(waiting));
}

// Explorer's verbs start a second copy with the archive: it hands the
// archive to the running copy and ends, and the main window lists it.
TEST_F(EndToEnd, ASecondStartOpensItsArchivesInTheRunningCopy) {
    hideReminder();
    DWORD code = 99;
    // A relative path, against the second start's own folder.
    ASSERT_TRUE(ProgramUnderTest::runAnotherCopy(&code, L"\"" + std::wstring(kWideTitle) + L".zip\"", root_ + L"old"));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(program_.running());
    int reminders = 0;
    EnumWindows(countReminders, reinterpret_cast<LPARAM>(&reminders));
    EXPECT_EQ(reminders, 1) << "the program runs once";
    const int rows = static_cast<int>(toolsEntryNames().size());
    ASSERT_TRUE(waitFor([&] { return listRowCount(mainControl(MainControl::kEntryList.name)) == rows; }, kGenerousMs));
    EXPECT_EQ(textOf(mainControl(MainControl::kTitle.name)), kWideTitle);
    EXPECT_FALSE(visible(reminder()));

    // A missing file and one that is no archive replace it, each saying why, one after the other.
    ASSERT_TRUE(ProgramUnderTest::runAnotherCopy(&code, L"missing.zip \"" + archivesDir() + L"\\tools.names\"", root_ + L"old"));
    EXPECT_EQ(code, 0u);
    for (const wchar_t* line : {L"无法打开：文件不存在", L"无法打开：不是支持的压缩包"}) {
        EXPECT_TRUE(waitFor([&] { return textOf(mainControl(MainControl::kCountLine.name)) == line; }, kGenerousMs))
            << wideToUtf8(textOf(mainControl(MainControl::kCountLine.name)));
        EXPECT_EQ(listRowCount(mainControl(MainControl::kEntryList.name)), 0);
        // "立即解压" makes nothing for an archive that did not open.
        ASSERT_TRUE(press(mainControl(MainControl::kExtract.name)));
        ASSERT_TRUE(program_.closeMainWindow());
    }
    EXPECT_EQ(GetFileAttributesW((root_ + L"old\\missing").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW((archivesDir() + L"\\tools").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(waitFor([] { return mainWindow() != nullptr; }, kQuietMs));
    EXPECT_TRUE(program_.running());
}

// "用QuilloZIP解压到当前文件夹": each archive extracted beside itself at
// once, one after the other, the result in the main window and each folder opened.
TEST_F(EndToEnd, ExtractFromTheCommandLineLeavesTheFolderBesideTheArchive) {
    DWORD code = 99;
    ASSERT_TRUE(ProgramUnderTest::runAnotherCopy(
        &code, L"/extract \"" + root_ + L"old\\explorer.zip\" \"" + std::wstring(kWideTitle) + L".zip\"", root_ + L"old"));
    EXPECT_EQ(code, 0u);
    for (const wchar_t* title : {L"explorer", kWideTitle}) {
        EXPECT_TRUE(closeOpenedFolder(title)) << wideToUtf8(title);
        expectSameTree(buildFolder("e2e/archives/src/tools") + L"\\", root_ + L"old\\" + title + L"\\");
    }
    EXPECT_EQ(textOf(mainControl(MainControl::kTitle.name)), kWideTitle);
    EXPECT_TRUE(textOf(mainControl(MainControl::kCountLine.name)).rfind(L"解压完成", 0) == 0)
        << wideToUtf8(textOf(mainControl(MainControl::kCountLine.name)));
    EXPECT_TRUE(program_.closeMainWindow());
}

// Anyone may send the resident window WM_COPYDATA: a record that is wrong
// is refused and nothing opens.
TEST_F(EndToEnd, MalformedOpenRecordsAreRefused) {
    HWND resident = FindWindowW(kResidentWindowClass, nullptr);
    ASSERT_TRUE(resident);
    const std::vector<uint8_t> good = encodeOpenRecord(root_ + L"old", std::vector<std::wstring>{L"explorer.zip"});
    std::vector<uint8_t> noTerminator = good, hugeLength = good, otherVersion = good;
    noTerminator[good.size() - 2] = 'x';
    hugeLength[8] = hugeLength[9] = hugeLength[10] = 0xFF;
    otherVersion[0] = 9;
    std::vector<uint8_t> cut(good.begin(), good.end() - 3);
    for (const std::vector<uint8_t>* bad : {&cut, &noTerminator, &hugeLength, &otherVersion}) {
        COPYDATASTRUCT data{kOpenRecordTag, static_cast<DWORD>(bad->size()), const_cast<uint8_t*>(bad->data())};
        DWORD_PTR taken = 99;
        EXPECT_TRUE(SendMessageTimeoutW(resident, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL,
                                        kGenerousMs, &taken));
        EXPECT_EQ(taken, static_cast<DWORD_PTR>(FALSE));
    }
    // Another tag, with a record that would be good.
    COPYDATASTRUCT other{1, static_cast<DWORD>(good.size()), const_cast<uint8_t*>(good.data())};
    DWORD_PTR taken = 99;
    EXPECT_TRUE(SendMessageTimeoutW(resident, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&other), SMTO_NORMAL,
                                    kGenerousMs, &taken));
    EXPECT_EQ(taken, static_cast<DWORD_PTR>(FALSE));
    EXPECT_FALSE(waitFor([] { return mainWindow() != nullptr; }, kQuietMs));
    EXPECT_TRUE(program_.running());
}

// "打开压缩包…": the open dialog, then the main window on the chosen archive.
TEST_F(EndToEnd, TheTrayMenuOpensAnArchiveThroughTheOpenDialog) {
    ASSERT_TRUE(program_.chooseFromTrayMenu(0));
    HWND dialog = nullptr;
    ASSERT_TRUE(waitFor([&] { return (dialog = FindWindowW(L"#32770", L"打开压缩包")) != nullptr; }, kGenerousMs));
    // The file name box: a combo box in the newer dialog, an edit in the older.
    HWND name = GetDlgItem(dialog, 0x47c);
    if (!name) name = GetDlgItem(dialog, 0x480);
    ASSERT_TRUE(name);
    const std::wstring path = root_ + L"old\\explorer.zip";
    ASSERT_TRUE(SetWindowTextW(name, path.c_str()));
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(waitFor([] { return textOf(mainControl(MainControl::kTitle.name)) == L"explorer"; }, kGenerousMs));
    EXPECT_EQ(listRowCount(mainControl(MainControl::kEntryList.name)), static_cast<int>(toolsEntryNames().size()));
    EXPECT_TRUE(program_.closeMainWindow());
}

TEST_F(EndToEnd, ExitFromTheTrayMenuEndsWithCodeZero) {
    DWORD code = 1;
    ASSERT_TRUE(program_.exitFromTrayMenu(&code, [] { screenshot("6-tray-menu"); }));
    EXPECT_EQ(code, 0u);
}

// The installer's way: WM_CLOSE to the resident window ends a running copy
// as "退出" does, and a copy started after that runs again.
TEST_F(EndToEnd, WmCloseToTheResidentWindowEndsWithCodeZero) {
    ProgramUnderTest again;
    ASSERT_TRUE(again.start());
    ASSERT_TRUE(FindWindowW(kResidentWindowClass, nullptr));
    EXPECT_FALSE(IsWindowVisible(FindWindowW(kResidentWindowClass, nullptr)));
    DWORD code = 1;
    ASSERT_TRUE(again.endThroughResidentWindow(&code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(FindWindowW(kResidentWindowClass, nullptr), nullptr);
}

// With no copy running, a start with an archive starts resident and lists it.
TEST_F(EndToEnd, AStartWithAnArchiveListsIt) {
    ProgramUnderTest again;
    ASSERT_TRUE(again.start(L"\"" + std::wstring(kWideTitle) + L".zip\"", root_ + L"old"));
    const int rows = static_cast<int>(toolsEntryNames().size());
    EXPECT_TRUE(waitFor([&] { return listRowCount(mainControl(MainControl::kEntryList.name)) == rows; }, kGenerousMs));
    EXPECT_EQ(textOf(mainControl(MainControl::kTitle.name)), kWideTitle);
    DWORD code = 1;
    ASSERT_TRUE(again.endThroughResidentWindow(&code));
    EXPECT_EQ(code, 0u);
}

}  // namespace
