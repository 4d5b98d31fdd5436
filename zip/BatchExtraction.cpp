// A batch of entries written on several threads, each reading the archive
// through a handle of its own. The calling thread prepares every entry in
// the list's order exactly as extractEntry would one after the other (the
// entry read, its name checked, its folders made, its path claimed, the room
// on the volume counted), hands the files out to the threads and reports
// each entry in order once it has ended. It alone calls the caller: the
// threads count the bytes they read, and it tells them to the caller's piece
// at least every kTellEveryMs, so a cancel reaches every thread as soon. Only
// the writing runs on the other threads, so the files on disk and the codes
// are those of a run one after the other, given three rules:
//  - entries that write the same file go one after the other: the later one
//    starts once the earlier one is reported;
//  - an entry whose preparation depends on how earlier ones end (a folder
//    where one of them writes its file, the room on the volume asked again,
//    see OutputFolder::dependsOnUnfinished) waits until they all have ended;
//  - encrypted entries wait until the first encrypted one is reported: the
//    password that opens it (asked for in its report, as the window does) is
//    theirs. One that failed with a password changed since is written again
//    with the new one before it is reported.
#include <atomic>
#include <climits>
#include <deque>
#include <exception>
#include <thread>
#include <unordered_map>

#include "zip/ArchiveReader.h"

namespace {

// How often at least the caller is told the bytes read and asked whether to go on.
constexpr DWORD kTellEveryMs = 20;

// The batch's own lock and wake-ups are the system's slim ones: under Wine
// they wait in the process (futexes), where a mutex or condition variable of
// the threads library would ask the Wine server at every hand-over, the very
// server every file creation waits for.
class SlimLock {
public:
    void enter() { ::AcquireSRWLockExclusive(&lock_); }
    void leave() { ::ReleaseSRWLockExclusive(&lock_); }
    // Sleeps until woken (or for ms), the lock left meanwhile.
    void sleep(CONDITION_VARIABLE& wake, DWORD ms = INFINITE) { ::SleepConditionVariableSRW(&wake, &lock_, ms, 0); }

    class Guard {
    public:
        explicit Guard(SlimLock& owner) : owner_(owner) { owner_.enter(); }
        ~Guard() { owner_.leave(); }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        SlimLock& owner_;
    };

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

// Entries prepared ahead of the next one to report, at most: what a batch
// holds does not grow with the archive.
constexpr size_t kPreparedAhead = 4096;

enum class EntryState { waiting, ready, running, ended };

// One entry from its preparation to its report.
struct BatchEntry {
    size_t position = 0;
    int32_t code = kZipOk;
    EntryState state = EntryState::ended;  // an entry without a file to write ends when prepared
    PreparedEntry prepared;
    EntryDetails details;          // a copy: the reader's own is a one-entry cache
    uint64_t stored = 0;           // its stored bytes as the caller counts them
    uint64_t told = 0;             // those counted for the caller (by the thread writing it, then the calling thread)
    bool encrypted = false;
    unsigned waits = 0;            // what it waits for: the earlier writer of its file, the first encrypted entry
    unsigned passwordVersion = 0;  // the password it was written with
    BatchEntry* next = nullptr;    // the next entry that writes the same file
};

}  // namespace

struct ArchiveReader::Batch {
    explicit Batch(const BatchEvents& e) : events(e) {}

    const BatchEvents& events;
    std::atomic<uint64_t> untold{0};  // stored bytes the threads read, not yet told
    ULONGLONG toldAt = 0;             // when the caller was last told (calling thread)
    SlimLock lock;  // guards the rest
    CONDITION_VARIABLE workReady = CONDITION_VARIABLE_INIT, entryEnded = CONDITION_VARIABLE_INIT;
    std::deque<BatchEntry*> ready;
    std::atomic<bool> stopping{false};
    bool closing = false;
    const BatchEntry* awaited = nullptr;  // the entry the calling thread sleeps for
    std::optional<std::string> password;
    unsigned passwordVersion = 0;
    std::exception_ptr failure;

    // A writing thread's piece hook: the bytes counted for the calling
    // thread to tell; false once the batch stops.
    bool piece(BatchEntry* entry, uint64_t bytes) {
        if (bytes) untold += untoldBytes(entry->told, entry->stored, bytes);
        return !stopping;
    }

