#include "app/detect/FinishedDownload.h"

#include "base/CriticalSectionLock.h"
#include "app/detect/DownloadJudge.h"
#include "app/detect/DownloadRecordFilter.h"
#include "app/detect/DownloadRules.h"
#include "app/detect/DownloadSets.h"
#include "base/GuiMailbox.h"
#include "base/PathText.h"
#include "base/UniqueAny.h"
#include "zip/EntryName.h"

#include <atomic>
#include <deque>

namespace {

// Worker side. The watchers of all drives share the record filter and the
// queue of events the GUI thread has not taken yet; the lock is held only
// for the filter's few comparisons and a string move.
CriticalSectionLock pendingLock;
DownloadRecordFilter recordFilter;
std::deque<DownloadEvent> pendingEvents;
bool taskPosted = false;
// A GUI thread that cannot keep up loses the oldest events, never memory.
constexpr size_t kPendingEvents = 256;

std::atomic<uint64_t> acceptedRecords{0};

// GUI side. A file still held by its writer is looked at again every
// kRecheckMs: under Wine the last change record comes with the last write,
// before the writer closes the file, and no record follows the close.
DownloadJudge judge;
void (*finishedHandler)(const std::wstring& path) = nullptr;
DownloadSets volumeSets;
constexpr UINT kRecheckMs = 100;
UINT_PTR recheckTimer = 0;

bool heldByWriter(const std::wstring& path) {
    // Refusing to share writing fails while anyone has the file open for writing.
    UniqueFile probe(CreateFileW(systemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    return !probe && GetLastError() == ERROR_SHARING_VIOLATION;
}

// A browser's or download tool's partial file of path is there.
bool partialFileBeside(const std::wstring& path) {
    for (std::wstring_view suffix : kPartialSuffixes) {
        if (GetFileAttributesW(systemPath(path + std::wstring(suffix)).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    }
    return false;
}

bool fileThere(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(systemPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

DownloadFileState lookAt(const std::wstring& path) {
    DownloadFileState file;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(systemPath(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return file;
    file.isFile = true;
    file.size = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    if (file.size == 0) return file;
    file.heldByWriter = heldByWriter(path);
    file.partialBeside = partialFileBeside(path);
    return file;
}

void judgeEvent(const DownloadEvent& event, const DownloadFileState& file, bool recheck);

// Looks again at the downloads waiting for their writer; with closedOnly,
// only at those closed since, the others' rechecks left untouched.
void judgeWaiting(bool closedOnly) {
    for (const DownloadEvent& event : judge.waiting()) {
        const DownloadFileState file = lookAt(event.path);
        if (!closedOnly || !file.heldByWriter) judgeEvent(event, file, true);
    }
}

void CALLBACK recheckWaiting(HWND, UINT, UINT_PTR, DWORD) {
    // No exception may leave a timer callback.
    try {
        judgeWaiting(false);
    } catch (...) {
    }
}

void judgeEvent(const DownloadEvent& event, const DownloadFileState& file, bool recheck) {
    if (judge.judge(event, file, recheck) == DownloadVerdict::Remind && finishedHandler) {
        // A volume of a set is reminded as the set, once it is whole.
        if (const auto target = volumeSets.reminderFor(event.path, fileThere, partialFileBeside))
            finishedHandler(*target);
    }
    const bool waiting = !judge.waiting().empty();
    if (waiting && !recheckTimer) recheckTimer = SetTimer(nullptr, 0, kRecheckMs, recheckWaiting);
    if (!waiting && recheckTimer) {
        KillTimer(nullptr, recheckTimer);
        recheckTimer = 0;
    }
}

void takePendingEvents() {
    std::deque<DownloadEvent> events;
    {
        auto guard = pendingLock.lock();
        events.swap(pendingEvents);
        taskPosted = false;
    }
    // A download still held when its records came, and closed since, was
    // finished before the ones these records tell of: it is reminded first.
    judgeWaiting(true);
    for (const DownloadEvent& event : events) judgeEvent(event, lookAt(event.path), false);
}

}  // namespace

void checkFinishedDownload(int action, const wchar_t* path, int /*length*/) {
    if (!path) return;
    std::wstring p = path;
    auto guard = pendingLock.lock();
    std::optional<DownloadEvent> event = recordFilter.feed(action, p);
    if (!event) return;
    if (event->kind != DownloadEvent::Kind::Gone) acceptedRecords.fetch_add(1, std::memory_order_relaxed);
    // A writer's records come in runs for one path: one event stands for the run.
    if (!pendingEvents.empty() && pendingEvents.back() == *event) return;
    if (pendingEvents.size() >= kPendingEvents) pendingEvents.pop_front();
    pendingEvents.push_back(std::move(*event));
    if (taskPosted) return;  // the queued task takes this event as well
    taskPosted = postToGui(takePendingEvents);
}

void setFinishedDownloadHandler(void (*handler)(const std::wstring& path)) { finishedHandler = handler; }

uint64_t acceptedDownloadRecords() { return acceptedRecords.load(); }
