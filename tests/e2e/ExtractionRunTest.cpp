// "立即解压" end to end: the run goes on a worker while the window answers,
// shows its progress, can be cancelled or cut short by closing the window
// without leaving a partial file, reports its result with a reason on each
// failed row, and "当前文件夹" puts every kind of archive where it belongs.
#include "ProgramDriver.h"
#include "UiTestSupport.h"

#include "base/TextCodec.h"
#include "base/UniqueAny.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int kShowTimeoutMs = 2000;
constexpr uint64_t kBigPart = 100ull << 20;  // each stored entry of big.zip

std::wstring archive(const wchar_t* name) { return buildFolder("e2e/extraction-archives") + L"\\" + name; }

uint64_t fileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

// Every name below a folder, relative, folders ending in "\".
std::set<std::wstring> treeNames(const std::wstring& root, const std::wstring& relative = L"") {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    UniqueFind find(FindFirstFileW((root + relative + L"*").c_str(), &found));
    if (!find) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            names.insert(relative + name + L"\\");
            names.merge(treeNames(root, relative + name + L"\\"));
        } else {
            names.insert(relative + name);
        }
    } while (FindNextFileW(find.get(), &found));
    return names;
}

bool startsWith(const std::wstring& text, const std::wstring& prefix) { return text.rfind(prefix, 0) == 0; }

class ExtractionRun : public ProgramSuite<ExtractionRun> {
public:
    static constexpr const char* kStateDir = "e2e/extraction";

protected:
    static std::wstring countLine() { return textOf(mainControl(MainControl::kCountLine.name)); }
    static bool runOver() {
        const std::wstring line = countLine();
        return startsWith(line, L"解压完成") || startsWith(line, L"已取消");
    }

    // Copies the archive into a new folder of the drive as a download, waits
    // for its reminder and lists it in the main window; returns the folder.
    static std::wstring downloadAndList(const wchar_t* folder, const wchar_t* name, int rows) {
        program_.hideReminder();
        const std::wstring dir = root_ + folder + L"\\";
        CreateDirectoryW(dir.c_str(), nullptr);
        std::wstring title = name;
        title.resize(title.size() - 4);
        EXPECT_TRUE(CopyFileW(archive(name).c_str(), (dir + name).c_str(), TRUE));
        EXPECT_TRUE(program_.waitForReminder(title, kGenerousMs)) << wideToUtf8(title);
        EXPECT_TRUE(program_.safeOpen(rows)) << wideToUtf8(title);
        EXPECT_EQ(textOf(mainControl(MainControl::kTitle.name)), title);
        return dir;
    }

    // "当前文件夹", then "立即解压", then the result line.
    static std::wstring extractHere() {
        EXPECT_TRUE(press(mainControl(MainControl::kArchiveFolder.name)));
        EXPECT_TRUE(press(mainControl(MainControl::kExtract.name)));
        EXPECT_TRUE(waitFor(runOver, kGenerousMs * 3)) << wideToUtf8(countLine());
        return countLine();
    }

    // The big archive's run under way, with its progress shown.
    static std::wstring startBigRun(const wchar_t* folder) {
        const std::wstring dir = downloadAndList(folder, L"big.zip", 3);
        EXPECT_TRUE(press(mainControl(MainControl::kArchiveFolder.name)));
        EXPECT_TRUE(press(mainControl(MainControl::kExtract.name), 1000));
        EXPECT_TRUE(waitFor([] { return startsWith(countLine(), L"正在解压 "); }, kGenerousMs));
        return dir + L"big\\";
    }

    // Only whole entries of big.zip, and no temporary file, in the folder.
    static void expectNoPartialFile(const std::wstring& dest) {
        for (const std::wstring& name : treeNames(dest)) {
            EXPECT_TRUE(name == L"part1.bin" || name == L"part2.bin" || name == L"part3.bin") << wideToUtf8(name);
            EXPECT_EQ(fileSize(dest + name), kBigPart) << wideToUtf8(name);
        }
    }
};

