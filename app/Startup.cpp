#include "app/Startup.h"

#include "app/detect/DownloadRules.h"
#include "app/detect/DriveWatchers.h"
#include "app/EventBindings.h"
#include "app/detect/FinishedDownload.h"
#include "base/GuiMailbox.h"
#include "app/MainWindowFlow.h"
#include "app/OpenFlow.h"
#include "app/ProgramState.h"
#include "app/ReminderFlow.h"
#include "app/ResidentWindow.h"
#include "base/ThreadHelpers.h"
#include "base/UniqueAny.h"
#include "ui/Forms.h"

#include <windows.h>

namespace {

// One running copy per user session: the first start owns this mutex.
constexpr wchar_t kInstanceMutex[] = L"Local\\QuilloZIP.Instance";

// The start-up variables; GUI thread only. driveLetters holds the drives
// listed at start-up, later the last list a rescan found.
std::vector<std::string> driveLetters;
int watcherCount = 0;
std::unique_ptr<DriveWatchers> watchers;
DWORD lastDriveMask = 0;

void stopWatchers() {
    if (watchers) watchers->stopAll();
}

// Lists the drives again and watches those that came; retryFailed also
// tries the drives that could not be opened before.
void rescanDrives(bool retryFailed) {
    if (!watchers) return;
    lastDriveMask = GetLogicalDrives();
    std::vector<std::string> letters;
    // A failed listing keeps the watchers as they are.
    if (listDriveLetters(letters) == 0) return;
    driveLetters = std::move(letters);
    watcherCount = static_cast<int>(driveLetters.size());
    watchers->update(driveLetters, retryFailed, residentWindow());
}

// Every few seconds: a drive that announced nothing shows in the drive mask;
// a watcher whose drive went away has ended.
void pollDrives() {
    const DWORD mask = GetLogicalDrives();
    if (mask != 0 && mask != lastDriveMask) {
        rescanDrives(true);
    } else if (watchers && watchers->anyEnded()) {
        rescanDrives(false);
    }
}

void releaseDrive(HDEVNOTIFY notification) {
    if (watchers) watchers->release(notification);
}

}  // namespace

int listDriveLetters(std::vector<std::string>& letters) {
    char buffer[255] = {};
    const DWORD n = GetLogicalDriveStringsA(sizeof buffer, buffer);
    // A list longer than the buffer makes the call answer the size it needs.
    if (n == 0 || n > sizeof buffer) return 0;
    letters = splitDriveStrings(std::string_view(buffer, n));
    return static_cast<int>(letters.size());
}

void onReminderCreated() {
    watcherCount = static_cast<int>(driveLetters.size());
    watchers = std::make_unique<DriveWatchers>(checkFinishedDownload);
    setTrayIcon(FormId::Reminder, programIconBytes(), L"QuilloZIP快速解压");
    startWatchers();
}

void startWatchers() {
    // A drive whose root cannot be opened (an empty card reader) is not
    // watched until the drives change.
    lastDriveMask = GetLogicalDrives();
    if (watchers) watchers->update(driveLetters, true, residentWindow());
}

void onReminderTray(int operation) {
    if (operation == tray::kLeftUp) popupMenu(ReminderControl::kTrayMenu);
}

void onExitChosen() {
    // The run first: it is cancelled and waited for, so that its partial
    // file is gone and its archive free before the windows and state go.
    stopExtraction();
    stopArchiveChecks();
    stopWatchers();
    endProgram(0);
}

void onReminderDestroyed() { stopWatchers(); }

void releaseProgramState() {
    driveLetters.clear();
    watchers.reset();  // each watcher stops again, harmlessly
    watcherCount = 0;
    destroyProgramState();
}

int runProgram(std::span<const std::wstring> args) {
    // A second start leaves the running copy and its tray icon alone.
    UniqueHandle instance(CreateMutexW(nullptr, FALSE, kInstanceMutex));
    if (!instance) return 0;
    if (GetLastError() == ERROR_ALREADY_EXISTS) return handOverToRunningCopy(args) ? 0 : 1;
    // A drive without media answers "not ready" instead of asking the user.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    createProgramState();
    startGdiPlus();  // nothing draws with it; a failure is ignored
    listDriveLetters(driveLetters);
    openGuiMailbox();
    // Before the reminder: the watchers register their drives with it.
    ResidentHandlers handlers;
    handlers.quit = onExitChosen;
    handlers.poll = pollDrives;
    handlers.drivesChanged = [] { rescanDrives(true); };
    handlers.releaseDevice = releaseDrive;
    handlers.openRecord = onOpenRecord;
    openResidentWindow(handlers);
    // Finished downloads are reminded one after another.
    setFinishedDownloadHandler(queueDownload);
    bindApplicationEvents();
    int exitCode = 0;
    if (loadForm(FormId::Reminder)) {
        placeReminder();
        openArguments(args);
        exitCode = runMessageLoop();
    }
    stopWatchers();
    stopExtraction();
    stopArchiveChecks();
    closeResidentWindow();
    closeGuiMailbox();
    releaseProgramState();
    return exitCode;
}
