// The application's glue on the GUI thread: the mailbox from worker threads,
// the "当前文件夹" rule, and the finished-download check feeding it.
#include "app/detect/FinishedDownload.h"
#include "base/GuiMailbox.h"
#include "app/MainWindowFlow.h"
#include "app/ResidentWindow.h"
#include "base/ThreadHelpers.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>

namespace {

// Runs the GUI thread's messages until done holds or the deadline passes.
bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        if (done()) return true;
        if (GetTickCount64() >= deadline) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

std::wstring tempFolder(const wchar_t* name) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring dir = std::wstring(base) + name + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

struct WorkerPost {
    std::atomic<DWORD> ranOn{0};
    bool posted = false;
};

DWORD WINAPI postFromWorker(void* p) {
    auto* w = static_cast<WorkerPost*>(p);
    w->posted = postToGui([w] { w->ranOn = GetCurrentThreadId(); });
    return 0;
}

}  // namespace

TEST(GuiMailbox, TasksPostedByAWorkerRunOnTheGuiThread) {
    ASSERT_TRUE(openGuiMailbox());
    WorkerPost w;
    UniqueHandle thread = startThread(postFromWorker, &w);
    ASSERT_TRUE(thread);
    WaitForSingleObject(thread.get(), INFINITE);
    EXPECT_TRUE(w.posted);
    EXPECT_TRUE(pumpUntil([&] { return w.ranOn != 0; }));
    EXPECT_EQ(w.ranOn, GetCurrentThreadId());
    closeGuiMailbox();
}

TEST(GuiMailbox, PostingWithoutAMailboxFailsAndQueuedTasksAreDroppedOnClose) {
    closeGuiMailbox();
    bool ran = false;
    EXPECT_FALSE(postToGui([&] { ran = true; }));
    ASSERT_TRUE(openGuiMailbox());
    auto owned = std::make_shared<int>(7);
    std::weak_ptr<int> watch = owned;
    ASSERT_TRUE(postToGui([owned, &ran] { ran = true; }));
    owned.reset();
    closeGuiMailbox();  // frees the queued task without running it
    EXPECT_TRUE(watch.expired());
    EXPECT_FALSE(ran);
}

TEST(CheckFinishedDownload, TakesOnlyArchiveNamesWrittenOrRenamedIntoPlace) {
    const uint64_t before = acceptedDownloadRecords();
    checkFinishedDownload(3, L"C:\\dl\\a.zipx", 12);
    checkFinishedDownload(3, L"C:\\$Recycle.Bin\\a.zip", 21);
    checkFinishedDownload(2, L"C:\\dl\\a.zip", 11);
    checkFinishedDownload(4, L"C:\\dl\\a.zip", 11);
    checkFinishedDownload(5, L"C:\\dl\\b.zip", 11);  // renamed from another archive name
    checkFinishedDownload(3, nullptr, 0);
    EXPECT_EQ(acceptedDownloadRecords(), before);
    // No mailbox: accepted, then left for a GUI thread that never comes.
    checkFinishedDownload(3, L"C:\\dl\\a.zip", 11);
    checkFinishedDownload(4, L"C:\\dl\\a.zip.crdownload", 22);
    checkFinishedDownload(5, L"C:\\dl\\a.zip", 11);
    // A name the ANSI code page cannot hold is taken as it is.
    checkFinishedDownload(3, L"C:\\dl\\资料😀한국어.zip", 16);
    EXPECT_EQ(acceptedDownloadRecords(), before + 3);
}

static int quitRequests = 0;

TEST(ResidentWindow, WmCloseQuitsAtOnceOrOnceTheLastDeferralEnds) {
    ResidentHandlers handlers;
    handlers.quit = [] { ++quitRequests; };
    ASSERT_TRUE(openResidentWindow(handlers));
    HWND resident = residentWindow();
    wchar_t className[64] = {};
    GetClassNameW(resident, className, 64);
    EXPECT_STREQ(className, kResidentWindowClass);
    EXPECT_FALSE(IsWindowVisible(resident));
    // Top-level, where FindWindow and the system's broadcasts reach it.
    EXPECT_EQ(GetAncestor(resident, GA_PARENT), GetDesktopWindow());

    SendMessageW(resident, WM_CLOSE, 0, 0);
    EXPECT_EQ(quitRequests, 1);
    {
        const QuitDeferral outer;
        {
            const QuitDeferral inner;  // an extraction in progress
            SendMessageW(resident, WM_CLOSE, 0, 0);
        }
        EXPECT_FALSE(pumpUntil([] { return quitRequests > 1; }, 300)) << "quit while an extraction still ran";
    }
    EXPECT_TRUE(pumpUntil([] { return quitRequests == 2; }));
    // Log-off ends the program at once: the process may go as soon as
    // WM_ENDSESSION returns, so nothing holds it back.
    EXPECT_TRUE(SendMessageW(resident, WM_QUERYENDSESSION, 0, 0));
    {
        const QuitDeferral browsing;
        SendMessageW(resident, WM_ENDSESSION, FALSE, 0);  // the log-off was cancelled
        EXPECT_EQ(quitRequests, 2);
        SendMessageW(resident, WM_ENDSESSION, TRUE, 0);
        EXPECT_EQ(quitRequests, 3);
    }
    closeResidentWindow();
    EXPECT_FALSE(IsWindow(resident));
}

TEST(ArchiveFolderDestination, MakesANewFolderAndNeverReusesATakenName) {
    const std::wstring dir = tempFolder(L"qz-dest");
    const std::wstring archive = dir + L"tools.zip";
    const std::vector<std::wstring> loose = {L"a.txt", L"b.txt"};
    EXPECT_EQ(archiveFolderDestination(archive, loose), dir + L"tools\\");
    EXPECT_TRUE(exists(dir + L"tools"));
    // The second press finds the folder made by the first, and makes the next.
    EXPECT_EQ(archiveFolderDestination(archive, loose), dir + L"tools (2)\\");
    // One top folder goes straight into the archive's folder, unless its name is taken.
    EXPECT_EQ(archiveFolderDestination(archive, {L"bin/", L"bin/x.exe"}), dir);
    EXPECT_EQ(archiveFolderDestination(archive, {L"tools/", L"tools/x.exe"}), dir + L"tools (3)\\");
    // A file of that name also counts as taken.
    const std::wstring other = dir + L"setup.old.zip";
    CloseHandle(CreateFileW((dir + L"setup.old").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    EXPECT_EQ(archiveFolderDestination(other, loose), dir + L"setup.old (2)\\");
    DeleteFileW((dir + L"setup.old").c_str());
    for (const wchar_t* made : {L"tools", L"tools (2)", L"tools (3)", L"setup.old (2)"})
        RemoveDirectoryW((dir + made).c_str());
    RemoveDirectoryW(dir.c_str());
}

TEST(ArchiveFolderDestination, NamesBeyondTheCodePageAreMadeAsTheyAre) {
    const std::wstring dir = tempFolder(L"qz-dest-😀");
    const std::wstring title = L"资料😀한국어";
    EXPECT_EQ(archiveFolderDestination(dir + title + L".zip", {L"a", L"b"}), dir + title + L"\\");
    EXPECT_TRUE(exists(dir + title));
    // Its own top folder beyond the code page, already there: a new folder again.
    EXPECT_EQ(archiveFolderDestination(dir + L"x.zip", {title + L"/a"}), dir + L"x\\");
    RemoveDirectoryW((dir + L"x").c_str());
    RemoveDirectoryW((dir + title).c_str());
    RemoveDirectoryW(dir.c_str());
}
