#include "app/OpenQueue.h"

#include <algorithm>

void OpenQueue::insert(QueuedArchive archive, bool ahead) {
    // Those the user opened stand before the first download.
    auto at = ahead ? std::find_if(waiting_.begin(), waiting_.end(),
                                   [](const Waiting& w) { return w.archive.way == OpenWay::Remind; })
                    : waiting_.end();
    waiting_.insert(at, Waiting{std::move(archive), arrivals_++});
    keepBound();
}

void OpenQueue::keepBound() {
    while (waiting_.size() > kBound) {
        auto oldest = std::min_element(waiting_.begin(), waiting_.end(),
                                       [](const Waiting& a, const Waiting& b) { return a.arrival < b.arrival; });
        waiting_.erase(oldest);
    }
}

void OpenQueue::addDownload(std::wstring path) {
    if (current_ && current_->path == path) return;
    if (std::any_of(waiting_.begin(), waiting_.end(), [&](const Waiting& w) { return w.archive.path == path; }))
        return;
    insert({std::move(path), OpenWay::Remind}, false);
}

void OpenQueue::addOpened(const std::vector<std::wstring>& paths, OpenWay way) {
    for (const std::wstring& path : paths) {
        std::erase_if(waiting_, [&](const Waiting& w) { return w.archive.path == path; });
        insert({path, way}, true);
    }
}

const std::optional<QueuedArchive>& OpenQueue::advance(const std::function<bool(const std::wstring&)>& exists) {
    current_.reset();
    while (!waiting_.empty()) {
        QueuedArchive next = std::move(waiting_.front().archive);
        waiting_.erase(waiting_.begin());
        // What the user opened is shown even when gone, to say so; a
        // download that went away has nothing left to remind of.
        if (next.way != OpenWay::Remind || exists(next.path)) {
            current_ = std::move(next);
            break;
        }
    }
    return current_;
}

void OpenQueue::putBackCurrent() {
    if (!current_) return;
    QueuedArchive archive = std::move(*current_);
    current_.reset();
    insert(std::move(archive), true);
}

void OpenQueue::clear() {
    current_.reset();
    waiting_.clear();
}

std::string waitingLabel(size_t waiting) {
    if (waiting == 0) return {};
    return "还有" + (waiting > 99 ? std::string("99+") : std::to_string(waiting)) + "个";
}
