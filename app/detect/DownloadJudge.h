// Decides, on the GUI thread, which download events are reminded: a renamed
// download at once, a file written in place once it has settled, and each
// download once. The file's state is looked up by the caller and handed in,
// so the rules run on the host without Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "app/detect/DownloadRecordFilter.h"

// What the caller found at the event's path.
struct DownloadFileState {
    bool isFile = false;         // a file (not a folder) exists there
    uint64_t size = 0;
    bool heldByWriter = false;   // opening it for reading meets a sharing violation
    bool partialBeside = false;  // "a.zip.part", "a.zip.crdownload", ... exists beside it
};

enum class DownloadVerdict {
    Ignore,  // nothing to remind
    Wait,    // still held by its writer: look again a little later
    Remind,  // a finished download, not reminded before: remind it now
};

class DownloadJudge {
public:
    // Judges an event. `recheck` is true for another look at a path that was
    // waiting for its writer; each path gets kRechecks of those after its
    // last record, then it is given up.
    DownloadVerdict judge(const DownloadEvent& event, const DownloadFileState& file, bool recheck = false);

    // The events waiting for their writer to close the file, oldest first.
    std::vector<DownloadEvent> waiting() const;

    static constexpr size_t kRemembered = 64;  // judged paths remembered with their size
    static constexpr size_t kWaiting = 16;     // paths waiting for their writer at once
    static constexpr int kRechecks = 50;

private:
    struct Judged {
        std::wstring path;
        uint64_t size;
    };
    struct Waiting {
        DownloadEvent event;
        int rechecksLeft;
    };
    bool remembered(const std::wstring& path, uint64_t size) const;
    void forget(const std::wstring& path);
    void stopWaiting(const std::wstring& path);

    std::deque<Judged> judged_;  // newest last
    std::deque<Waiting> waiting_;
};