    // Calling thread: tells the caller what was read, and more; false, and
    // the batch stops, when the caller says stop.
    bool tell(uint64_t more = 0) {
        toldAt = ::GetTickCount64();
        if (events.piece(untold.exchange(0) + more)) return true;
        stop();
        return false;
    }

    void stop() {
        {
            SlimLock::Guard hold(lock);
            stopping = true;
        }
        ::WakeAllConditionVariable(&workReady);
        ::WakeAllConditionVariable(&entryEnded);
    }

    void handOut(BatchEntry& entry, bool first) {
        {
            SlimLock::Guard hold(lock);
            entry.state = EntryState::ready;
            // One the next report waits for goes ahead of those prepared later.
            if (first)
                ready.push_front(&entry);
            else
                ready.push_back(&entry);
        }
        ::WakeConditionVariable(&workReady);
    }

    void release(BatchEntry& entry) {
        if (--entry.waits == 0) handOut(entry, true);
    }

    // A thread's life: the entries handed out, written with its own reader,
    // until the batch closes or stops.
    void write(ArchiveReader& reader) {
        BatchEntry* current = nullptr;
        reader.pieceHook_ = [this, &current](uint64_t bytes) { return piece(current, bytes); };
        unsigned version = UINT_MAX;
        for (;;) {
            {
                SlimLock::Guard hold(lock);
                while (!stopping && !closing && ready.empty()) lock.sleep(workReady);
                if (stopping || ready.empty()) return;
                current = ready.front();
                ready.pop_front();
                current->state = EntryState::running;
                if (version != passwordVersion) {
                    version = passwordVersion;
                    reader.password_ = password;
                }
                current->passwordVersion = version;
            }
            int32_t code = kZipCancelled;
            try {
                code = reader.writeEntry(current->details, current->prepared.output, current->prepared.folderLength);
            } catch (...) {
                {
                    SlimLock::Guard hold(lock);
                    if (!failure) failure = std::current_exception();
                }
                stop();
            }
            bool awaitedEnded;
            {
                SlimLock::Guard hold(lock);
                current->code = code;
                current->state = EntryState::ended;
                awaitedEnded = current == awaited;
            }
            if (awaitedEnded) ::WakeConditionVariable(&entryEnded);
        }
    }
};

void ArchiveReader::setPassword(const char* password) {
    password_.reset();
    if (password) password_ = password;
    if (batch_) {
        SlimLock::Guard hold(batch_->lock);
        batch_->password = password_;
        batch_->passwordVersion++;
    }
}

bool ArchiveReader::extractEntries(const std::vector<EntryRequest>& entries, unsigned threads,
                                   const BatchEvents& events) {
    if (entries.empty()) return true;
    if (threads > entries.size()) threads = static_cast<unsigned>(entries.size());
    std::vector<std::unique_ptr<ArchiveReader>> readers;
    while (readers.size() < threads) {
        std::unique_ptr<ArchiveReader> reader = openAnother();
        if (!reader) break;
        readers.push_back(std::move(reader));
    }
    if (readers.empty()) return false;

    Batch batch(events);
    batch.password = password_;
    std::deque<BatchEntry> planned;  // prepared and not yet reported, in order
    std::vector<std::thread> running;
    BatchEntry* rewriting = nullptr;  // the entry this thread writes again for a report
    // However the batch ends, its threads have ended before anything they
    // use goes, and the folders failed entries made are removed.
    struct Ending {
        ArchiveReader& reader;
        Batch& batch;
        std::vector<std::thread>& running;
        ~Ending() {
            {
                SlimLock::Guard hold(batch.lock);
                batch.closing = true;
                batch.stopping = true;
            }
            ::WakeAllConditionVariable(&batch.workReady);
            for (std::thread& t : running) t.join();
            reader.output_.endBatch();
            reader.batch_ = nullptr;
            reader.pieceHook_ = nullptr;
        }
    } ending{*this, batch, running};
    batch_ = &batch;
    // Writing an entry again for a report, this thread tells its bytes itself.
    pieceHook_ = [&batch, &rewriting](uint64_t bytes) {
        return !batch.stopping && batch.tell(untoldBytes(rewriting->told, rewriting->stored, bytes));
    };
    output_.beginBatch();
    for (std::unique_ptr<ArchiveReader>& reader : readers) {
        try {
            running.emplace_back(&Batch::write, &batch, std::ref(*reader));
        } catch (...) {
            break;  // fewer threads
        }
    }
    if (running.empty()) return false;

    std::unordered_map<std::wstring, BatchEntry*> lastWriter;  // by the file written, until reported
    enum class Gate { open, first, passed } encryptedGate = Gate::open;
    BatchEntry* firstEncrypted = nullptr;
    std::vector<BatchEntry*> held;

    const auto setUp = [&](BatchEntry& e) {
        e.stored = entries[e.position].storedSize;
        if (e.code != kZipOk || !e.prepared.write) return;  // ended as prepared
        e.details = *e.prepared.details;
        e.prepared.details = &e.details;
        e.encrypted = (e.details.flags & 0x01) != 0;
        e.state = EntryState::waiting;
        BatchEntry*& last = lastWriter[e.prepared.output];
        if (last) {
            last->next = &e;
            e.waits++;
        }
        last = &e;
        if (e.encrypted && encryptedGate == Gate::open) {
            encryptedGate = Gate::first;
            firstEncrypted = &e;
        } else if (e.encrypted && encryptedGate == Gate::first) {
            e.waits++;
            held.push_back(&e);
        }
        if (e.waits == 0) batch.handOut(e, false);
    };

    const auto deliver = [&](BatchEntry& e) {
        if (e.state != EntryState::ended) {
            // Never started, as the batch stopped: nothing of it stays.
            output_.entryEnded(e.prepared.output, e.prepared.made, false);
            return;
        }
        const std::function<int32_t()> again = [&] {
            if (!e.prepared.write) return e.code;
            rewriting = &e;
            e.passwordVersion = batch.passwordVersion;
            e.code = writeEntry(e.details, e.prepared.output, e.prepared.folderLength);
            rewriting = nullptr;
            return e.code;
        };
        if (e.encrypted && e.code != kZipOk && e.code != kZipCancelled && !batch.stopping &&
            e.passwordVersion != batch.passwordVersion)
            again();
        batch.tell(untoldBytes(e.told, e.stored, e.stored));
        events.report(e.position, e.code, again);
        if (e.prepared.write) {
            output_.entryEnded(e.prepared.output, e.prepared.made, e.code == kZipOk);
            auto last = lastWriter.find(e.prepared.output);
            if (last != lastWriter.end() && last->second == &e) lastWriter.erase(last);
            if (e.next) batch.release(*e.next);
        }
        if (&e == firstEncrypted) {
            encryptedGate = Gate::passed;
            firstEncrypted = nullptr;
            for (auto h = held.rbegin(); h != held.rend(); ++h) batch.release(**h);
            held.clear();
        }
    };

    // Whether the next entry to report has ended, or will never start.
    const auto frontDone = [&] {
        const BatchEntry& e = planned.front();
        return e.state == EntryState::ended || (batch.stopping && e.state != EntryState::running);
    };

    size_t nextToPrepare = 0;
    while (!planned.empty() || (nextToPrepare < entries.size() && !batch.stopping)) {
        if (!batch.stopping && ::GetTickCount64() - batch.toldAt >= kTellEveryMs) batch.tell();
        if (!planned.empty()) {
            bool done;
            {
                SlimLock::Guard hold(batch.lock);
                done = frontDone();
            }
            if (done) {
                deliver(planned.front());
                planned.pop_front();
                continue;
            }
        }
        if (!batch.stopping && nextToPrepare < entries.size() && planned.size() < kPreparedAhead) {
            const EntryRequest& request = entries[nextToPrepare];
            BatchEntry& e = planned.emplace_back();
            e.position = nextToPrepare;
            bool mustWait = false;
            e.code = prepareEntry(request.index, request.fileName, e.prepared, &mustWait);
            if (mustWait && planned.size() == 1) {
                // Everything before it has ended: its folders are as a run
                // one after the other would have left them.
                output_.settle();
                e.code = prepareEntry(request.index, request.fileName, e.prepared);
                mustWait = false;
            }
            if (!mustWait) {
                setUp(e);
                nextToPrepare++;
                continue;
            }
            planned.pop_back();  // prepared again once all before it have ended
        }
        if (planned.empty()) continue;  // stopped meanwhile
        SlimLock::Guard hold(batch.lock);
        batch.awaited = &planned.front();
        if (!frontDone()) batch.lock.sleep(batch.entryEnded, kTellEveryMs);
        batch.awaited = nullptr;
    }
    if (batch.failure) std::rethrow_exception(batch.failure);
    return true;
}
