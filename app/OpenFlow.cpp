#include "app/OpenFlow.h"

#include "app/MainWindowFlow.h"
#include "app/OpenQueue.h"
#include "app/OpenRequest.h"
#include "app/ResidentWindow.h"
#include "app/ReminderFlow.h"
#include "base/FileSystem.h"
#include "base/GuiMailbox.h"
#include "base/PathText.h"
#include "base/TextCodec.h"
#include "ui/Forms.h"

#include <commdlg.h>

#include <optional>
#include <vector>

namespace {

// Where the archive shown now is shown.
enum class Stage { None, Reminded, Listed };

// GUI thread only.
OpenQueue queue;
Stage stage = Stage::None;
// The main window is being closed to list another archive: its going
// shows nothing new.
bool replacingListing = false;

// The archive types the open dialog offers: those the installer gives
// Explorer's verbs to.
constexpr wchar_t kArchiveFilter[] =
    L"压缩包\0*.zip;*.7z;*.rar;*.tar;*.tgz;*.tbz2;*.txz;*.gz;*.bz2;*.xz;*.zst;*.001\0所有文件\0*.*\0";

void showWaitingCount() {
    if (!isFormLoaded(FormId::Reminder)) return;
    const std::string label = waitingLabel(queue.waiting());
    setCaption(ReminderControl::kWaitingCount, utf8ToWide(label));
    setProperty(ReminderControl::kWaitingCount, Property::Visible, label.empty() ? 0 : 1);
}

// Runs a step that may close the main window to rebuild it: its going
// shows nothing new.
void replacingTheListing(void (*step)(const std::wstring&), const std::wstring& path) {
    replacingListing = true;
    step(path);
    replacingListing = false;
}

// The main window, built anew on this archive (one that cannot be read
// says why); "/extract" extracts it beside itself at once.
void listInMainWindow(const QueuedArchive& archive) {
    stage = Stage::Listed;
    replacingTheListing(openInMainWindow, archive.path);
    // Only an archive that opened is extracted: extractArchive refuses any other.
    if (archive.way == OpenWay::Extract && isFormLoaded(FormId::Main)) {
        useArchiveFolderDestination();
        extractArchive();
    }
}

// Takes a copy: while windows are shown and closed, messages that other
// threads and programs send may be handled, and they may move the queue on.
void show(const std::optional<QueuedArchive> archive) {
    if (!archive) {
        stage = Stage::None;
    } else if (archive->way == OpenWay::Remind) {
        stage = Stage::Reminded;
        onFinishedDownload(archive->path);
    } else {
        listInMainWindow(*archive);
    }
    showWaitingCount();
}

// A download that was deleted or renamed away while it waited is passed over.
void showNext() { show(queue.advance(isFile)); }

void openNow(const std::vector<std::wstring>& paths, OpenWay way) {
    if (paths.empty()) return;
    queue.addOpened(paths, way);
    // A reminded download waits again; a listed archive the user has seen
    // gives way, unless it is being extracted.
    if (stage == Stage::Reminded) {
        queue.putBackCurrent();
        showNext();
    } else if (stage == Stage::None || !extractionRunning()) {
        showNext();
    } else {
        showWaitingCount();
    }
}

void open(const OpenRequest& request) { openNow(request.paths, request.extract ? OpenWay::Extract : OpenWay::List); }

std::wstring currentFolder() {
    const DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (n == 0) return {};
    std::wstring folder(n, L'\0');
    const DWORD got = GetCurrentDirectoryW(n, folder.data());
    if (got == 0 || got >= n) return {};
    folder.resize(got);
    return folder;
}

}  // namespace

bool handOverToRunningCopy(std::span<const std::wstring> args) {
    if (args.empty()) return true;  // nothing to hand over
    const std::vector<uint8_t> record = encodeOpenRecord(currentFolder(), args);
    // The running copy may still be starting: its window follows its mutex shortly.
    HWND resident = nullptr;
    for (int i = 0; i < 100 && !(resident = FindWindowW(kResidentWindowClass, nullptr)); ++i) Sleep(100);
    if (!resident) return false;
    DWORD owner = 0;
    GetWindowThreadProcessId(resident, &owner);
    // So that its main window may come to the front.
    AllowSetForegroundWindow(owner);
    COPYDATASTRUCT data{kOpenRecordTag, static_cast<DWORD>(record.size()), const_cast<uint8_t*>(record.data())};
    DWORD_PTR taken = 0;
    return SendMessageTimeoutW(resident, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 30000,
                               &taken) &&
           taken == TRUE;
}

void openArguments(std::span<const std::wstring> args) {
    open(parseArguments(args, currentFolder()));
}

bool onOpenRecord(std::span<const uint8_t> bytes) {
    std::optional<OpenRecord> record = decodeOpenRecord(bytes);
    if (!record) return false;
    OpenRequest request = parseArguments(record->args, record->currentFolder);
    if (request.paths.empty()) return true;
    // Opened from the loop, not inside the sender's SendMessage.
    return postToGui([request = std::move(request)] { open(request); });
}

void onFilesDropped() { openNow(droppedFiles(), OpenWay::List); }

void onOpenArchiveChosen() {
    std::wstring answer(64 * 1024, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = formWindow(isFormLoaded(FormId::Main) ? FormId::Main : FormId::Reminder);
    ofn.lpstrFilter = kArchiveFilter;
    ofn.lpstrFile = answer.data();
    ofn.nMaxFile = static_cast<DWORD>(answer.size());
    ofn.lpstrTitle = L"打开压缩包";
    ofn.Flags = OFN_EXPLORER | OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    std::vector<std::wstring> chosen;
    {
        // The dialog runs a message loop of its own: a request to end the
        // program waits until it is closed.
        const QuitDeferral choosing;
        if (!GetOpenFileNameW(&ofn)) return;
        chosen = chosenFiles(answer);
    }
    openNow(chosen, OpenWay::List);
}

void queueDownload(const std::wstring& path) {
    queue.addDownload(path);
    if (stage == Stage::None)
        showNext();
    else
        showWaitingCount();
}

void onReminderDismissed() {
    onReminderCloseBox();
    if (stage == Stage::Reminded) showNext();
}

void onReminderOpened() {
    if (stage == Stage::Reminded) stage = Stage::Listed;
    replacingTheListing([](const std::wstring&) { onSafeOpen(); }, {});
}

void onListingClosed() {
    // The program is ending (the reminder goes first) or another archive takes the window.
    if (replacingListing || !isFormLoaded(FormId::Reminder)) return;
    if (stage == Stage::Listed) showNext();
}

void onRunEnded() {
    const QueuedArchive* next = queue.peek();
    if (stage != Stage::Listed || !queue.current() || queue.current()->way != OpenWay::Extract || !next ||
        next->way != OpenWay::Extract)
        return;
    // Not from inside the run's result: the window that shows it is replaced.
    postToGui([] {
        if (stage == Stage::Listed && !extractionRunning()) showNext();
    });
}
