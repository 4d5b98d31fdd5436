#include "app/MainWindowFlow.h"

#include "app/detect/DownloadRules.h"
#include "app/extract/ExtractionPlan.h"
#include "app/extract/ExtractionWorker.h"
#include "base/PathText.h"
#include "app/OpenFlow.h"
#include "app/ProgramState.h"
#include "app/ShellOpen.h"
#include "app/extract/VerdictText.h"
#include "app/extract/ZoneMark.h"
#include "base/FileSystem.h"
#include "base/TextCodec.h"
#include "ui/Forms.h"
#include "ui/PasswordDialog.h"
#include "zip/EntryName.h"
#include "archive/Archive.h"
#include "archive/VolumeSet.h"
#include "app/detect/DownloadSets.h"

#include <memory>
#include <optional>

namespace {

// What the open main window lists; GUI thread only.
struct ListedArchive {
    std::wstring path;
    std::shared_ptr<Archive> archive;  // what zipArchive held when listed; null when nothing opened
    std::wstring autoDestination;     // the "当前文件夹" rule's answer, once taken
    std::vector<RunEntry> entries;    // as listed, in archive order
    std::vector<EntryVerdict> verdicts;  // each entry's verdict, in the same order
    std::vector<int> markedRows;      // rows showing a reason after their name
    std::string password;             // the password that opened its encrypted entries, kept in memory
};
ListedArchive listed;

// The destination the last "当前文件夹" press stored; the desktop and a picked
// folder replace it in destinationFolder.
std::wstring archiveRuleChoice;

// The run going on, if any.
ExtractionWorker worker;
std::wstring runDestination;

std::vector<std::wstring> listedNames() {
    std::vector<std::wstring> names;
    names.reserve(listed.entries.size());
    for (const RunEntry& e : listed.entries) names.push_back(e.name);
    return names;
}

HWND entryList() { return controlWindow(MainControl::kEntryList); }

void setRow(int row, const std::wstring& name, const std::string& reason) {
    setListRow(MainControl::kEntryList, row, visibleName(name) + utf8ToWide(reason));
}

// A row's verdict reason, which it shows from the listing on.
std::string verdictReason(size_t row) {
    return row < listed.verdicts.size() ? rowReason(listed.verdicts[row].reason) : std::string();
}

void unmarkRows() {
    for (int row : listed.markedRows) {
        const size_t i = static_cast<size_t>(row);
        setRow(row, listed.entries[i].name, verdictReason(i));
    }
    listed.markedRows.clear();
}

// Progress and results are drawn in the count line's own colour, whatever
// colour the verdict gave it.
void setCountLine(const std::string& utf8) {
    setCaption(MainControl::kCountLine, utf8ToWide(utf8));
    setTextColour(MainControl::kCountLine, std::nullopt);
}

void showProgress(const RunProgress& p) {
    if (!isFormLoaded(FormId::Main)) return;
    setCountLine(progressLine(p.doneBytes, p.totalBytes, p.doneEntries, p.totalEntries));
}

void showResult(const RunResult& result) {
    const std::wstring destination = std::move(runDestination);
    if (!isFormLoaded(FormId::Main)) return;
    if (!result.password.empty()) listed.password = result.password;
    std::string line = resultLine(result.extracted, result.failed, result.cancelled);
    // Entries that went on in a volume that is not there: name the first one missing.
    for (EntryOutcome outcome : result.outcomes) {
        if (outcome != EntryOutcome::MissingVolume) continue;
        const VolumeSet set = findVolumes(firstVolumeOf(listed.path), pathExists);
        if (!set.firstMissing.empty()) line += "，缺少分卷：" + wideToUtf8(pathFileName(set.firstMissing));
        break;
    }
    setCountLine(line);
    setCaption(MainControl::kExtract, L"立即解压");
    int firstFailed = -1;
    for (size_t i = 0; i < result.outcomes.size() && i < listed.entries.size(); ++i) {
        const EntryOutcome outcome = result.outcomes[i];
        if (outcome == EntryOutcome::Extracted) continue;
        const int row = static_cast<int>(i);
        // A failed row tells why it failed; the verdict's reason comes back
        // with the next run.
        setRow(row, listed.entries[i].name, outcomeReason(outcome));
        listed.markedRows.push_back(row);
        if (outcome != EntryOutcome::Skipped && firstFailed < 0) firstFailed = row;
    }
    if (firstFailed >= 0) SendMessageW(entryList(), LB_SETTOPINDEX, static_cast<WPARAM>(firstFailed), 0);
    onRunEnded();
    if (result.cancelled || result.extracted == 0) return;
    // The shell gets the folder without its closing "\" (a drive root keeps
    // it): some shells pass the path on quoted, and "\"" would escape the quote.
    std::wstring folder = destination;
    if (endsWithBackslash(folder) && folder.size() > 3) folder.pop_back();
    openInShell(folder);
}

std::optional<std::string> askForPassword(bool again) {
    if (!isFormLoaded(FormId::Main)) return std::nullopt;
    std::optional<std::wstring> typed = askPassword(formWindow(FormId::Main), again);
    if (!typed) return std::nullopt;
    return wideToAnsi(*typed);
}

}  // namespace

