// Turns the watchers' change records into the few events that can mean a
// finished ZIP download. Browsers and download tools write a partial file
// ("a.zip.crdownload", "a.zip.part", "a.zip.xltd") and rename it when the
// download is complete; older writers write "a.zip" itself. No Windows
// headers: the record sequences of each tool are tested on the host.
//
// Not thread-safe: the watchers of several drives share one filter behind a
// lock of the caller's.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

struct DownloadEvent {
    enum class Kind {
        Renamed,  // a name that was not a ZIP name became one: finished at once
        Written,  // written in place (or it lost its partial file): judged once settled
        Gone,     // removed or renamed away
    };
    Kind kind;
    std::wstring path;
    bool operator==(const DownloadEvent&) const = default;
};

class DownloadRecordFilter {
public:
    // One change record (action and full path); the event it gives, if any.
    std::optional<DownloadEvent> feed(int action, std::wstring_view path);

    // Old names of renames kept while their new name is awaited.
    static constexpr size_t kPendingRenames = 16;

private:
    // The old name a rename's new name pairs with: the latest of the same
    // folder, else the latest of the same drive (a move between folders).
    std::optional<std::wstring> takeOldName(std::wstring_view newPath);

    std::deque<std::wstring> oldNames_;  // newest last
};
