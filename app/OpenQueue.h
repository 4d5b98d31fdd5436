// The archives waiting for the user's eyes, one shown at a time: finished
// downloads in the order they finished, each reminded first; archives the
// user opened (command line, Explorer's verbs, a drop, the tray menu) go to
// the main window directly. No Windows headers: tested on the host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

enum class OpenWay {
    Remind,   // a finished download: the reminder shows it first
    List,     // opened by the user: the main window lists it
    Extract,  // "/extract": the main window lists it and extracts it beside itself
};

struct QueuedArchive {
    std::wstring path;
    OpenWay way = OpenWay::Remind;
    bool operator==(const QueuedArchive&) const = default;
};

class OpenQueue {
public:
    // More than this many waiting: the one that has waited longest goes.
    static constexpr size_t kBound = 64;

    // A finished download waits behind everything else; one that already
    // waits, or is shown, is not added again.
    void addDownload(std::wstring path);
    // Archives the user opened wait ahead of every download, in their own
    // order and behind those the user opened before; one waiting as a
    // download moves up and takes the new way.
    void addOpened(const std::vector<std::wstring>& paths, OpenWay way);

    // The archive shown now.
    const std::optional<QueuedArchive>& current() const { return current_; }
    bool showing() const { return current_.has_value(); }
    size_t waiting() const { return waiting_.size(); }
    // The next to be shown, if any waits.
    const QueuedArchive* peek() const { return waiting_.empty() ? nullptr : &waiting_.front().archive; }

    // Ends the shown archive and takes the next that still exists (one
    // deleted or renamed away while it waited is dropped); nothing when
    // none is left.
    const std::optional<QueuedArchive>& advance(const std::function<bool(const std::wstring&)>& exists);
    // A reminded download that an archive the user opened pushes aside
    // waits again, first among the downloads.
    void putBackCurrent();
    void clear();

private:
    struct Waiting {
        QueuedArchive archive;
        uint64_t arrival;
    };
    void insert(QueuedArchive archive, bool ahead);
    void keepBound();

    std::optional<QueuedArchive> current_;
    std::vector<Waiting> waiting_;  // in the order they will be shown
    uint64_t arrivals_ = 0;
};

// The reminder's "还有N个" beside the title (UTF-8): empty when none waits,
// "99+" for more than 99.
std::string waitingLabel(size_t waiting);
