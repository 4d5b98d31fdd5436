// An extraction run on a worker thread. The GUI thread starts it with the
// entries the main window lists and may cancel it; the worker extracts them
// in order, never touches a window, and hands its progress (at most ten
// times a second) and its result to the GUI thread through the mailbox.
#pragma once

#include "app/extract/ExtractionPlan.h"
#include "base/UniqueAny.h"
#include "zip/Unzip.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One listed entry, as the main window read it.
struct RunEntry {
    int32_t index = -1;   // -1: its information could not be read
    std::wstring name;    // the entry's Unicode name
    uint64_t storedSize = 0;
    uint64_t size = 0;
};

struct RunProgress {
    uint64_t doneBytes = 0, totalBytes = 0;  // stored bytes
    int64_t doneEntries = 0, totalEntries = 0;
};

struct RunResult {
    std::vector<EntryOutcome> outcomes;  // one per entry reached, in order
    bool cancelled = false;
    int64_t extracted = 0;
    int64_t failed = 0;                  // neither extracted nor skipped bookkeeping
    std::string password;                // the password that opened an encrypted entry, if any
};

class ExtractionWorker {
public:
    using ProgressHandler = std::function<void(const RunProgress&)>;
    using ResultHandler = std::function<void(const RunResult&)>;
    // Asks the user for the password (ANSI); again after a wrong one. Nothing for 取消.
    using PasswordHandler = std::function<std::optional<std::string>(bool again)>;

    ExtractionWorker() = default;
    ~ExtractionWorker() { stop(kStopWaitMs); }
    ExtractionWorker(const ExtractionWorker&) = delete;
    ExtractionWorker& operator=(const ExtractionWorker&) = delete;

    // GUI thread. Extracts the entries into destination (ending in "\");
    // the handlers run on the GUI thread. False when a run is going or no
    // thread could be made.
    // An encrypted entry is tried with password (empty for none) first; when
    // it does not fit, the worker asks onPassword and waits for the answer.
    bool start(std::shared_ptr<Unzip> archive, std::wstring destination, std::vector<RunEntry> entries,
               std::string password, ProgressHandler onProgress, ResultHandler onResult, PasswordHandler onPassword);
    // From the start until the result has been handed over (or stop).
    bool running() const { return job_ != nullptr; }
    // Asks the run to stop after the piece being written; its result follows.
    void cancel();
    // Cancels and waits for the worker at most timeoutMs; no handler runs
    // afterwards. The entry being written is abandoned through its file.
    void stop(DWORD timeoutMs);

    static constexpr DWORD kStopWaitMs = 5000;

private:
    struct Job;
    static DWORD WINAPI threadEntry(void* job);
    void finished(const std::shared_ptr<Job>& job, const RunResult& result);

    std::shared_ptr<Job> job_;
    UniqueHandle thread_;
};
