#include "app/Startup.h"

#include "app/DirectoryWatcher.h"
#include "app/DownloadRules.h"
#include "app/EventBindings.h"
#include "app/FinishedDownload.h"
#include "app/GuiMailbox.h"
#include "app/ProgramState.h"
#include "app/ThreadHelpers.h"
#include "ui/Forms.h"

#include <windows.h>

namespace {

// The start-up variables; GUI thread only.
std::vector<std::string> driveLetters;
int watcherCount = 0;
std::vector<std::unique_ptr<DirectoryWatcher>> watchers;

void stopWatchers() {
    for (auto& watcher : watchers) watcher->stop();
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
    watchers.clear();
    for (int i = 0; i < watcherCount; ++i) watchers.push_back(std::make_unique<DirectoryWatcher>());
    setTrayIcon(FormId::Reminder, programIconBytes(), L"QuilloZIP快速解压");
    startWatchers();
}

void startWatchers() {
    // A drive whose root cannot be opened (an empty card reader) is simply not watched.
    for (int i = 0; i < watcherCount; ++i) watchers[i]->start(driveLetters[i] + ":\\", checkFinishedDownload);
}

void onReminderTray(int operation) {
    if (operation == tray::kLeftUp) popupMenu(FormId::Reminder, "辅助");
}

void onExitChosen() {
    stopWatchers();
    endProgram(0);
}

void onReminderDestroyed() { stopWatchers(); }

void releaseProgramState() {
    driveLetters.clear();
    watchers.clear();  // each watcher stops again, harmlessly
    watcherCount = 0;
    destroyProgramState();
}

int runProgram() {
    createProgramState();
    startGdiPlus();  // nothing draws with it; a failure is ignored
    listDriveLetters(driveLetters);
    openGuiMailbox();
    bindApplicationEvents();
    int exitCode = 0;
    if (loadForm(FormId::Reminder)) {
        placeReminder();
        exitCode = runMessageLoop();
    }
    stopWatchers();
    closeGuiMailbox();
    releaseProgramState();
    return exitCode;
}