void onMainCreated() {
    ProgramState& state = programState();
    const std::wstring title = caption(ReminderControl::kTitle);
    setProperty(MainControl::kTitleMarker, Property::Visible, titleWidth(title) > kMainTitleLimit ? 1 : 0);
    setCaption(MainControl::kTitle, title);

    listed = ListedArchive{state.lastArchivePath, state.zipArchive, {}, {}, {}, {}, {}};
    if (!listed.archive) {
        state.listedEntryCount = 0;
        const VerdictLine line = cannotOpenLine(isFile(listed.path));
        setCaption(MainControl::kCountLine, utf8ToWide(line.text));
        setTextColour(MainControl::kCountLine, line.colour());
        return;
    }
    state.listedEntryCount = listed.archive->entryCount();
    const VerdictLine count =
        entryCountLine(state.listedEntryCount, listed.archive->verdict(), listed.archive->namesEncrypted());
    setCaption(MainControl::kCountLine, utf8ToWide(count.text));
    setTextColour(MainControl::kCountLine, count.colour());
    listed.entries.reserve(static_cast<size_t>(state.listedEntryCount));
    listed.verdicts.reserve(static_cast<size_t>(state.listedEntryCount));
    for (int32_t i = 0; i < state.listedEntryCount; ++i) {
        const EntryInfo info = listed.archive->entryInfo(i);
        const EntryVerdict verdict = listed.archive->entryVerdict(i);
        addListRow(MainControl::kEntryList, visibleName(info.unicodeName) + utf8ToWide(rowReason(verdict.reason)));
        listed.entries.push_back({info.index, info.unicodeName, info.fullCompressedSize, info.fullUncompressedSize,
                                  verdict.has(kEntryEncrypted)});
        listed.verdicts.push_back(verdict);
    }
}

void onMainDestroyed() {
    // Closing the window stops the run: the entry being written is
    // abandoned and removed before the window's archive is let go.
    stopExtraction();
    listed = ListedArchive{};
}

void stopExtraction() { worker.stop(); }

bool mainWindowIsCurrent() { return listed.archive && listed.archive == programState().zipArchive; }

bool extractionRunning() { return worker.running(); }

std::wstring archiveFolderDestination(const std::wstring& archivePath, const std::vector<std::wstring>& entryNames) {
    const ArchiveFolderChoice choice = chooseArchiveFolder(archivePath, entryNames, pathExists);
    // Made at once, so that asking again finds it taken and the decision stays.
    if (choice.create) CreateDirectoryW(systemPath(choice.folder).c_str(), nullptr);
    return choice.folder;
}

namespace {

// The listed archive's "当前文件夹" destination, worked out once per listed
// archive: after the rule has made the folder, asking again must not move on.
const std::wstring& listedArchiveFolder() {
    if (listed.autoDestination.empty()) listed.autoDestination = archiveFolderDestination(listed.path, listedNames());
    return listed.autoDestination;
}

}  // namespace

void useArchiveFolderDestination() {
    if (worker.running()) return;
    programState().destinationFolder = listedArchiveFolder();
    archiveRuleChoice = programState().destinationFolder;
}

void extractArchive() {
    // During a run the button reads "取消解压".
    if (worker.running()) {
        worker.cancel();
        return;
    }
    ProgramState& state = programState();
    // Nothing was ever listed, or the archive could not be opened: no folder is made for it.
    if (listed.path.empty() || !listed.archive) return;
    // "当前文件夹" means the listed archive's own folder, whichever archive it
    // was chosen for; so does no choice at all.
    std::wstring destination = state.destinationFolder;
    if (destination.empty() || destination == archiveRuleChoice) destination = listedArchiveFolder();
    unmarkRows();
    // Every file the run writes carries the archive's zone mark, if it has one.
    listed.archive->setCompletedFileHook(zoneMarkHook(listed.path));
    const bool started = worker.start(listed.archive, destination, listed.entries, listed.password, showProgress,
                                      showResult, askForPassword);
    if (!started) return;
    runDestination = destination;
    // The last run's result goes at once; the worker's progress follows.
    setCountLine(progressLine(0, 0, 0, static_cast<int64_t>(listed.entries.size())));
    setCaption(MainControl::kExtract, L"取消解压");
}
