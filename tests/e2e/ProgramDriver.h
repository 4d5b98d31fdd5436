// Drives quillozip.exe from another process under Wine, as a user and a
// browser would: starts it, writes downloads onto a mapped test drive, reads
// and presses its windows through messages, photographs the display, and
// reads the process's memory, handle and window figures. Shared by the
// end-to-end run and the load suites.
#pragma once

#include "app/ResidentWindow.h"
#include "ui/FormTables.h"
#include "UiTestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr wchar_t kReminderCaption[] = L"QuilloZIP快速解压提醒您";
constexpr wchar_t kMainCaption[] = L"QuilloZIP快速解压";
constexpr int kGenerousMs = 20000;
constexpr wchar_t kSafeVerdict[] = L"下载完毕，压缩包安全";

// "Z:\a\b" for the Unix path /a/b.
std::wstring wineDir(const std::string& unixPath);
// $QZ_BINARY_DIR (a Unix path), or "." when unset.
std::string binaryDir();
// A folder of the build tree by its path relative to the binary dir, as a Windows path.
std::wstring buildFolder(const std::string& relative);

// The whole file; empty when it cannot be read.
std::vector<char> readFile(const std::wstring& path);
// Writes a file as a browser finishes a download: a new file, its bytes,
// closed. Returns false when any step failed.
bool writeDownload(const std::wstring& path, const std::vector<char>& bytes);
// The root ("M:\") of the drive map-watch-drive.sh mapped for stateDir, or
// empty when none was mapped.
std::wstring mappedDriveRoot(const std::wstring& stateDir);

// Polls `done` every few milliseconds until it holds or the deadline passes.
bool waitFor(const std::function<bool()>& done, int timeoutMs);
double nowMs();
// True when QZ_LONG=1 asks for the long forms of the load suites.
bool longRun();

// A control of a window built from the form table, by its designer name.
HWND control(HWND form, FormId id, const char* name);
std::wstring textOf(HWND hwnd);
bool visible(HWND hwnd);
// Clicks a button and returns once the program has handled the click (an
// extraction then goes on on a worker); false when it was not handled in time.
bool press(HWND button, int timeoutMs = 60000);
std::vector<std::wstring> listRows(HWND list);
int listRowCount(HWND list);


// Asks the screen grabber running beside the driver for a picture of the
// display, saved as $QZ_BINARY_DIR/artifacts/e2e-NAME.png.
void screenshot(const std::string& name);

// The shell's folder windows showing a folder of this name.
std::vector<HWND> shellWindows(const std::wstring& folderName);
// Waits for the folder window the program opened after an extraction and closes it.
bool closeOpenedFolder(const std::wstring& folderName);
void closeAllFolderWindows();

// What a process holds at one moment. Where Wine has no answer (the handle
// count, GetGuiResources, private bytes) the handles are counted in the
// system's handle table, the GDI objects in the process's own GDI table, and
// the windows the process owns and its virtual size are given as well.
struct ProcessFigures {
    DWORD handles = 0;
    DWORD gdiObjects = 0;
    DWORD userObjects = 0;
    int windows = 0;  // top-level, child and message-only windows of the process
    uint64_t workingSet = 0;
    uint64_t peakWorkingSet = 0;
    uint64_t privateBytes = 0;
    uint64_t virtualSize = 0;
};
ProcessFigures processFigures(HANDLE process);
std::string describe(const ProcessFigures& f);
constexpr double kMiB = 1024.0 * 1024.0;

// The highest working set of a process over a stretch of time: samples it
// every few milliseconds on a thread of its own, and takes the system's
// peak as well when that rose meanwhile (Wine reports the lifetime peak).
class WorkingSetSampler {
public:
    explicit WorkingSetSampler(HANDLE process);
    ~WorkingSetSampler();
    WorkingSetSampler(const WorkingSetSampler&) = delete;
    WorkingSetSampler& operator=(const WorkingSetSampler&) = delete;
    // Ends the sampling and returns the peak in bytes.
    uint64_t stop();

private:
    static DWORD WINAPI run(void* self);
    HANDLE process_;
    HANDLE thread_ = nullptr;
    volatile LONG stopping_ = 0;
    uint64_t peakBefore_ = 0;
    uint64_t sampledPeak_ = 0;
};

