#include "app/FinishedDownload.h"

#include "app/CriticalSectionLock.h"
#include "app/DownloadRules.h"
#include "app/GuiMailbox.h"
#include "app/MainWindowFlow.h"
#include "app/PathText.h"
#include "app/ProgramState.h"
#include "base/TextCodec.h"
#include "ui/Forms.h"

#include <atomic>

namespace {

// The newest accepted path that the GUI thread has not taken yet. Reports of
// different drives run at the same time, so the slot has its own lock; it is
// held only for a string copy.
CriticalSectionLock pendingLock;
std::string pendingPath;
bool taskPosted = false;

std::atomic<uint64_t> acceptedRecords{0};
uint64_t handledDownloads = 0;  // GUI thread only

void takePendingDownload() {
    std::string path;
    {
        auto guard = pendingLock.lock();
        path.swap(pendingPath);
        taskPosted = false;
    }
    if (!path.empty()) onFinishedDownload(path);
}

}  // namespace

void checkFinishedDownload(int action, const char* path, int /*length*/) {
    std::string p = path ? path : "";
    if (!isFinishedZipDownload(action, p)) return;
    acceptedRecords.fetch_add(1, std::memory_order_relaxed);
    {
        auto guard = pendingLock.lock();
        pendingPath = std::move(p);
        if (taskPosted) return;  // the queued task will take the newer path
        taskPosted = true;
    }
    if (!postToGui(takePendingDownload)) {
        auto guard = pendingLock.lock();
        taskPosted = false;
    }
}

void onFinishedDownload(const std::string& path) {
    ProgramState& state = programState();
    state.lastArchivePath = path;
    setProperty(FormId::Reminder, nullptr, Property::Visible, 1);
    placeReminder();
    const std::string title = fileTitle(path);
    setCaption(FormId::Reminder, "标签3", ansiToWide(title));
    updateTitleMarker(title);
    // The main window keeps the archive it lists; zipArchive moves on.
    keepListedArchive();
    const bool ok = state.zipArchive->open(path);
    ++handledDownloads;
    setCaption(FormId::Reminder, "标签2", ok ? L"下载完毕，压缩包安全" : L"下载完毕，检测未知");
}

uint64_t finishedDownloadCount() { return handledDownloads; }

void updateTitleMarker(const std::string& title) {
    setProperty(FormId::Reminder, "标签4", Property::Visible, title.size() > kReminderTitleLimit ? 1 : 0);
}

void placeReminder() {
    const int width = getProperty(FormId::Reminder, nullptr, Property::Width);
    const int height = getProperty(FormId::Reminder, nullptr, Property::Height);
    setProperty(FormId::Reminder, nullptr, Property::Left, GetSystemMetrics(SM_CXSCREEN) - width - 10);
    setProperty(FormId::Reminder, nullptr, Property::Top, GetSystemMetrics(SM_CYSCREEN) - height - 50);
}

void onSafeOpen() {
    setProperty(FormId::Reminder, nullptr, Property::Visible, 0);
    // A main window that lists an older archive is rebuilt on the newer one.
    if (isFormLoaded(FormId::Main) && !mainWindowIsCurrent()) closeForm(FormId::Main);
    loadForm(FormId::Main);
}

uint64_t acceptedDownloadRecords() { return acceptedRecords.load(); }