TEST_F(ExtractionRun, ALargeArchiveShowsProgressAndTheWindowKeepsAnswering) {
    const std::wstring dest = downloadAndList(L"large", L"big.zip", 3) + L"big\\";
    ASSERT_TRUE(press(mainControl(MainControl::kArchiveFolder.name)));
    const double start = nowMs();
    ASSERT_TRUE(press(mainControl(MainControl::kExtract.name), 1000));
    std::set<std::wstring> lines;
    double slowest = 0;
    bool pressedDesktop = false;
    while (!runOver()) {
        const double before = nowMs();
        DWORD_PTR result = 0;
        ASSERT_TRUE(SendMessageTimeoutW(ProgramUnderTest::mainWindow(), WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result))
            << "the main window did not answer within 1 s";
        slowest = std::max(slowest, nowMs() - before);
        // The result line comes before the button's caption goes back.
        const std::wstring button = textOf(mainControl(MainControl::kExtract.name));
        const std::wstring line = countLine();
        if (startsWith(line, L"正在解压 ")) {
            lines.insert(line);
            EXPECT_EQ(button, L"取消解压");
            // The destination buttons do nothing during the run.
            if (!pressedDesktop) pressedDesktop = press(mainControl(MainControl::kDesktop.name), 1000);
        }
        ASSERT_LT(nowMs() - start, kGenerousMs * 3) << "the run did not end";
        Sleep(5);
    }
    const double took = nowMs() - start;
    screenshot("extraction-done");
    EXPECT_EQ(countLine(), L"解压完成，共3个文件");
    EXPECT_EQ(textOf(mainControl(MainControl::kExtract.name)), L"立即解压");
    // At most ten lines a second, and more than one for a run this long.
    EXPECT_GE(lines.size(), took > 500 ? 2u : 1u) << took << " ms";
    EXPECT_LE(lines.size(), static_cast<size_t>(took / 100) + 2) << took << " ms";
    std::printf("300 MiB in %.0f ms, %zu progress lines seen, slowest answer %.0f ms\n", took, lines.size(), slowest);
    EXPECT_TRUE(closeOpenedFolder(L"big"));
    expectNoPartialFile(dest);
    EXPECT_EQ(treeNames(dest).size(), 3u);
    EXPECT_TRUE(program_.closeMainWindow());
}

TEST_F(ExtractionRun, CancelLeavesNoPartialFileAndOpensNothing) {
    const std::wstring dest = startBigRun(L"cancelled");
    ASSERT_TRUE(press(mainControl(MainControl::kExtract.name), 1000));  // "取消解压"
    ASSERT_TRUE(waitFor(runOver, kGenerousMs));
    EXPECT_TRUE(startsWith(countLine(), L"已取消：已解压")) << wideToUtf8(countLine());
    EXPECT_EQ(textOf(mainControl(MainControl::kExtract.name)), L"立即解压");
    expectNoPartialFile(dest);
    EXPECT_FALSE(waitFor([] { return !shellWindows(L"big").empty(); }, 1500)) << "a cancelled run opened its folder";
    EXPECT_TRUE(program_.closeMainWindow());
}

TEST_F(ExtractionRun, ClosingTheWindowEndsTheRunCleanly) {
    const std::wstring dest = startBigRun(L"closed");
    const double before = nowMs();
    EXPECT_TRUE(program_.closeMainWindow());
    EXPECT_LT(nowMs() - before, 6000);
    EXPECT_TRUE(program_.running());
    expectNoPartialFile(dest);
    EXPECT_FALSE(waitFor([] { return !shellWindows(L"big").empty(); }, 1500));
}

TEST_F(ExtractionRun, FailedEntriesShowTheirReasons) {
    const std::wstring dir = downloadAndList(L"damaged", L"damaged.zip", 4);
    EXPECT_EQ(extractHere(), L"解压完成：成功2个，失败2个");
    EXPECT_EQ(listRows(mainControl(MainControl::kEntryList.name)),
              (std::vector<std::wstring>{L"good.txt", L"bad.txt（数据损坏）", L"evil.txt（危险：路径越界）", L"CON.txt（路径不安全，已跳过）"}));
    EXPECT_TRUE(closeOpenedFolder(L"damaged"));
    // The climbing name lands inside the destination; the damaged entry leaves nothing.
    EXPECT_EQ(treeNames(dir + L"damaged\\"), (std::set<std::wstring>{L"good.txt", L"evil.txt"}));
    EXPECT_EQ(treeNames(dir), (std::set<std::wstring>{L"damaged.zip", L"damaged\\", L"damaged\\good.txt",
                                                      L"damaged\\evil.txt"}));
    EXPECT_TRUE(program_.closeMainWindow());
}

