#include "app/ReminderFlow.h"

#include "app/MainWindowFlow.h"
#include "app/ProgramState.h"
#include "app/detect/DownloadRules.h"
#include "app/extract/VerdictText.h"
#include "base/GuiMailbox.h"
#include "base/PathText.h"
#include "base/TextCodec.h"
#include "ui/Forms.h"
#include "archive/Archive.h"

#include <atomic>
#include <list>
#include <memory>
#include <thread>

namespace {

constexpr wchar_t kChecking[] = L"正在检查…";

// One archive being opened and judged on its own thread. The thread fills
// in archive, then sets done; the GUI thread reads them only
// after done (or after joining).
struct Check {
    uint64_t id = 0;
    std::shared_ptr<Archive> archive;  // null when no reader could open it
    std::atomic<bool> done{false};
    bool applied = false;
    std::thread thread;
};

// GUI thread only. The checks whose threads have not been joined yet, the
// newest last; only the newest one's result is shown.
std::list<Check> checks;
uint64_t lastCheckId = 0;

void showVerdict(Check& check) {
    if (check.applied) return;
    check.applied = true;
    programState().zipArchive = check.archive;
    const Archive* archive = check.archive.get();
    const VerdictLine status = archive ? reminderStatus(true, archive->verdict(), archive->namesEncrypted())
                                       : reminderStatus(false, ArchiveVerdict{});
    setCaption(ReminderControl::kStatus, utf8ToWide(status.text));
    setTextColour(ReminderControl::kStatus, status.colour());
}

// Joins the checks that are over; shows the newest one's verdict once it is.
void collectChecks() {
    for (auto it = checks.begin(); it != checks.end();) {
        if (!it->done.load()) {
            ++it;
            continue;
        }
        if (it->thread.joinable()) it->thread.join();
        if (it->id == lastCheckId) showVerdict(*it);
        it = checks.erase(it);
    }
}

void startCheck(const std::wstring& path) {
    Check& check = checks.emplace_back();
    check.id = ++lastCheckId;
    try {
        check.thread = std::thread([&check, path] {
            try {
                check.archive = openArchive(path);
            } catch (...) {
                check.archive.reset();
            }
            check.done.store(true);
            // Its result is taken from the list, never from the task itself.
            postToGui(collectChecks);
        });
    } catch (...) {
        // No thread: the archive is opened here, as it was before threads.
        check.archive = openArchive(path);
        check.done.store(true);
    }
    collectChecks();
}

// Waits for the newest check and shows its verdict.
void finishNewestCheck() {
    if (!checks.empty() && checks.back().id == lastCheckId) {
        Check& newest = checks.back();
        if (newest.thread.joinable()) newest.thread.join();
        newest.done.store(true);
        showVerdict(newest);
    }
}

}  // namespace

namespace {

// The archive becomes the program's current one: its title on the reminder
// (where the main window takes it from) and its check started.
void beginArchive(const std::wstring& path) {
    ProgramState& state = programState();
    state.lastArchivePath = path;
    const std::wstring title = fileTitle(path);
    setCaption(ReminderControl::kTitle, title);
    updateTitleMarker(title);
    // Until the check is over the download has no archive: a main window
    // listing the previous one stays with it.
    state.zipArchive.reset();
    setCaption(ReminderControl::kStatus, kChecking);
    setTextColour(ReminderControl::kStatus, std::nullopt);
    startCheck(path);
}

}  // namespace

void onFinishedDownload(const std::wstring& path) {
    setProperty(FormId::Reminder, nullptr, Property::Visible, 1);
    placeReminder();
    beginArchive(path);
}

void openInMainWindow(const std::wstring& path) {
    beginArchive(path);
    onSafeOpen();
}

void updateTitleMarker(const std::wstring& title) {
    setProperty(ReminderControl::kTitleMarker, Property::Visible, titleWidth(title) > kReminderTitleLimit ? 1 : 0);
}

void placeReminder() { placeInWorkAreaCorner(FormId::Reminder, 10); }

void onSafeOpen() {
    finishNewestCheck();
    setProperty(FormId::Reminder, nullptr, Property::Visible, 0);
    // A main window that lists an older archive is rebuilt on the newer one.
    if (isFormLoaded(FormId::Main) && !mainWindowIsCurrent()) closeForm(FormId::Main);
    loadForm(FormId::Main);
}

void onReminderCloseBox() { setProperty(FormId::Reminder, nullptr, Property::Visible, 0); }

void stopArchiveChecks() {
    for (Check& check : checks) {
        if (check.thread.joinable()) check.thread.join();
    }
    checks.clear();
}
