#include "zip/ParallelInflate.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "zip/DeflateDecoder.h"
#include "zip/ZipResult.h"

namespace {

// Past its end a piece reads on in steps of this size, to the end of the
// block that crosses into the next piece.
constexpr size_t kReadStep = 1024 * 1024;
constexpr uint64_t kNever = ~uint64_t{0};

// A growing byte buffer that is not zeroed first.
class Bytes {
public:
    uint8_t* data() { return data_.get(); }
    size_t size() const { return size_; }
    // Room for at least n more bytes after size(); false beyond limit.
    bool reserve(size_t n, size_t limit) {
        if (size_ + n <= capacity_) return true;
        if (size_ + n > limit) return false;
        size_t capacity = std::min(limit, std::max(size_ + n, capacity_ * 2));
        std::unique_ptr<uint8_t[]> grown(new uint8_t[capacity]);
        if (size_) std::memcpy(grown.get(), data_.get(), size_);
        data_ = std::move(grown);
        capacity_ = capacity;
        return true;
    }
    size_t capacity() const { return capacity_; }
    void grow(size_t n) { size_ += n; }
    void clear() { size_ = 0; }

private:
    std::unique_ptr<uint8_t[]> data_;
    size_t size_ = 0, capacity_ = 0;
};

// The last 32 KiB handed out.
class History {
public:
    void add(const uint8_t* data, size_t size) {
        if (size >= kDeflateWindow) {
            bytes_.assign(data + size - kDeflateWindow, data + size);
            return;
        }
        bytes_.insert(bytes_.end(), data, data + size);
        if (bytes_.size() > kDeflateWindow) bytes_.erase(bytes_.begin(), bytes_.end() - kDeflateWindow);
    }
    const uint8_t* data() const { return bytes_.data(); }
    size_t size() const { return bytes_.size(); }

private:
    std::vector<uint8_t> bytes_;
};

// What a thread made of one piece.
struct Piece {
    bool claimed = false;     // by the caller or a thread
    bool done = false;
    bool usable = false;      // decoded from a block start it found
    // Of the stream: where that block starts, one of [startBit, lastStartBit]
    // for a stored block (they all read the same).
    uint64_t startBit = 0, lastStartBit = 0;
    uint64_t endBit = 0;      // where the block after its last one starts
    bool ended = false;       // its last block was the stream's last
    std::vector<uint16_t> marked;  // its first symbols, with markers
    Bytes bytes;                   // then plain bytes
};

// Feeds a block inflater from the stream at byte offset, with the bytes
// already read (data, size) first and then more read into more (kReadStep
// bytes), until it pauses, ends or fails. Output goes into the buffers
// room(&out, &size) gives (false: no more room) and then to sink(out,
// produced) (false: stop).
template <typename Room, typename Sink>
BlockInflater::Status inflateFrom(BlockInflater& inflater, const InflateReader& read, uint64_t offset,
                                  uint64_t compressedSize, const uint8_t* data, size_t size, uint8_t* more, Room room,
                                  Sink sink) {
    for (;;) {
        if (size == 0) {
            if (offset >= compressedSize) return BlockInflater::Status::failed;  // no end within the entry
            size_t want = static_cast<size_t>(std::min<uint64_t>(kReadStep, compressedSize - offset));
            if (!read(offset, more, want)) return BlockInflater::Status::failed;
            data = more;
            size = want;
        }
        size_t before = size;
        uint8_t* out = nullptr;
        size_t outSize = 0;
        if (!room(&out, &outSize)) return BlockInflater::Status::failed;
        uint8_t* outStart = out;
        BlockInflater::Status status = inflater.run(data, size, out, outSize);
        offset += before - size;
        if (!sink(outStart, static_cast<size_t>(out - outStart))) return BlockInflater::Status::failed;
        if (status != BlockInflater::Status::progress) return status;
    }
}

class Run {
public:
    Run(uint64_t compressedSize, const ParallelInflateIo& io, const ParallelInflateOptions& options)
        : size_(compressedSize), io_(io), options_(options),
          pieces_(static_cast<size_t>((compressedSize + options.piece - 1) / options.piece)) {}

    ~Run() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        for (std::thread& t : threads_) t.join();
    }

    ParallelInflateCounts counts() const { return counts_; }