TEST_F(ExtractionRun, ArchiveFolderPutsEachKindOfArchiveWhereItBelongs) {
    struct Case {
        const wchar_t* folder;
        const wchar_t* name;
        int rows;
        std::vector<std::wstring> madeBefore;  // folders that exist beside the archive
        const wchar_t* opened;                 // the folder window's title
        std::set<std::wstring> tree;           // beside the archive afterwards, without the archive
    };
    const std::vector<Case> cases = {
        {L"top", L"pkg.zip", 3, {}, L"top", {L"pkg\\", L"pkg\\a.txt", L"pkg\\sub\\", L"pkg\\sub\\b.txt"}},
        {L"one", L"single.zip", 1, {}, L"one", {L"only.txt"}},
        {L"loose", L"many.zip", 3, {}, L"many", {L"many\\", L"many\\a.txt", L"many\\b.txt", L"many\\sub\\",
                                                 L"many\\sub\\c.txt"}},
        {L"taken", L"many.zip", 3, {L"many", L"many (2)"}, L"many (3)",
         {L"many\\", L"many (2)\\", L"many (3)\\", L"many (3)\\a.txt", L"many (3)\\b.txt", L"many (3)\\sub\\",
          L"many (3)\\sub\\c.txt"}},
        {L"mac", L"mac.zip", 4, {}, L"mac", {L"app\\", L"app\\x.txt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(wideToUtf8(c.folder));
        for (const std::wstring& made : c.madeBefore) {
            CreateDirectoryW((root_ + c.folder).c_str(), nullptr);
            CreateDirectoryW((root_ + c.folder + L"\\" + made).c_str(), nullptr);
        }
        const std::wstring dir = downloadAndList(c.folder, c.name, c.rows);
        const std::wstring line = extractHere();
        EXPECT_TRUE(startsWith(line, L"解压完成，共")) << wideToUtf8(line);
        EXPECT_TRUE(closeOpenedFolder(c.opened));
        std::set<std::wstring> tree = treeNames(dir);
        tree.erase(c.name);
        EXPECT_EQ(tree, c.tree);
        if (std::wstring(c.name) == L"mac.zip") {
            const std::vector<std::wstring> rows = listRows(mainControl(MainControl::kEntryList.name));
            EXPECT_EQ(rows, (std::vector<std::wstring>{L"__MACOSX/（已跳过）", L"__MACOSX/app/._x.txt（已跳过）",
                                                       L"app/x.txt", L"app/.DS_Store（已跳过）"}));
        }
        EXPECT_TRUE(program_.closeMainWindow());
    }
}

// A download named beyond the ANSI code page, holding such names: noticed,
// titled and opened by its real name, listed and extracted beside itself
// with the names its maker wrote.
TEST_F(ExtractionRun, NamesBeyondTheCodePageStayIntactFromDownloadToDisk) {
    const std::wstring title = L"资料😀한국어", name = title + L".zip";
    program_.hideReminder();
    const std::wstring dir = root_ + L"unicode\\";
    CreateDirectoryW(dir.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(archive(name.c_str()).c_str(), (dir + name).c_str(), TRUE));
    // Noticed, and titled with the whole name.
    ASSERT_TRUE(program_.waitForReminder(title, kGenerousMs)) << wideToUtf8(textOf(program_.reminderControl(ReminderControl::kTitle.name)));
    EXPECT_FALSE(visible(program_.reminderControl(ReminderControl::kTitleMarker.name))) << "a title of width 12 needs no marker";
    // Opened by its wide path.
    std::wstring verdict;
    EXPECT_TRUE(program_.waitForReminder(title, kGenerousMs, kSafeVerdict, &verdict)) << wideToUtf8(verdict);
    ASSERT_TRUE(program_.safeOpen(4));
    EXPECT_EQ(textOf(mainControl(MainControl::kTitle.name)), title);
    EXPECT_EQ(countLine(), L"共有4个文件，请放心解压");
    EXPECT_EQ(listRows(mainControl(MainControl::kEntryList.name)),
              (std::vector<std::wstring>{L"报告😀.txt", L"한국어/", L"한국어/메모.txt", L"Über.txt"}));
    EXPECT_EQ(extractHere(), L"解压完成，共4个文件");
    EXPECT_TRUE(closeOpenedFolder(title));
    const std::wstring made = title + L"\\";
    EXPECT_EQ(treeNames(dir), (std::set<std::wstring>{name, made, made + L"报告😀.txt", made + L"한국어\\",
                                                      made + L"한국어\\메모.txt", made + L"Über.txt"}));
    EXPECT_EQ(readFile(dir + made + L"报告😀.txt"), (std::vector<char>{'\xE6', '\x8A', '\xA5', '\xE5', '\x91', '\x8A',
                                                                      '\xF0', '\x9F', '\x98', '\x80', '\n'}));
    EXPECT_TRUE(program_.closeMainWindow());
}

// The password dialog: its window, its line, and the edit box typed into
// and answered from the keyboard.
HWND passwordDialog() {
    HWND dialog = FindWindowW(L"QuilloZIP.Password", L"输入密码");
    return dialog && IsWindowVisible(dialog) ? dialog : nullptr;
}
std::wstring dialogLine(HWND dialog) { return textOf(FindWindowExW(dialog, nullptr, L"Static", nullptr)); }
void answerDialog(HWND dialog, const wchar_t* password, UINT key) {
    HWND edit = FindWindowExW(dialog, nullptr, L"Edit", nullptr);
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(password));
    PostMessageW(edit, WM_KEYDOWN, key, 0);
    PostMessageW(edit, WM_KEYUP, key, 0);
}

// "当前文件夹", "立即解压", and the dialog that comes up.
HWND startAndWaitForPassword() {
    HWND dialog = nullptr;
    if (press(ProgramUnderTest::mainControl(MainControl::kArchiveFolder.name)) && press(ProgramUnderTest::mainControl(MainControl::kExtract.name)))
        waitFor([&] { return (dialog = passwordDialog()) != nullptr; }, kGenerousMs);
    return dialog;
}

TEST_F(ExtractionRun, EncryptedArchivesAskForThePasswordUntilItFits) {
    const std::wstring dir = downloadAndList(L"encrypted", L"enc.zip", 2);
    HWND dialog = startAndWaitForPassword();
    ASSERT_TRUE(dialog);
    screenshot("password");
    EXPECT_EQ(dialogLine(dialog), L"压缩包已加密，请输入密码：");
    EXPECT_FALSE(IsWindowEnabled(ProgramUnderTest::mainWindow())) << "the dialog is not modal";
    answerDialog(dialog, L"wrong", VK_RETURN);
    // A wrong password asks again, with the line that says so.
    ASSERT_TRUE(waitFor([&] {
        dialog = passwordDialog();
        return dialog && dialogLine(dialog) == L"密码错误，请重新输入：";
    }, kGenerousMs));
    answerDialog(dialog, L"right pw", VK_RETURN);
    ASSERT_TRUE(waitFor(runOver, kGenerousMs));
    EXPECT_EQ(countLine(), L"解压完成，共2个文件");
    EXPECT_TRUE(IsWindowEnabled(ProgramUnderTest::mainWindow()));
    EXPECT_TRUE(closeOpenedFolder(L"enc"));
    const std::wstring source = archive(L"enc");
    for (const wchar_t* name : {L"\\a.txt", L"\\sub\\b.bin"}) {
        const std::vector<char> bytes = readFile(dir + L"enc" + name);
        EXPECT_FALSE(bytes.empty());
        EXPECT_TRUE(bytes == readFile(source + name)) << wideToUtf8(name);
    }
    // The password is kept for the listed archive: a second run asks nothing.
    ASSERT_TRUE(press(mainControl(MainControl::kExtract.name)));
    ASSERT_TRUE(waitFor(runOver, kGenerousMs));
    EXPECT_EQ(countLine(), L"解压完成，共2个文件");
    EXPECT_EQ(passwordDialog(), nullptr);
    EXPECT_TRUE(closeOpenedFolder(L"enc"));
    EXPECT_TRUE(program_.closeMainWindow());
}

TEST_F(ExtractionRun, CancellingThePasswordSkipsTheEncryptedEntries) {
    const std::wstring dir = downloadAndList(L"noPassword", L"enc.zip", 2);
    HWND dialog = startAndWaitForPassword();
    ASSERT_TRUE(dialog);
    answerDialog(dialog, L"", VK_ESCAPE);
    ASSERT_TRUE(waitFor(runOver, kGenerousMs));
    EXPECT_EQ(passwordDialog(), nullptr) << "asked again after 取消";
    EXPECT_EQ(countLine(), L"解压完成：成功0个，失败2个");
    EXPECT_EQ(listRows(mainControl(MainControl::kEntryList.name)), (std::vector<std::wstring>{L"a.txt（已跳过）", L"sub/b.bin（已跳过）"}));
    // No file; a folder on an entry's way may stay, as for any failed entry.
    for (const std::wstring& name : treeNames(dir + L"enc\\")) EXPECT_EQ(name.back(), L'\\') << wideToUtf8(name);
    EXPECT_FALSE(waitFor([] { return !shellWindows(L"enc").empty(); }, 1500)) << "nothing extracted, yet opened";
    EXPECT_TRUE(program_.closeMainWindow());
}

// Every way out of the program ends a run at once: it is cancelled and
// waited for, so the program ends within seconds, with exit code 0 and no
// partial file. Each case ends the program; the next one starts it again.
TEST_F(ExtractionRun, EndingTheProgramCancelsTheRunAndLeavesNothingHalfDone) {
    struct Case {
        const char* how;
        bool withPasswordDialog;  // ended while the run asks for a password
        bool fromTrayMenu;        // "退出"; otherwise the installer's WM_CLOSE
    };
    const Case cases[] = {{"WM_CLOSE during a long run", false, false},
                          {"退出 during a long run", false, true},
                          {"WM_CLOSE while the password dialog is up", true, false}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        if (!program_.running()) ASSERT_TRUE(restartProgram());
        const std::wstring folder = L"ending" + std::to_wstring(++n);
        std::wstring dest;
        if (c.withPasswordDialog) {
            dest = downloadAndList(folder.c_str(), L"enc.zip", 2) + L"enc\\";
            ASSERT_TRUE(startAndWaitForPassword());
        } else {
            dest = downloadAndList(folder.c_str(), L"zeros.zip", 1) + L"zeros\\";
            ASSERT_TRUE(press(mainControl(MainControl::kArchiveFolder.name)));
            ASSERT_TRUE(press(mainControl(MainControl::kExtract.name), 1000));
            ASSERT_TRUE(waitFor([] { return startsWith(countLine(), L"正在解压 "); }, kGenerousMs));
        }
        const double start = nowMs();
        DWORD code = 1;
        ASSERT_TRUE(c.fromTrayMenu ? program_.exitFromTrayMenu(&code) : program_.endThroughResidentWindow(&code));
        const double took = nowMs() - start;
        EXPECT_EQ(code, 0u);
        EXPECT_LT(took, 5000.0) << "the run was not cut short";
        for (const std::wstring& name : treeNames(dest))
            EXPECT_EQ(name.back(), L'\\') << "a file was left: " << wideToUtf8(name);
        std::printf("figure: program ended %.0f ms after %s\n", took, c.how);
    }
}

// A download finishing while the password dialog is up waits for the main
// window: closing it takes the dialog with its owner and ends the run
// unanswered, then the new download is reminded and listed.
TEST_F(ExtractionRun, ANewerDownloadWhileThePasswordDialogIsUpWaitsForTheWindow) {
    if (!program_.running()) {
        ASSERT_TRUE(restartProgram());
    }
    const std::wstring dir = downloadAndList(L"newer", L"enc.zip", 2);
    ASSERT_TRUE(startAndWaitForPassword());
    program_.hideReminder();
    ASSERT_TRUE(CopyFileW(archive(L"single.zip").c_str(), (dir + L"single.zip").c_str(), TRUE));
    // It is reminded once the window it would take is closed, with its run and dialog.
    ASSERT_TRUE(program_.closeMainWindow());
    EXPECT_TRUE(waitFor([] { return passwordDialog() == nullptr; }, kGenerousMs)) << "the dialog outlived its owner";
    ASSERT_TRUE(program_.waitForReminder(L"single", kGenerousMs));
    ASSERT_TRUE(program_.safeOpen(1));
    EXPECT_EQ(textOf(mainControl(MainControl::kTitle.name)), L"single");
    for (const std::wstring& name : treeNames(dir + L"enc\\"))
        EXPECT_EQ(name.back(), L'\\') << "a file was left: " << wideToUtf8(name);
    // The window works: the new archive extracts.
    ASSERT_TRUE(press(mainControl(MainControl::kArchiveFolder.name)));
    ASSERT_TRUE(press(mainControl(MainControl::kExtract.name), 1000));
    ASSERT_TRUE(waitFor(runOver, kGenerousMs));
    EXPECT_EQ(countLine(), L"解压完成，共1个文件");
    EXPECT_TRUE(closeOpenedFolder(L"newer"));
    EXPECT_TRUE(program_.closeMainWindow());
}

}  // namespace
