// An extraction run on a worker thread. The GUI thread starts it with the
// entries the main window lists and may cancel it; the worker hands them to
// the archive in one batch (a ZIP archive's are written on several threads,
// with the result of a run one after the other), records their outcomes in
// order, never touches a window, and hands its progress (at most ten times a
// second) and its result to the GUI thread through the mailbox.
//
// The run owns what it reads: it holds the archive object from its start
// until its thread has ended, and the worker never forgets that thread
// (see RunLifetime). While a run is alive no second one starts, and stop()
// returns only once the run has removed the file it was writing.
#pragma once

#include "app/extract/ExtractionPlan.h"
#include "app/extract/RunLifetime.h"
#include "archive/Archive.h"

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
    bool encrypted = false;  // the verdict found it encrypted
};

struct RunProgress {
    uint64_t doneBytes = 0, totalBytes = 0;  // stored bytes
    int64_t doneEntries = 0, totalEntries = 0;
};

struct RunResult {
    std::vector<EntryOutcome> outcomes;  // one per entry reached, in order
    bool cancelled = false;
    int64_t extracted = 0;               // with those written after a cancel
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
    ~ExtractionWorker() { stop(); }
    ExtractionWorker(const ExtractionWorker&) = delete;
    ExtractionWorker& operator=(const ExtractionWorker&) = delete;

    // GUI thread. Extracts the entries into destination (ending in "\");
    // the handlers run on the GUI thread. False while a run is alive (even
    // a cancelled one that has not ended yet) or when no thread could be made.
    // An encrypted entry is tried with password (empty for none) first; when
    // it does not fit, the worker asks onPassword and waits for the answer.
    bool start(std::shared_ptr<Archive> archive, std::wstring destination, std::vector<RunEntry> entries,
               std::string password, ProgressHandler onProgress, ResultHandler onResult, PasswordHandler onPassword);
    // From the start until the run's thread has ended and been joined.
    bool running() const { return lifetime_.alive(); }
    RunState state() const { return lifetime_.state(); }
    // Asks the run to stop within a bounded amount of output; its result follows.
    void cancel() { lifetime_.cancel(); }
    // Cancels and waits until the run's thread has ended (its partial file
    // removed); no handler runs afterwards.
    void stop();

private:
    struct Job;
    void finished(const std::shared_ptr<Job>& job, const RunResult& result);

    std::shared_ptr<Job> job_;
    RunLifetime lifetime_;
};