    int32_t go() {
        threadCount_ = pieces_.size() < 4 ? 0 : std::max(1u, options_.threads) - 1;
        const InflateReader& read = io_.read;
        for (size_t i = 0; i < threadCount_; i++) {
            InflateReader own = io_.openReader();
            threads_.emplace_back([this, own] { work(own); });
        }
        for (size_t i = 0; i < pieces_.size() && !ended_; i++) {
            Piece& piece = pieces_[i];
            bool fits = false;
            {
                // A piece no thread took the caller decodes itself, in order
                // and straight to the output; so the threads take more
                // pieces where the caller is slower, and fewer where faster.
                std::unique_lock<std::mutex> lock(mutex_);
                at_ = i;
                if (piece.claimed) {
                    changed_.wait(lock, [&] { return piece.done; });
                    fits = piece.usable && piece.startBit <= stopBit_ && stopBit_ <= piece.lastStartBit;
                    counts_.byThreads++;
                } else {
                    piece.claimed = true;
                }
            }
            changed_.notify_all();
            int32_t rc = fits ? takeDecoded(piece) : decodeHere(i, read);
            counts_.pieces++;
            counts_.decodedAhead += fits;
            {
                // The buffers go to the next piece a thread decodes: their
                // pages are already there (the system's heap hands large
                // blocks back, and new ones fault in page by page).
                std::lock_guard<std::mutex> lock(mutex_);
                if (piece.bytes.capacity()) {
                    piece.bytes.clear();
                    spare_.push_back(std::move(piece.bytes));
                }
                if (piece.marked.capacity()) {
                    piece.marked.clear();
                    spareMarked_.push_back(std::move(piece.marked));
                }
            }
            if (rc) return rc;
            if (io_.progress && !io_.progress(pieceEnd(i) - pieceBegin(i))) return kZipCancelled;
        }
        return ended_ ? kZipOk : kZipDataError;
    }

private:
    uint64_t pieceBegin(size_t i) const { return i * uint64_t{options_.piece}; }
    uint64_t pieceEnd(size_t i) const { return std::min(size_, (i + 1) * uint64_t{options_.piece}); }
    // Where the blocks of piece i stop: at the first that starts in the next.
    uint64_t pauseBit(size_t i) const { return i + 1 < pieces_.size() ? pieceEnd(i) * 8 : kNever; }

    int32_t emit(const uint8_t* data, size_t size) {
        if (size == 0) return 0;
        history_.add(data, size);
        return io_.emit(data, size);
    }

    // A piece decoded ahead: its markers are the bytes before it.
    int32_t takeDecoded(Piece& piece) {
        // The markers name bytes of the history as it is before the piece:
        // a copy of it, while the piece's own bytes are added.
        std::vector<uint8_t> before(history_.data(), history_.data() + history_.size());
        size_t missing = kDeflateWindow - before.size();  // before the stream's start
        uint8_t* bytes = buffer();
        for (size_t done = 0; done < piece.marked.size();) {
            size_t n = std::min(kReadStep, piece.marked.size() - done);
            for (size_t i = 0; i < n; i++) {
                uint16_t symbol = piece.marked[done + i];
                if (symbol < kMarker) {
                    bytes[i] = static_cast<uint8_t>(symbol);
                    continue;
                }
                size_t at = symbol - kMarker;
                if (at < missing) return kZipDataError;  // a match from before the stream
                bytes[i] = before[at - missing];
            }
            if (int32_t rc = emit(bytes, n)) return rc;
            done += n;
        }
        if (int32_t rc = emit(piece.bytes.data(), piece.bytes.size())) return rc;
        stopBit_ = piece.endBit;
        ended_ = piece.ended;
        return 0;
    }

    // Piece i decoded in order, from where the one before stopped.
    int32_t decodeHere(size_t i, const InflateReader& read) {
        if (!inflater_) inflater_ = makeBlockInflater();
        if (!more_) more_.reset(new uint8_t[kReadStep]);
        uint64_t offset = stopBit_ / 8;
        uint64_t pause = pauseBit(i);
        inflater_->start(static_cast<unsigned>(stopBit_ % 8), history_.data(), history_.size(),
                         pause == kNever ? kNever : pause - offset * 8);
        int32_t stopped = 0;
        BlockInflater::Status status = inflateFrom(
            *inflater_, read, offset, size_, nullptr, 0, more_.get(),
            [&](uint8_t** out, size_t* room) {
                *out = buffer();
                *room = kReadStep;
                return true;
            },
            [&](const uint8_t* data, size_t size) {
                // A piece may hold much output: cancelling is heard in between.
                stopped = emit(data, size);
                if (!stopped && io_.progress && !io_.progress(0)) stopped = kZipCancelled;
                return stopped == 0;
            });
        if (stopped) return stopped;
        if (status == BlockInflater::Status::failed) return kZipDataError;
        stopBit_ = offset * 8 + inflater_->bitsTaken();
        ended_ = status == BlockInflater::Status::ended;
        return 0;
    }

