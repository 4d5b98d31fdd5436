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

    // Extracts an entry, asking for the password while it does not fit. The
    // check byte lets one wrong password in 256 through; the CRC then fails,
    // which right after a new password counts as a wrong password once.
    int32_t extractWithPassword(Archive& zip, const RunEntry& entry) {
        int32_t rc = zip.extractEntry(entry.index, entry.name);
        bool again = false, newPassword = false, crcRetried = false;
        for (;;) {
            const bool crcAfterNew = newPassword && rc == kZipDataError && !crcRetried;
            if ((rc != kZipBadPassword && !crcAfterNew) || skipEncrypted || cancelled()) break;
            crcRetried = crcRetried || crcAfterNew;
            std::optional<std::string> typed = requestPassword(again);
            if (!typed) {
                skipEncrypted = !cancelled();
                break;
            }
            again = true;
            newPassword = true;
            password = std::move(*typed);
            zip.setPassword(password.c_str());
            rc = zip.extractEntry(entry.index, entry.name);
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

    EntryOutcome extractOne(Archive& zip, const RunEntry& entry, int32_t* rc) {
        *rc = kZipOk;
        if (isMacBookkeeping(entry.name)) return EntryOutcome::Skipped;
        if (entry.index < 0) return EntryOutcome::Damaged;
        if (unsafeEntryName(entry.name)) return EntryOutcome::UnsafePath;
        *rc = extractWithPassword(zip, entry);
        if (*rc == kZipBadPassword && skipEncrypted) return EntryOutcome::PasswordSkipped;
        return entryOutcome(*rc, entry.name, entry.storedSize, entry.size,
                            [this] { return freeBytesAt(destination).value_or(UINT64_MAX); }, entry.encrypted);
    }

    void run() {
        progress.totalEntries = static_cast<int64_t>(entries.size());
        for (const RunEntry& e : entries) progress.totalBytes += e.storedSize;
        reportProgress(true);
        Archive& zip = *archive;
        const bool baseSet = zip.setBaseFolder(destination) == kZipOk;
        zip.setPassword(password.empty() ? nullptr : password.c_str());
        uint64_t bytesBefore = 0;  // stored bytes of the entries done
        zip.setPieceHook([&](uint64_t bytes) {
            progress.doneBytes += bytes;
            reportProgress(false);
            return !cancelled();
        });
        for (const RunEntry& entry : entries) {
            if (cancelled()) {
                result.cancelled = true;
                break;
            }
            int32_t rc = kZipOk;
            const EntryOutcome outcome = baseSet ? extractOne(zip, entry, &rc) : EntryOutcome::CannotWrite;
            if (rc == kZipCancelled) {
                result.cancelled = true;
                break;
            }
            record(outcome);
            bytesBefore += entry.storedSize;
            progress.doneBytes = bytesBefore;
            ++progress.doneEntries;
            reportProgress(false);
        }
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
