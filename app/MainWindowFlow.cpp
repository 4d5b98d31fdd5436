#include "app/MainWindowFlow.h"

#include "app/DownloadRules.h"
#include "app/PathText.h"
#include "app/ResidentWindow.h"
#include "app/ShellOpen.h"
#include "app/ProgramState.h"
#include "base/TextCodec.h"
#include "base/UniqueAny.h"
#include "ui/Forms.h"
#include "zip/Unzip.h"

#include <memory>

namespace {

// What the open main window lists; GUI thread only.
struct ListedArchive {
    std::string path;
    std::shared_ptr<ZIP解压> archive;  // the object zipArchive held when listed
    std::string autoDestination;      // the "当前文件夹" rule's answer, once taken
};
ListedArchive listed;

// The destination the last "当前文件夹" press stored; the desktop and a picked
// folder replace it in destinationFolder.
std::string archiveRuleChoice;

}  // namespace

void onMainCreated() {
    ProgramState& state = programState();
    const std::wstring title = caption(FormId::Reminder, "标签3");
    setProperty(FormId::Main, "标签5", Property::Visible, wideToAnsi(title).size() > kMainTitleLimit ? 1 : 0);
    setCaption(FormId::Main, "标签1", title);

    listed = ListedArchive{state.lastArchivePath, state.zipArchive, {}};
    state.listedEntryCount = listed.archive->entryCount();
    setCaption(FormId::Main, "标签2", utf8ToWide(countLine(state.listedEntryCount)));
    for (int32_t i = 0; i < state.listedEntryCount; ++i) {
        const EntryInfo info = listed.archive->entryInfo(i);
        addListRow(FormId::Main, "列表框1", ansiToWide(info.name));
    }
}

void onMainDestroyed() { listed = ListedArchive{}; }

bool mainWindowIsCurrent() { return listed.archive && listed.archive == programState().zipArchive; }

std::string archiveFolderDestination(const std::string& archivePath) {
    const std::string folder = folderOfPath(archivePath);
    const std::string candidate = folder + fileTitle(archivePath);
    WIN32_FIND_DATAA found;
    UniqueFind find(FindFirstFileA(candidate.c_str(), &found));
    if (find) return folder;
    CreateDirectoryA(candidate.c_str(), nullptr);
    return candidate + "\\";
}

namespace {

// The listed archive's "当前文件夹" destination, worked out once per listed
// archive: after the rule has made the folder, asking again must not move on
// to the archive's parent.
const std::string& listedArchiveFolder() {
    if (listed.autoDestination.empty()) listed.autoDestination = archiveFolderDestination(listed.path);
    return listed.autoDestination;
}

}  // namespace

void useArchiveFolderDestination() {
    programState().destinationFolder = listedArchiveFolder();
    archiveRuleChoice = programState().destinationFolder;
}

void extractArchive() {
    ProgramState& state = programState();
    if (listed.path.empty() || !listed.archive) return;  // nothing was ever listed
    // A request to end the program from outside waits until the run is over.
    const QuitDeferral deferQuit;
    // "当前文件夹" means the listed archive's own folder, whichever archive it
    // was chosen for; so does no choice at all.
    std::string destination = state.destinationFolder;
    if (destination.empty() || destination == archiveRuleChoice) destination = listedArchiveFolder();
    ZIP解压& zip = *listed.archive;
    // A destination the library cannot take (too long a path) would leave the
    // base folder where it was: extract nothing rather than write elsewhere.
    if (zip.setBaseFolder(destination) == kZipOk) {
        for (int32_t i = 0; i < state.listedEntryCount; ++i) {
            const EntryInfo info = zip.entryInfo(i);
            zip.extractEntry(i, info.name);
        }
    }
    // The shell gets the folder without its closing "\" (a drive root keeps
    // it): some shells pass the path on quoted, and "\"" would escape the quote.
    if (endsWithBackslash(destination) && destination.size() > 3) destination.pop_back();
    openInShell(destination);
}