// quillozip.exe (from $QZ_BINARY_DIR/bin) running as a child of the driver.
class ProgramUnderTest {
public:
    ~ProgramUnderTest();
    // Starts the program (with these arguments, in this current folder) and
    // waits until its reminder is loaded and start-up is over.
    bool start(const std::wstring& args = {}, const std::wstring& folder = {});
    // Opens the tray menu and chooses its item number `item` (0 is the
    // first) with the keyboard; whileMenuShown runs once the menu is up.
    bool chooseFromTrayMenu(int item, const std::function<void()>& whileMenuShown = {}) const;
    // Chooses "退出" from the tray menu; true when the process then ended.
    // whileMenuShown runs once the menu is up (to photograph it).
    bool exitFromTrayMenu(DWORD* exitCode = nullptr, const std::function<void()>& whileMenuShown = {});
    // Ends the program as the installer does: WM_CLOSE to its hidden window
    // of class "QuilloZIP.Resident". True when the process then ended.
    bool endThroughResidentWindow(DWORD* exitCode = nullptr);
    // Starts one more copy (with these arguments, in this current folder)
    // and waits for it to end; true when it ended in time.
    static bool runAnotherCopy(DWORD* exitCode, const std::wstring& args = {}, const std::wstring& folder = {});
    // Ends the process if it still runs.
    void terminate();
    bool running() const { return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

    HANDLE process() const { return process_.hProcess; }
    HWND reminder() const { return reminder_; }
    HWND reminderControl(const char* name) const { return control(reminder_, FormId::Reminder, name); }
    static HWND mainWindow() { return FindWindowW(nullptr, kMainCaption); }
    static HWND mainControl(const char* name) { return control(mainWindow(), FormId::Main, name); }

    // Closes the reminder with its close box, so the next download's
    // reminder can be seen appearing (one still waiting comes at once).
    void hideReminder() const;
    // Waits for the reminder showing this title and a verdict: `verdict`
    // when given (a download still being written may first get the other
    // one), else any. The last verdict seen is returned through `seen`.
    bool waitForReminder(const std::wstring& title, int showTimeoutMs, const std::wstring& verdict = {},
                         std::wstring* seen = nullptr) const;
    // "安全打开", then waits for the main window to list `rows` rows.
    bool safeOpen(int rows, int timeoutMs = kGenerousMs) const;
    // Closes the main window with its close box and waits for it to go.
    bool closeMainWindow() const;

private:
    PROCESS_INFORMATION process_{};
    HWND reminder_ = nullptr;
};

// The fixture the end-to-end suites share: one copy of the program per
// suite, started once on the test drive mapped for the suite's state folder
// (Suite::kStateDir, relative to the build tree), after Suite::prepareDrive()
// has laid out what must be there before the start.
template <typename Suite>
class ProgramSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = mappedDriveRoot(buildFolder(Suite::kStateDir));
        if (root_.empty()) return;
        Suite::prepareDrive();
        started_ = program_.start();
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
    // Nothing to lay out by default.
    static void prepareDrive() {}
    // After a test that ended the program.
    static bool restartProgram() {
        closeAllFolderWindows();
        started_ = program_.start();
        return started_;
    }

    static HWND reminder() { return program_.reminder(); }
    static HWND reminderControl(const char* name) { return program_.reminderControl(name); }
    static HWND mainWindow() { return ProgramUnderTest::mainWindow(); }
    static HWND mainControl(const char* name) { return ProgramUnderTest::mainControl(name); }

    static inline std::wstring root_;
    static inline ProgramUnderTest program_;
    static inline bool started_ = false;
};