    void work(const InflateReader& read) {
        std::unique_ptr<BlockInflater> inflater = makeBlockInflater();
        // The piece and what follows it up to a read step, then more.
        std::unique_ptr<uint8_t[]> input(new uint8_t[options_.piece + 2 * kReadStep]);
        for (;;) {
            size_t i;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                // The first piece no one took, two after the caller's next
                // on: a guessed piece takes a little longer than one decoded
                // in order, so the caller, decoding the two before it, seldom
                // waits for it (from right after its next, the caller waited
                // about a piece's time in three: 0.54 s against 0.51 s for
                // the 256 MiB entry under Wine). Within a few pieces: they
                // wait with their output.
                auto unclaimed = [&] {
                    size_t end = std::min(pieces_.size(), at_ + 3 + threadCount_ + 1);
                    for (size_t j = at_ + 3; j < end; j++)
                        if (!pieces_[j].claimed) return j;
                    return end < pieces_.size() ? SIZE_MAX : pieces_.size();
                };
                changed_.wait(lock, [&] { return stopping_ || unclaimed() != SIZE_MAX; });
                i = unclaimed();
                if (stopping_ || i >= pieces_.size()) return;
                pieces_[i].claimed = true;
                if (!spare_.empty()) {
                    pieces_[i].bytes = std::move(spare_.back());
                    spare_.pop_back();
                }
                if (!spareMarked_.empty()) {
                    pieces_[i].marked = std::move(spareMarked_.back());
                    spareMarked_.pop_back();
                }
            }
            decodeAhead(i, read, *inflater, input);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                pieces_[i].done = true;
            }
            changed_.notify_all();
        }
    }

    void decodeAhead(size_t i, const InflateReader& read, BlockInflater& inflater,
                     const std::unique_ptr<uint8_t[]>& input) {
        Piece& piece = pieces_[i];
        if (!read) return;  // no reader of its own: the caller decodes the piece
        uint64_t begin = pieceBegin(i), end = pieceEnd(i);
        size_t have = static_cast<size_t>(std::min<uint64_t>(size_ - begin, end - begin + kReadStep));
        if (!read(begin, input.get(), have)) return;
        uint64_t pause = pauseBit(i) == kNever ? kNever : (end - begin) * 8;
        uint64_t bit = 0;  // of the piece's input
        std::vector<uint8_t> history;
        if (i > 0) {
            MarkedRun run;
            run.symbols = std::move(piece.marked);
            // Only the last piece may hold the stream's end: elsewhere an end
            // is a false start's.
            inflateFromGuess(input.get(), have, 0, (end - begin) * 8, pause, pause == kNever,
                             options_.maxPieceOutput / sizeof(uint16_t), &run);
            if (run.end == MarkedRun::End::failed) return;
            piece.startBit = begin * 8 + run.startBit;
            piece.lastStartBit = begin * 8 + run.lastStartBit;
            piece.marked = std::move(run.symbols);
            bit = run.endBit;
            if (run.end != MarkedRun::End::known) {
                piece.endBit = begin * 8 + bit;
                piece.ended = run.end == MarkedRun::End::ended;
                piece.usable = true;
                return;
            }
            for (size_t k = piece.marked.size() - kDeflateWindow; k < piece.marked.size(); k++)
                history.push_back(static_cast<uint8_t>(piece.marked[k]));
        }
        uint64_t offset = bit / 8;
        inflater.start(static_cast<unsigned>(bit % 8), history.data(), history.size(),
                       pause == kNever ? kNever : pause - offset * 8);
        // What the piece holds, markers and bytes, stays within the limit.
        // Room for twice the compressed bytes at once: new memory costs a
        // fault a page, and every step of growing would be new.
        size_t limit = options_.maxPieceOutput - piece.marked.size() * sizeof(uint16_t);
        piece.bytes.reserve(std::min<size_t>(limit, 2 * options_.piece), limit);
        BlockInflater::Status status = inflateFrom(
            inflater, read, begin + have, size_, input.get() + offset, have - static_cast<size_t>(offset),
            input.get() + options_.piece + kReadStep,
            [&](uint8_t** out, size_t* room) {
                size_t want = std::min(kReadStep, limit - std::min(limit, piece.bytes.size()));
                if (want == 0 || !piece.bytes.reserve(want, limit)) return false;
                *out = piece.bytes.data() + piece.bytes.size();
                *room = want;
                return true;
            },
            [&](const uint8_t*, size_t size) {
                piece.bytes.grow(size);
                return true;
            });
        if (status == BlockInflater::Status::failed) return;
        piece.endBit = (begin + offset) * 8 + inflater.bitsTaken();
        piece.ended = status == BlockInflater::Status::ended;
        piece.usable = true;
    }

    const uint64_t size_;
    const ParallelInflateIo& io_;
    const ParallelInflateOptions options_;
    std::vector<Piece> pieces_;
    std::vector<std::thread> threads_;
    size_t threadCount_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    size_t at_ = 0;  // the piece the caller is at
    std::vector<Bytes> spare_;  // buffers of pieces handed out
    std::vector<std::vector<uint16_t>> spareMarked_;
    bool stopping_ = false;

    // The caller's: where the stream stands.
    uint64_t stopBit_ = 0;
    bool ended_ = false;
    History history_;
    std::unique_ptr<BlockInflater> inflater_;
    // The caller's output and input buffers.
    uint8_t* buffer() {
        if (!output_) output_.reset(new uint8_t[kReadStep]);
        return output_.get();
    }
    std::unique_ptr<uint8_t[]> output_;
    std::unique_ptr<uint8_t[]> more_;
    ParallelInflateCounts counts_;
};

}  // namespace

int32_t inflateInParallel(uint64_t compressedSize, const ParallelInflateIo& io, const ParallelInflateOptions& options,
                          ParallelInflateCounts* counts) {
    if (compressedSize == 0) return kZipDataError;
    Run run(compressedSize, io, options);
    int32_t rc = run.go();
    if (counts) *counts = run.counts();
    return rc;
}
