// One deflate stream decoded on several threads against the same stream
// decoded by one: the same bytes from zlib's streams of every kind cut into
// small pieces, and on damage the same outcome, whichever pieces the threads
// guessed right.
#include "zip/ParallelInflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "tests/zip/DeflateOracles.h"
#include "tests/zip/ZipBuilder.h"
#include "zip/DeflateDecoder.h"
#include "zip/ZipResult.h"

namespace {

struct Outcome {
    int32_t rc = 0;
    Bytes bytes;
    ParallelInflateCounts counts;
};

// Decodes with small pieces (each thread reading through its own reader);
// cancelAfter stops after that many pieces. A slow caller waits a little
// after each piece, so that the threads take their share however busy the
// machine is.
Outcome inflate(const Bytes& stream, size_t piece, unsigned threads, size_t cancelAfter = SIZE_MAX,
                bool slowCaller = false) {
    Outcome o;
    size_t pieces = 0;
    ParallelInflateOptions options;
    options.threads = threads;
    options.piece = piece;
    options.maxPieceOutput = 1 << 20;
    o.rc = inflateInParallelFromMemory(stream, options, &o.bytes, &o.counts,
                                       [&](uint64_t bytes) {
                                           if (bytes && slowCaller) std::this_thread::sleep_for(std::chrono::milliseconds(2));
                                           return bytes == 0 || ++pieces < cancelAfter;
                                       });
    return o;
}

// Prose of a few hundred words, with noise between (stored blocks) and a
// run (length code 285).
Bytes mixed(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::string> words;
    for (int i = 0; i < 300; i++) {
        std::string w;
        for (int n = 2 + rng() % 7; n > 0; n--) w += static_cast<char>('a' + rng() % 26);
        words.push_back(w + ' ');
    }
    Bytes plain;
    while (plain.size() < size) {
        switch (rng() % 10) {
        case 0:
            for (int i = 0; i < 20000; i++) plain.push_back(static_cast<uint8_t>(rng()));
            break;
        case 1: plain.insert(plain.end(), 3000, 'z'); break;
        default:
            for (int i = 0; i < 5000; i++) {
                const std::string& word = words[rng() % words.size()];
                plain.insert(plain.end(), word.begin(), word.end());
            }
        }
    }
    return plain;
}

TEST(ParallelInflate, DecodesZlibStreamsOfEveryKindInSmallPieces) {
    Bytes plain = mixed(3 << 20, 1);
    // How many of the threads' pieces at least must come decoded, in
    // tenths (a piece no block starts in cannot be): fixed blocks cannot be
    // found at all, only zlib's stored noise.
    const struct {
        int level, strategy;
        size_t rightTenths;
    } kinds[] = {{1, Z_DEFAULT_STRATEGY, 7}, {6, Z_DEFAULT_STRATEGY, 7}, {9, Z_FILTERED, 7}, {6, Z_HUFFMAN_ONLY, 7},
                 {6, Z_RLE, 7},              {0, Z_DEFAULT_STRATEGY, 7}, {6, Z_FIXED, 0}};
    for (const auto& k : kinds) {
        Bytes stream = rawDeflate(plain.data(), plain.size(), k.level, k.strategy);
        for (unsigned threads : {2u, 3u}) {
            SCOPED_TRACE("level " + std::to_string(k.level) + " strategy " + std::to_string(k.strategy) + ", " +
                         std::to_string(threads) + " threads");
            Outcome o = inflate(stream, 64 * 1024, threads, SIZE_MAX, true);
            ASSERT_EQ(o.rc, kZipOk);
            EXPECT_TRUE(o.bytes == plain);
            EXPECT_GT(o.counts.byThreads, 4u);
            EXPECT_GE(o.counts.decodedAhead * 10, o.counts.byThreads * k.rightTenths);
            if (k.rightTenths == 0) {
                EXPECT_LT(o.counts.decodedAhead * 2, o.counts.byThreads);
            }
        }
    }
}

// Damage anywhere, and streams cut short or followed by other bytes: the
// outcome of one thread (bytes if it ends, an error if not).
TEST(ParallelInflate, EndsAsOneThreadDoesOnDamage) {
    Bytes plain = mixed(1 << 20, 2);
    Bytes stream = rawDeflate(plain.data(), plain.size(), 6);
    std::mt19937 rng(3);
    std::vector<std::pair<std::string, Bytes>> cases;
    for (int i = 0; i < 12; i++) {
        Bytes damaged = stream;
        size_t at = rng() % damaged.size();
        damaged[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
        cases.emplace_back("bit flipped at " + std::to_string(at), damaged);
    }
    cases.emplace_back("cut short", Bytes(stream.begin(), stream.end() - stream.size() / 3));
    Bytes followed = stream;
    for (int i = 0; i < 200000; i++) followed.push_back(static_cast<uint8_t>(rng()));
    cases.emplace_back("followed by noise", followed);
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        std::unique_ptr<MethodDecoder> one = makeDeflateDecoder();
        DecodeOutcome single = decodeInPieces(*one, bytes.data(), bytes.size(), 1 << 16, 1 << 16);
        Outcome o = inflate(bytes, 32 * 1024, 2);
        if (single.status == MethodDecoder::Status::ended) {
            EXPECT_EQ(o.rc, kZipOk);
            EXPECT_TRUE(o.bytes == single.bytes);
        } else {
            EXPECT_EQ(o.rc, kZipDataError);
        }
    }
}

TEST(ParallelInflate, StopsWhenCancelledOrWhenTheOutputFails) {
    Bytes plain = mixed(1 << 20, 4);
    Bytes stream = rawDeflate(plain.data(), plain.size(), 6);
    EXPECT_EQ(inflate(stream, 32 * 1024, 2, 3).rc, kZipCancelled);

    ParallelInflateIo io;
    io.read = [&](uint64_t offset, uint8_t* buffer, size_t size) {
        std::memcpy(buffer, stream.data() + offset, size);
        return true;
    };
    io.openReader = [] { return InflateReader(); };  // no reader: the caller decodes every piece
    size_t emitted = 0;
    io.emit = [&](const uint8_t*, size_t size) { return (emitted += size) > 100000 ? kZipWriteFailed : 0; };
    ParallelInflateOptions options;
    options.piece = 32 * 1024;
    EXPECT_EQ(inflateInParallel(stream.size(), io, options), kZipWriteFailed);
}

}  // namespace
