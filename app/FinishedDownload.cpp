#include "app/FinishedDownload.h"

#include "app/CriticalSectionLock.h"
#include "app/DownloadRules.h"
#include "app/GuiMailbox.h"
#include "app/MainWindowFlow.h"
#include "app/PathText.h"
#include "app/ProgramState.h"
#include "app/VerdictText.h"
#include "base/TextCodec.h"
#include "base/UniqueAny.h"
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

// A download whose check found the file still held by its writer. Under Wine
// the last change record comes with the last write, before the writer closes
// the file, and no record follows the close: without another look the
// verdict of a finished download would depend on that race. GUI thread only.
constexpr UINT kRecheckMs = 250;
constexpr int kRechecks = 20;
std::string recheckPath;
int rechecksLeft = 0;
UINT_PTR recheckTimer = 0;

bool heldByWriter(const std::string& path) {
    UniqueFile probe(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    return !probe && GetLastError() == ERROR_SHARING_VIOLATION;
}

void CALLBACK recheckDownload(HWND, UINT, UINT_PTR, DWORD) {
    KillTimer(nullptr, recheckTimer);
    recheckTimer = 0;
    // A newer download took over meanwhile: nothing left to look at.
    if (recheckPath.empty() || programState().lastArchivePath != recheckPath) return;
    onFinishedDownload(recheckPath);  // as if the close had been reported
}

// Looks again a little later while the writer holds the file, a bounded
// number of times per download.
void recheckWhileHeld(const std::string& path, bool ok) {
    if (path != recheckPath) rechecksLeft = kRechecks;
    recheckPath = path;
    if (ok || rechecksLeft <= 0 || !heldByWriter(path)) {
        recheckPath.clear();
        return;
    }
    --rechecksLeft;
    if (!recheckTimer) recheckTimer = SetTimer(nullptr, 0, kRecheckMs, recheckDownload);
}

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
    const VerdictLine status = reminderStatus(ok, state.zipArchive->verdict());
    setCaption(FormId::Reminder, "标签2", utf8ToWide(status.text));
    setTextColour(FormId::Reminder, "标签2", status.colour());
    recheckWhileHeld(path, ok);
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
