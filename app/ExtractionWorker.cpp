#include "app/ExtractionWorker.h"

#include "app/GuiMailbox.h"
#include "app/ThreadHelpers.h"

#include <atomic>

namespace {

constexpr ULONGLONG kProgressEveryMs = 100;

bool isSystemLeadByte(unsigned char byte) { return ::IsDBCSLeadByte(byte) != FALSE; }

uint64_t freeBytesAt(const std::string& folder) {
    ULARGE_INTEGER available{};
    return ::GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr) ? available.QuadPart : UINT64_MAX;
}

}  // namespace

struct ExtractionWorker::Job {
    // Set by the GUI thread before the thread starts; read-only afterwards.
    std::shared_ptr<Unzip> archive;
    std::string destination;
    std::vector<RunEntry> entries;
    ProgressHandler onProgress;
    ResultHandler onResult;
    ExtractionWorker* owner = nullptr;  // GUI thread only; null once the owner stopped listening
    std::atomic<bool> cancel{false};

    // Worker thread.
    RunProgress progress;
    ULONGLONG lastPost = 0;

    void post(std::function<void()> task) { postToGui(std::move(task)); }

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
        if (unsafeEntryName(entry.name, isSystemLeadByte)) return EntryOutcome::UnsafePath;
        *rc = zip.extractEntry(entry.index, entry.name);
        EntryFigures figures{entry.storedSize, entry.size};
        if (*rc == kZipWriteFailed) figures.freeBytes = freeBytesAt(destination);
        return classifyResult(*rc, false, figures);
    }

    RunResult run() {
        RunResult result;
        progress.totalEntries = static_cast<int64_t>(entries.size());
        for (const RunEntry& e : entries) progress.totalBytes += e.storedSize;
        reportProgress(true);
        Unzip& zip = *archive;
        const bool baseSet = zip.setBaseFolder(destination) == kZipOk;
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
        return result;
    }

    std::shared_ptr<Job> self() { return weakSelf.lock(); }
    std::weak_ptr<Job> weakSelf;
};

bool ExtractionWorker::start(std::shared_ptr<Unzip> archive, std::string destination, std::vector<RunEntry> entries,
                             ProgressHandler onProgress, ResultHandler onResult) {
    if (job_ || !archive) return false;
    auto job = std::make_shared<Job>();
    job->weakSelf = job;
    job->archive = std::move(archive);
    job->destination = std::move(destination);
    job->entries = std::move(entries);
    job->onProgress = std::move(onProgress);
    job->onResult = std::move(onResult);
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
    // A worker that does not end in time keeps its own references and ends
    // by itself; nothing it posts is run for this owner.
    ::WaitForSingleObject(thread_.get(), timeoutMs);
    thread_.reset();
    job_.reset();
}
