#include "app/extract/ExtractionWorker.h"

#include "base/FileSystem.h"
#include "base/GuiMailbox.h"

#include <windows.h>

namespace {

constexpr ULONGLONG kProgressEveryMs = 100;

}  // namespace

struct ExtractionWorker::Job {
    // Set by the GUI thread before the thread starts; read-only afterwards.
    std::shared_ptr<Archive> archive;
    std::wstring destination;
    std::vector<RunEntry> entries;
    ProgressHandler onProgress;
    ResultHandler onResult;
    PasswordHandler onPassword;
    std::string password;
    RunLifetime* lifetime = nullptr;    // the owner's; outlives the thread, which it joins
    ExtractionWorker* owner = nullptr;  // GUI thread only; null once the owner stopped listening
    std::weak_ptr<Job> weakSelf;

    // Worker thread.
    RunProgress progress;
    ULONGLONG lastPost = 0;
    RunResult result;
    bool skipEncrypted = false;  // 取消 was chosen: later encrypted entries are not asked for
    bool passwordAccepted = false;
    size_t nextEntry = 0;        // the first entry without an outcome yet
    bool cut = false;            // cancelled: no outcome is recorded from nextEntry on

    std::shared_ptr<Job> self() { return weakSelf.lock(); }
    bool cancelled() const { return lifetime->cancelled(); }
    // Whether the GUI thread still listens to this job (GUI thread only).
    bool listened() const { return owner && owner->job_.get() == this; }

    // Nothing when the user cancelled the dialog, the run was stopped or no
    // question could be asked.
    std::optional<std::string> requestPassword(bool again) {
        return lifetime->waitForPassword([&] {
            return postToGui([self = self(), again] {
                // A question that comes after a stop goes unasked: stop woke the run.
                if (!self->listened() || !self->onPassword || self->cancelled()) {
                    self->lifetime->answerPassword(std::nullopt);
                    return;
                }
                std::optional<std::string> typed;
                try {
                    typed = self->onPassword(again);
                } catch (...) {
                }
                // A run stopped while the dialog was up was woken by the stop;
                // its answer must not reach a later run.
                if (self->listened()) self->lifetime->answerPassword(std::move(typed));
            });
        });
    }

    // An entry's code once the password fits, asking for it while it does
    // not; again() extracts the entry once more. The check byte lets one
    // wrong password in 256 through; the CRC then fails, which right after a
    // new password counts as a wrong password once.
    int32_t withPassword(int32_t rc, const std::function<int32_t()>& again) {
        bool askAgain = false, newPassword = false, crcRetried = false;
        for (;;) {
            const bool crcAfterNew = newPassword && rc == kZipDataError && !crcRetried;
            if ((rc != kZipBadPassword && !crcAfterNew) || skipEncrypted || cancelled()) break;
            crcRetried = crcRetried || crcAfterNew;
            std::optional<std::string> typed = requestPassword(askAgain);
            if (!typed) {
                skipEncrypted = !cancelled();
                break;
            }
            askAgain = true;
            newPassword = true;
            password = std::move(*typed);
            archive->setPassword(password.c_str());
            rc = again();
        }
        if (cancelled() && rc == kZipBadPassword) rc = kZipCancelled;  // the question was cut short
        if (newPassword && rc == kZipOk) passwordAccepted = true;
        return rc;
    }

    void reportProgress(bool force) {
        const ULONGLONG now = ::GetTickCount64();
        if (!force && now - lastPost < kProgressEveryMs) return;
        lastPost = now;
        postToGui([self = self(), p = progress] {
            if (self->listened() && self->onProgress) self->onProgress(p);
        });
    }

    // The outcome of an entry that is never handed to the library, if it is one.
    std::optional<EntryOutcome> decidedBefore(const RunEntry& entry, bool baseSet) const {
        if (!baseSet) return EntryOutcome::CannotWrite;
        if (isMacBookkeeping(entry.name)) return EntryOutcome::Skipped;
        if (entry.index < 0) return EntryOutcome::Damaged;
        if (unsafeEntryName(entry.name)) return EntryOutcome::UnsafePath;
        return std::nullopt;
    }

    // One entry's end, in order: its outcome, or nothing once the run was
    // cut short by a cancel (a file written after that still counts).
    void ended(std::optional<EntryOutcome> outcome) {
        if (cut) {
            if (outcome == EntryOutcome::Extracted) ++result.extracted;
            return;
        }
        if (!outcome) {
            cut = true;
            return;
        }
        record(*outcome);
        ++progress.doneEntries;
        reportProgress(false);
    }

    // The entries decided without the library, up to entries[end], in order;
    // a cancel stops the run before any of them, as before any other entry.
    void decidedUpTo(size_t end, bool baseSet) {
        for (; nextEntry < end && !cut; nextEntry++) {
            const RunEntry& entry = entries[nextEntry];
            const std::optional<EntryOutcome> decided = decidedBefore(entry, baseSet);
            if (!decided) break;
            if (cancelled()) {
                cut = true;
                break;
            }
            progress.doneBytes += entry.storedSize;
            ended(decided);
        }
    }

