#include "app/extract/ExtractionWorker.h"

#include "base/FileSystem.h"
#include "base/GuiMailbox.h"
#include "base/ThreadHelpers.h"

#include <atomic>
#include <mutex>

namespace {

constexpr ULONGLONG kProgressEveryMs = 100;

}  // namespace

struct ExtractionWorker::Job {
    // Set by the GUI thread before the thread starts; read-only afterwards.
    std::shared_ptr<Unzip> archive;
    std::wstring destination;
    std::vector<RunEntry> entries;
    ProgressHandler onProgress;
    ResultHandler onResult;
    PasswordHandler onPassword;
    std::string password;
    ExtractionWorker* owner = nullptr;  // GUI thread only; null once the owner stopped listening
    std::atomic<bool> cancel{false};

    // A password question: the GUI thread answers, the worker waits.
    UniqueHandle answered{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    std::mutex answerLock;
    std::optional<std::string> answer;

    void setAnswer(std::optional<std::string> a) {
        {
            std::lock_guard<std::mutex> guard(answerLock);
            answer = std::move(a);
        }
        ::SetEvent(answered.get());
    }

    // Worker thread.
    RunProgress progress;
    ULONGLONG lastPost = 0;

    void post(std::function<void()> task) { postToGui(std::move(task)); }

    // Nothing when the user cancelled the dialog, the run was stopped or no
    // question could be asked.
    std::optional<std::string> requestPassword(bool again) {
        if (!answered) return std::nullopt;
        {
            std::lock_guard<std::mutex> guard(answerLock);
            answer.reset();
        }
        const bool posted = postToGui([self = self(), again] {
            std::optional<std::string> a;
            if (self->owner && self->onPassword && !self->cancel.load()) a = self->onPassword(again);
            self->setAnswer(std::move(a));
        });
        if (!posted) return std::nullopt;
        ::WaitForSingleObject(answered.get(), INFINITE);
        std::lock_guard<std::mutex> guard(answerLock);
        return cancel.load() ? std::nullopt : answer;
    }

    bool skipEncrypted = false;  // 取消 was chosen: later encrypted entries are not asked for
    bool passwordAccepted = false;

    // Extracts an entry, asking for the password while it does not fit. The
    // check byte lets one wrong password in 256 through; the CRC then fails,
    // which right after a new password counts as a wrong password once.
    int32_t extractWithPassword(Unzip& zip, const RunEntry& entry) {
        int32_t rc = zip.extractEntry(entry.index, entry.name);
        bool again = false, newPassword = false, crcRetried = false;
        for (;;) {
            const bool crcAfterNew = newPassword && rc == kZipDataError && !crcRetried;
            if ((rc != kZipBadPassword && !crcAfterNew) || skipEncrypted || cancel.load()) break;
            crcRetried = crcRetried || crcAfterNew;
            std::optional<std::string> typed = requestPassword(again);
            if (!typed) {
                skipEncrypted = !cancel.load();
                break;
            }
            again = true;
            newPassword = true;
            password = std::move(*typed);
            zip.setPassword(password.c_str());
            rc = zip.extractEntry(entry.index, entry.name);
        }
        if (newPassword && rc == kZipOk) passwordAccepted = true;
        return rc;
    }

    void reportProgress(bool force) {
        const ULONGLONG now = ::GetTickCount64();
        if (!force && now - lastPost < kProgressEveryMs) return;
        lastPost = now;
        post([self = self(), p = progress] {
            if (self->owner && self->onProgress) self->onProgress(p);
        });
    }

    EntryOutcome extractOne(Unzip& zip, const RunEntry& entry, int32_t* rc) {
        *rc = kZipOk;
        if (isMacBookkeeping(entry.name)) return EntryOutcome::Skipped;
        if (entry.index < 0) return EntryOutcome::Damaged;
        if (unsafeEntryName(entry.name)) return EntryOutcome::UnsafePath;
        *rc = extractWithPassword(zip, entry);
        if (*rc == kZipBadPassword && skipEncrypted) return EntryOutcome::PasswordSkipped;
        EntryFigures figures{entry.storedSize, entry.size};
        if (*rc == kZipWriteFailed) figures.freeBytes = freeBytesAt(destination).value_or(UINT64_MAX);
        return classifyResult(*rc, false, figures);
    }

    RunResult run() {
        RunResult result;
        progress.totalEntries = static_cast<int64_t>(entries.size());
        for (const RunEntry& e : entries) progress.totalBytes += e.storedSize;
        reportProgress(true);
        Unzip& zip = *archive;
        const bool baseSet = zip.setBaseFolder(destination) == kZipOk;
        zip.setPassword(password.empty() ? nullptr : password.c_str());
        uint64_t bytesBefore = 0;  // stored bytes of the entries done
        zip.setPieceHook([&](uint64_t bytes) {
            progress.doneBytes += bytes;
            reportProgress(false);
            return !cancel.load(std::memory_order_relaxed);
        });
        for (const RunEntry& entry : entries) {
            if (cancel.load()) {
                result.cancelled = true;
                break;
            }
            int32_t rc = kZipOk;
            const EntryOutcome outcome = baseSet ? extractOne(zip, entry, &rc) : EntryOutcome::CannotWrite;
            if (rc == kZipCancelled) {
                result.cancelled = true;
                break;
            }
            result.outcomes.push_back(outcome);
            if (outcome == EntryOutcome::Extracted)
                ++result.extracted;
            else if (outcome != EntryOutcome::Skipped)
                ++result.failed;
            bytesBefore += entry.storedSize;
            progress.doneBytes = bytesBefore;
            ++progress.doneEntries;
            reportProgress(false);
        }
        zip.setPieceHook(nullptr);
        if (passwordAccepted) result.password = password;
        return result;
    }

    std::shared_ptr<Job> self() { return weakSelf.lock(); }
    std::weak_ptr<Job> weakSelf;
};

bool ExtractionWorker::start(std::shared_ptr<Unzip> archive, std::wstring destination, std::vector<RunEntry> entries,
                             std::string password, ProgressHandler onProgress, ResultHandler onResult,
                             PasswordHandler onPassword) {
    if (job_ || !archive) return false;
    auto job = std::make_shared<Job>();
    job->weakSelf = job;
    job->archive = std::move(archive);
    job->destination = std::move(destination);
    job->entries = std::move(entries);
    job->onProgress = std::move(onProgress);
    job->onResult = std::move(onResult);
    job->onPassword = std::move(onPassword);
    job->password = std::move(password);
    job->owner = this;
    // The thread holds the job through a reference of its own.
    auto* held = new std::shared_ptr<Job>(job);
    thread_ = startThread(threadEntry, held);
    if (!thread_) {
        delete held;
        return false;
    }
    job_ = std::move(job);
    return true;
}

DWORD WINAPI ExtractionWorker::threadEntry(void* parameter) {
    std::unique_ptr<std::shared_ptr<Job>> held(static_cast<std::shared_ptr<Job>*>(parameter));
    std::shared_ptr<Job> job = *held;
    RunResult result;
    // No exception may leave the thread: a run that fails ends as cancelled.
    try {
        result = job->run();
    } catch (...) {
        job->archive->setPieceHook(nullptr);
        result.cancelled = true;
    }
    job->post([job, result = std::move(result)] {
        if (job->owner) job->owner->finished(job, result);
    });
    return 0;
}

void ExtractionWorker::finished(const std::shared_ptr<Job>& job, const RunResult& result) {
    if (job != job_) return;
    ::WaitForSingleObject(thread_.get(), kStopWaitMs);  // it posted this as its last step
    thread_.reset();
    job_.reset();
    job->owner = nullptr;
    if (job->onResult) job->onResult(result);
}

void ExtractionWorker::cancel() {
    if (job_) job_->cancel.store(true);
}

void ExtractionWorker::stop(DWORD timeoutMs) {
    if (!job_) return;
    job_->cancel.store(true);
    job_->owner = nullptr;
    if (job_->answered) ::SetEvent(job_->answered.get());  // a worker waiting for a password
    // A worker that does not end in time keeps its own references and ends
    // by itself; nothing it posts is run for this owner.
    ::WaitForSingleObject(thread_.get(), timeoutMs);
    thread_.reset();
    job_.reset();
}
