#include "app/detect/DownloadRecordFilter.h"

#include "app/detect/DownloadRules.h"
#include "base/PathText.h"

std::optional<std::wstring> DownloadRecordFilter::takeOldName(std::wstring_view newPath) {
    const std::wstring folder = folderOfPath(newPath);
    auto match = oldNames_.end();
    for (auto it = oldNames_.begin(); it != oldNames_.end(); ++it) {
        if (folderOfPath(*it) == folder) match = it;
    }
    if (match == oldNames_.end()) {
        for (auto it = oldNames_.begin(); it != oldNames_.end(); ++it) {
            if (it->compare(0, 3, newPath.substr(0, 3)) == 0) match = it;
        }
    }
    if (match == oldNames_.end()) return std::nullopt;
    std::wstring old = std::move(*match);
    oldNames_.erase(match);
    return old;
}

std::optional<DownloadEvent> DownloadRecordFilter::feed(int action, std::wstring_view path) {
    using Kind = DownloadEvent::Kind;
    switch (action) {
    case kActionAdded:
    case kActionModified:
        if (isArchiveDownloadName(path)) return DownloadEvent{Kind::Written, std::wstring(path)};
        return std::nullopt;
    case kActionRemoved:
        if (isArchiveDownloadName(path)) return DownloadEvent{Kind::Gone, std::wstring(path)};
        // A tool that writes "a.zip" itself beside a control file ("a.zip.aria2")
        // deletes that file when it is done; "a.zip" may get no record of its own.
        if (std::wstring finished = finishedNameOfPartial(path); !finished.empty())
            return DownloadEvent{Kind::Written, std::move(finished)};
        return std::nullopt;
    case kActionRenamedOld:
        if (oldNames_.size() >= kPendingRenames) oldNames_.pop_front();
        oldNames_.emplace_back(path);
        if (isArchiveDownloadName(path)) return DownloadEvent{Kind::Gone, std::wstring(path)};
        return std::nullopt;
    case kActionRenamedNew: {
        const std::optional<std::wstring> old = takeOldName(path);
        if (!isArchiveDownloadName(path)) return std::nullopt;
        // "a.zip" renamed to "b.zip" (or "b.rar") is the user tidying up, not a download.
        if (old && isArchiveDownloadName(*old)) return std::nullopt;
        // Without its old name (lost in an overflow) the rename proves
        // nothing: judge the file as if it had been written in place.
        return DownloadEvent{old ? Kind::Renamed : Kind::Written, std::wstring(path)};
    }
    default:
        // Lost records (action 0) may have taken the new names of these renames.
        if (action == 0) oldNames_.clear();
        return std::nullopt;
    }
}
