// The application's glue on the GUI thread: the mailbox from worker threads,
// the "当前文件夹" rule, and the finished-download check feeding it.
#include "app/FinishedDownload.h"
#include "app/GuiMailbox.h"
#include "app/MainWindowFlow.h"
#include "app/ResidentWindow.h"
#include "app/ThreadHelpers.h"

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

std::string tempFolder(const char* name) {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    std::string dir = std::string(base) + name + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

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

TEST(CheckFinishedDownload, TakesOnlyZipNamesWrittenOrRenamedIntoPlace) {
    const uint64_t before = acceptedDownloadRecords();
    checkFinishedDownload(3, "C:\\dl\\a.ZIP", 11);
    checkFinishedDownload(3, "C:\\$Recycle.Bin\\a.zip", 21);
    checkFinishedDownload(2, "C:\\dl\\a.zip", 11);
    checkFinishedDownload(4, "C:\\dl\\a.zip", 11);
    checkFinishedDownload(5, "C:\\dl\\b.zip", 11);  // renamed from another ZIP name
    checkFinishedDownload(3, nullptr, 0);
    EXPECT_EQ(acceptedDownloadRecords(), before);
    // No mailbox: accepted, then left for a GUI thread that never comes.
    checkFinishedDownload(3, "C:\\dl\\a.zip", 11);
    checkFinishedDownload(4, "C:\\dl\\a.zip.crdownload", 22);
    checkFinishedDownload(5, "C:\\dl\\a.zip", 11);
    EXPECT_EQ(acceptedDownloadRecords(), before + 2);
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
    closeResidentWindow();
    EXPECT_FALSE(IsWindow(resident));
}

TEST(ArchiveFolderDestination, MakesANewFolderAndNeverReusesATakenName) {
    const std::string dir = tempFolder("qz-dest");
    const std::string archive = dir + "tools.zip";
    const std::vector<std::string> loose = {"a.txt", "b.txt"};
    EXPECT_EQ(archiveFolderDestination(archive, loose), dir + "tools\\");
    EXPECT_NE(GetFileAttributesA((dir + "tools").c_str()), INVALID_FILE_ATTRIBUTES);
    // The second press finds the folder made by the first, and makes the next.
    EXPECT_EQ(archiveFolderDestination(archive, loose), dir + "tools (2)\\");
    // One top folder goes straight into the archive's folder, unless its name is taken.
    EXPECT_EQ(archiveFolderDestination(archive, {"bin/", "bin/x.exe"}), dir);
    EXPECT_EQ(archiveFolderDestination(archive, {"tools/", "tools/x.exe"}), dir + "tools (3)\\");
    // A file of that name also counts as taken.
    const std::string other = dir + "setup.old.zip";
    CloseHandle(CreateFileA((dir + "setup.old").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    EXPECT_EQ(archiveFolderDestination(other, loose), dir + "setup.old (2)\\");
    DeleteFileA((dir + "setup.old").c_str());
    for (const char* made : {"tools", "tools (2)", "tools (3)", "setup.old (2)"}) RemoveDirectoryA((dir + made).c_str());
    RemoveDirectoryA(dir.c_str());
}

TEST(ArchiveFolderDestination, ChineseArchiveNamesWithBackslashTrailBytes) {
    const std::string dir = tempFolder("qz-dest-cn");
    // 0xB1 0xED and 0x9A 0x5C are two GBK characters; the second ends in the byte of "\".
    const std::string title = "\xB1\xED\x9A\x5C";
    EXPECT_EQ(archiveFolderDestination(dir + title + ".zip", {"a", "b"}), dir + title + "\\");
    EXPECT_NE(GetFileAttributesA((dir + title).c_str()), INVALID_FILE_ATTRIBUTES);
    RemoveDirectoryA((dir + title).c_str());
    RemoveDirectoryA(dir.c_str());
}