    // The entries go to the archive in one batch, written on several threads
    // where the format allows; what the library does not decide (bookkeeping,
    // unreadable entries, unsafe names) is decided here, and every outcome is
    // recorded in the list's order.
    void run() {
        progress.totalEntries = static_cast<int64_t>(entries.size());
        for (const RunEntry& e : entries) progress.totalBytes += e.storedSize;
        reportProgress(true);
        Archive& zip = *archive;
        const bool baseSet = zip.setBaseFolder(destination) == kZipOk;
        zip.setPassword(password.empty() ? nullptr : password.c_str());
        std::vector<EntryRequest> requests;
        std::vector<size_t> requested;  // the position in entries of each request
        for (size_t i = 0; i < entries.size(); i++) {
            if (decidedBefore(entries[i], baseSet)) continue;
            requests.push_back({entries[i].index, entries[i].name, entries[i].storedSize});
            requested.push_back(i);
        }
        BatchEvents events;
        events.piece = [this](uint64_t bytes) {
            progress.doneBytes += bytes;
            reportProgress(false);
            return !cancelled();
        };
        size_t reported = 0;  // requests reported so far
        events.report = [&](size_t k, int32_t code, const std::function<int32_t()>& again) {
            // A request passed over was never started: the run was cancelled there.
            if (k != reported) cut = true;
            reported = k + 1;
            const RunEntry& entry = entries[requested[k]];
            decidedUpTo(requested[k], baseSet);
            if (cut) {
                ended(code == kZipOk ? std::optional<EntryOutcome>(EntryOutcome::Extracted) : std::nullopt);
                return;
            }
            nextEntry = requested[k] + 1;
            const int32_t rc = withPassword(code, again);
            if (rc == kZipCancelled) {
                ended(std::nullopt);
            } else if (rc == kZipBadPassword && skipEncrypted) {
                ended(EntryOutcome::PasswordSkipped);
            } else {
                ended(entryOutcome(rc, entry.name, entry.storedSize, entry.size,
                                   [this] { return freeBytesAt(destination).value_or(UINT64_MAX); },
                                   entry.encrypted));
            }
        };
        zip.extractEntries(requests, defaultExtractionThreads(), events);
        if (reported < requests.size()) cut = true;
        decidedUpTo(entries.size(), baseSet);
        result.cancelled = cut;
        if (passwordAccepted) result.password = password;
    }

    void record(EntryOutcome outcome) {
        result.outcomes.push_back(outcome);
        if (outcome == EntryOutcome::Extracted)
            ++result.extracted;
        else if (isFailure(outcome))
            ++result.failed;
    }

    // The thread's whole life: the run, then its result handed over. A run
    // that throws is a failure of the entries it had not finished, never a
    // cancel, and never an exception out of the thread.
    void live() {
        try {
            run();
        } catch (...) {
            try {
                result.cancelled = false;
                while (result.outcomes.size() < entries.size()) record(EntryOutcome::RunFailed);
            } catch (...) {
            }
        }
        archive->setPieceHook(nullptr);
        // Posted last: when it runs, the thread is about to end.
        postToGui([self = self()] {
            if (self->listened()) self->owner->finished(self, self->result);
        });
    }
};

bool ExtractionWorker::start(std::shared_ptr<Archive> archive, std::wstring destination, std::vector<RunEntry> entries,
                             std::string password, ProgressHandler onProgress, ResultHandler onResult,
                             PasswordHandler onPassword) {
    lifetime_.joinEnded();  // a run that ended without being heard of
    if (lifetime_.alive() || !archive) return false;
    auto job = std::make_shared<Job>();
    job->weakSelf = job;
    job->archive = std::move(archive);
    job->destination = std::move(destination);
    job->entries = std::move(entries);
    job->onProgress = std::move(onProgress);
    job->onResult = std::move(onResult);
    job->onPassword = std::move(onPassword);
    job->password = std::move(password);
    job->lifetime = &lifetime_;
    job->owner = this;
    job_ = job;
    // The thread holds the job (and through it the archive) until it ends.
    if (!lifetime_.start([job] { job->live(); })) {
        job_.reset();
        return false;
    }
    return true;
}

void ExtractionWorker::finished(const std::shared_ptr<Job>& job, const RunResult& result) {
    if (job != job_) return;
    lifetime_.stop();  // it posted this as its last step: the join is immediate
    job_.reset();
    job->owner = nullptr;
    if (job->onResult) job->onResult(result);
}

void ExtractionWorker::stop() {
    if (job_) job_->owner = nullptr;
    lifetime_.stop();
    job_.reset();
}
