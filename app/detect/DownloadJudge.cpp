#include "app/detect/DownloadJudge.h"

#include <algorithm>

bool DownloadJudge::remembered(const std::wstring& path, uint64_t size) const {
    return std::any_of(judged_.begin(), judged_.end(), [&](const Judged& j) { return j.path == path && j.size == size; });
}

void DownloadJudge::forget(const std::wstring& path) {
    std::erase_if(judged_, [&](const Judged& j) { return j.path == path; });
}

void DownloadJudge::stopWaiting(const std::wstring& path) {
    std::erase_if(waiting_, [&](const Waiting& w) { return w.event.path == path; });
}

std::vector<DownloadEvent> DownloadJudge::waiting() const {
    std::vector<DownloadEvent> events;
    for (const Waiting& w : waiting_) events.push_back(w.event);
    return events;
}

DownloadVerdict DownloadJudge::judge(const DownloadEvent& event, const DownloadFileState& file, bool recheck) {
    using Kind = DownloadEvent::Kind;
    const auto waitingHere =
        std::find_if(waiting_.begin(), waiting_.end(), [&](const Waiting& w) { return w.event.path == event.path; });
    // A rename into the name seen while the file was still held outweighs
    // the writes that follow it.
    const bool renamed = event.kind == Kind::Renamed ||
                         (waitingHere != waiting_.end() && waitingHere->event.kind == Kind::Renamed);

    if (event.kind == Kind::Gone || !file.isFile || file.size == 0) {
        // Gone, a folder, or an empty file (a browser's placeholder): never a
        // finished download. A path that is gone may come back as a new download.
        if (event.kind == Kind::Gone || !file.isFile) forget(event.path);
        stopWaiting(event.path);
        return DownloadVerdict::Ignore;
    }
    if (file.heldByWriter) {
        if (waitingHere == waiting_.end()) {
            if (recheck) return DownloadVerdict::Ignore;  // given up meanwhile
            if (waiting_.size() >= kWaiting) waiting_.pop_front();
            waiting_.push_back({event, kRechecks});
        } else if (recheck) {
            if (--waitingHere->rechecksLeft <= 0) {
                waiting_.erase(waitingHere);
                return DownloadVerdict::Ignore;
            }
        } else {
            waitingHere->rechecksLeft = kRechecks;  // a fresh record: the writer is still at work
            if (renamed) waitingHere->event.kind = Kind::Renamed;
        }
        return DownloadVerdict::Wait;
    }
    stopWaiting(event.path);
    if (renamed) {
        // A rename into the name is a new file there, whatever was reminded before.
        forget(event.path);
    } else if (file.partialBeside || remembered(event.path, file.size)) {
        // Its tool is still at work beside it, or it was reminded already and
        // has not changed size since: a last-access update, the zone mark, a
        // permission change.
        return DownloadVerdict::Ignore;
    }
    forget(event.path);
    if (judged_.size() >= kRemembered) judged_.pop_front();
    judged_.push_back({event.path, file.size});
    return DownloadVerdict::Remind;
}
