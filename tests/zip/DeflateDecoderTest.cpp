// The table-driven decoder, as Deflate64 against the bit-by-bit decoder it
// replaced and against what the streams hold (streams written here bit by
// bit with the codes only Deflate64 has, stored blocks and damage; zlib's
// deflate streams; where 7z is installed, a stream 7z writes), and as
// deflate against zlib's inflate.
#include "zip/DeflateDecoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "DeflateOracles.h"
#include "ZipBuilder.h"

namespace {

using Status = MethodDecoder::Status;

// Writes deflate bits, first bit lowest; Huffman codes go most significant bit first.
class BitWriter {
public:
    void bits(uint32_t value, unsigned n) {
        for (unsigned i = 0; i < n; i++) put((value >> i) & 1);
    }
    void code(uint32_t code, unsigned length) {
        for (unsigned i = length; i-- > 0;) put((code >> i) & 1);
    }
    void align() {
        while (used_ % 8) put(0);
    }
    void byte(uint8_t b) { bits(b, 8); }
    Bytes done() const { return bytes_; }

private:
    void put(unsigned bit) {
        if (used_ % 8 == 0) bytes_.push_back(0);
        bytes_.back() |= static_cast<uint8_t>(bit << (used_ % 8));
        used_++;
    }
    Bytes bytes_;
    size_t used_ = 0;
};

// A fixed-Huffman Deflate64 block writer that also keeps the bytes the
// stream stands for.
struct FixedBlock {
    BitWriter& w;
    Bytes& plain;

    void symbol(unsigned s) {
        if (s < 144) w.code(0x30 + s, 8);
        else if (s < 256) w.code(0x190 + s - 144, 9);
        else if (s < 280) w.code(s - 256, 7);
        else w.code(0xC0 + s - 280, 8);
    }
    void literal(uint8_t b) {
        symbol(b);
        plain.push_back(b);
    }
    // A match; lengths past 258, or any with viaLongCode, take code 285.
    void match(uint32_t length, uint32_t distance, bool viaLongCode = false) {
        static const uint16_t base[28] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23,
                                          27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227};
        if (viaLongCode || length > 258) {
            symbol(285);
            w.bits(length - 3, 16);
        } else {
            unsigned c = 27;
            while (base[c] > length) c--;
            symbol(257 + c);
            unsigned extra = c < 8 ? 0 : c / 4 - 1;
            w.bits(length - base[c], extra);
        }
        unsigned d = 0;
        while (d < 31 && distanceBase(d + 1) <= distance) d++;
        w.code(d, 5);
        w.bits(distance - distanceBase(d), d < 4 ? 0 : d / 2 - 1);
        if (distance > plain.size()) return;  // damage the decoders must refuse
        for (uint32_t i = 0; i < length; i++) plain.push_back(plain[plain.size() - distance]);
    }
    static uint32_t distanceBase(unsigned d) {
        return d < 4 ? d + 1 : ((2u + (d & 1)) << (d / 2 - 1)) + 1;
    }
    void end() { symbol(256); }
};

void storedBlock(BitWriter& w, Bytes& plain, const Bytes& data, bool last) {
    w.bits(last, 1);
    w.bits(0, 2);
    w.align();
    w.bits(static_cast<uint32_t>(data.size()), 16);
    w.bits(static_cast<uint32_t>(data.size()) ^ 0xFFFF, 16);
    for (uint8_t b : data) w.byte(b);
    plain.insert(plain.end(), data.begin(), data.end());
}

Bytes noise(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(size);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

// A stream that uses the codes only Deflate64 has: distances past 32 KiB up
// to 65536, length code 285 for short and the longest matches, and matches
// that overlap themselves at distances 1 to 9.
struct Stream {
    Bytes compressed, plain;
};

Stream farAndLong() {
    Stream s;
    BitWriter w;
    // Stored noise first, so the far matches copy bytes that differ.
    storedBlock(w, s.plain, noise(65535, 1), false);
    storedBlock(w, s.plain, noise(100, 2), false);
    w.bits(1, 1);
    w.bits(1, 2);
    FixedBlock b{w, s.plain};
    b.match(300, 65536);
    b.match(65538, 32769);
    b.match(3, 49153, true);
    b.match(258, 65535);
    for (uint32_t d = 1; d <= 9; d++) {
        b.literal(static_cast<uint8_t>('a' + d));
        b.match(1000 + d, d);
    }
    b.match(65538, 40000);
    b.end();
    s.compressed = w.done();
    return s;
}

Stream storedOnly(std::initializer_list<size_t> sizes) {
    Stream s;
    BitWriter w;
    size_t i = 0;
    for (size_t size : sizes) storedBlock(w, s.plain, noise(size, static_cast<uint32_t>(size)), ++i == sizes.size());
    s.compressed = w.done();
    return s;
}

const size_t kPieces[] = {1, 2, 3, 7, 8, 9, 15, 16, 17, 64, 4095, 65536, size_t{1} << 24};

class Deflate64Decoder : public testing::Test {
protected:
    // Both decoders, in every input and output piece size, must hand out
    // expected and end.
    void expectDecodes(const Stream& s, const char* what) {
        for (size_t in : kPieces) {
            for (size_t out : {size_t{1}, size_t{300}, size_t{65536}, size_t{1} << 24}) {
                if (out == 1 && in != 1) continue;  // byte by byte both ways is enough
                DecodeOutcome got = decodeInPieces(*fast, s.compressed.data(), s.compressed.size(), in, out);
                ASSERT_EQ(got.status, Status::ended) << what << " in " << in << " out " << out;
                ASSERT_TRUE(got.bytes == s.plain) << what << " in " << in << " out " << out;
            }
        }
        DecodeOutcome reference = decodeInPieces(*oracle, s.compressed.data(), s.compressed.size(), 4096, 4096);
        EXPECT_EQ(reference.status, Status::ended) << what;
        EXPECT_TRUE(reference.bytes == s.plain) << what;
    }

    // Both decoders agree on the stream's outcome, in several piece sizes.
    void expectAgree(const Bytes& stream, const std::string& what, std::initializer_list<size_t> pieces = {1, 5, 4096}) {
        for (size_t piece : pieces) {
            DecodeOutcome want = decodeInPieces(*oracle, stream.data(), stream.size(), piece, piece + 3, 1u << 20);
            DecodeOutcome got = decodeInPieces(*fast, stream.data(), stream.size(), piece, piece + 3, 1u << 20);
            ASSERT_EQ(got.status, want.status) << what << " piece " << piece;
            ASSERT_EQ(got.bytes.size(), want.bytes.size()) << what << " piece " << piece;
            ASSERT_TRUE(got.bytes == want.bytes) << what << " piece " << piece;
        }
    }

    std::unique_ptr<MethodDecoder> fast = makeDeflate64Decoder();
    Deflate64CodesSeen seen;
    std::unique_ptr<MethodDecoder> oracle = makeDeflate64Oracle(&seen);
};

TEST_F(Deflate64Decoder, DecodesEveryBlockKindInAnyPieces) {
    // Words in random order: zlib's matches stay shorter than 258, the one
    // length whose code Deflate64 reads differently.
    static const char* const kWords[] = {"quillo ", "zip ", "archive ", "entry ", "folder ", "name ", "size "};
    std::mt19937 rng(5);
    Bytes sample;
    while (sample.size() < 300000) {
        const char* word = kWords[rng() % 7];
        sample.insert(sample.end(), word, word + std::strlen(word));
    }
    BitWriter empty;
    empty.bits(1, 1);
    empty.bits(1, 2);
    empty.code(0, 7);  // end of block
    const struct {
        const char* what;
        Stream stream;
    } cases[] = {
        {"far and long matches", farAndLong()},
        {"stored blocks, one empty", storedOnly({4464, 0, 65535, 1})},
        {"one empty stored block", storedOnly({0})},
        {"one empty fixed block", {empty.done(), {}}},
        {"zlib's dynamic blocks", {rawDeflate(sample), sample}},
    };
    for (const auto& c : cases) expectDecodes(c.stream, c.what);
    EXPECT_GT(seen.longLengths, 0u);
    EXPECT_GT(seen.farDistances, 0u);
}

TEST_F(Deflate64Decoder, AgreesWithTheOracleOnEveryCutAndOnNoise) {
    // Each cut of a stream is an early end: no "ended", the same bytes so far.
    Stream s = farAndLong();
    for (size_t cut = 0; cut < s.compressed.size(); cut += cut < 200 ? 1 : 997) {
        Bytes prefix(s.compressed.begin(), s.compressed.begin() + static_cast<long>(cut));
        DecodeOutcome got = decodeInPieces(*fast, prefix.data(), prefix.size(), 17, 4096);
        EXPECT_EQ(got.status, Status::progress) << "cut " << cut;
        ASSERT_TRUE(std::equal(got.bytes.begin(), got.bytes.end(), s.plain.begin())) << "cut " << cut;
    }
    Bytes deflated = rawDeflate(std::string(100000, 'q') + "tail");
    for (uint32_t seed = 0; seed < 200; seed++) {
        expectAgree(noise(1 + seed * 7 % 600, seed), "noise " + std::to_string(seed));
        // A damaged zlib stream: deep in a block before the damage shows.
        Bytes flipped = deflated;
        flipped[seed * 13 % flipped.size()] ^= static_cast<uint8_t>(1u << (seed % 8));
        expectAgree(flipped, "flipped " + std::to_string(seed), {7, 4096});
    }
}

// A dynamic block whose code length code gives the symbols 0-14 4 bits and
// 15 and 16 5 bits, so the lengths are written as they are.
Bytes dynamicBlock(const std::vector<uint8_t>& literalLengths, const std::vector<uint8_t>& distanceLengths,
                   const std::vector<uint8_t>& codeLengthSymbols = {}) {
    BitWriter w;
    w.bits(1, 1);
    w.bits(2, 2);
    w.bits(static_cast<uint32_t>(literalLengths.size() - 257), 5);
    w.bits(static_cast<uint32_t>(distanceLengths.size() - 1), 5);
    w.bits(19 - 4, 4);
    static const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    for (uint8_t s : kOrder) w.bits(s < 15 ? 4 : s < 17 ? 5 : 0, 3);
    auto put = [&](uint8_t symbol) { symbol < 15 ? w.code(symbol, 4) : w.code(30 + (symbol - 15), 5); };
    if (!codeLengthSymbols.empty()) {
        for (uint8_t s : codeLengthSymbols) put(s);
        return w.done();
    }
    for (uint8_t l : literalLengths) put(l);
    for (uint8_t l : distanceLengths) put(l);
    // Zero bits after the header: the first code of the literal/length
    // table, for the streams that get that far.
    w.bits(0, 16);
    return w.done();
}

TEST_F(Deflate64Decoder, RefusesDamagedStreams) {
    std::vector<uint8_t> literals(257, 0), distances(2, 1);
    auto with = [](std::vector<uint8_t> lengths, std::initializer_list<std::pair<int, uint8_t>> set) {
        for (auto [s, l] : set) lengths[static_cast<size_t>(s)] = l;
        return lengths;
    };
    BitWriter tooFar, reserved, badStored;
    {
        Bytes plain;
        tooFar.bits(1, 1);
        tooFar.bits(1, 2);
        FixedBlock b{tooFar, plain};
        b.literal('a');
        b.literal('b');
        b.match(3, 3);
        b.end();
        reserved.bits(7, 3);
        badStored.bits(1, 3);
        badStored.align();
        badStored.bits(5, 16);
        badStored.bits(5, 16);
    }
    BitWriter longSymbol;  // symbol 286 in a fixed block
    longSymbol.bits(3, 3);
    longSymbol.code(0xC6, 8);
    const struct {
        const char* what;
        Bytes stream;
    } cases[] = {
        {"distance past the start", tooFar.done()},
        {"reserved block type", reserved.done()},
        {"stored length and its complement differ", badStored.done()},
        {"literal/length symbol 286", longSymbol.done()},
        {"over-subscribed literal code", dynamicBlock(with(literals, {{'a', 1}, {'b', 1}, {256, 1}}), distances)},
        {"incomplete literal code", dynamicBlock(with(literals, {{'a', 2}, {256, 2}}), distances)},
        {"no end of block", dynamicBlock(with(literals, {{'a', 1}, {'b', 1}}), distances)},
        {"over-subscribed distance code", dynamicBlock(with(literals, {{'a', 1}, {256, 1}}), {1, 1, 1})},
        {"more than 286 literal lengths", dynamicBlock(std::vector<uint8_t>(287, 9), distances)},
        {"a repeat with nothing before it", dynamicBlock(literals, distances, {16, 0})},
    };
    for (const auto& c : cases) {
        for (size_t piece : {size_t{1}, size_t{3}, size_t{4096}}) {
            DecodeOutcome got = decodeInPieces(*fast, c.stream.data(), c.stream.size(), piece, piece);
            EXPECT_EQ(got.status, Status::failed) << c.what << " piece " << piece;
        }
        expectAgree(c.stream, c.what);
    }
    // A single one-bit code is a usable code (zlib's rule), and so is a
    // block with no distance codes until a match needs one.
    Bytes single = dynamicBlock(with(literals, {{256, 1}}), {0});
    DecodeOutcome got = decodeInPieces(*fast, single.data(), single.size(), 1, 1);
    EXPECT_EQ(got.status, Status::ended);
}

// The stored data of a ZIP's first entry.
Bytes firstEntryData(const Bytes& zip) {
    auto u16 = [&](size_t at) { return static_cast<size_t>(zip[at] | zip[at + 1] << 8); };
    size_t size = u16(18) | u16(20) << 16, start = 30 + u16(26) + u16(28);
    return Bytes(zip.begin() + static_cast<long>(start), zip.begin() + static_cast<long>(start + size));
}

TEST_F(Deflate64Decoder, ReadsWhat7zWrites) {
    // Blocks of noise that come back 40 KiB and 60 KiB later, and a long
    // run: 7z writes distance codes 30 and 31 for them. Its matches stop at
    // 257 bytes, so length code 285 is left to the streams written above.
    if (std::system("7z i >/dev/null 2>&1") != 0) GTEST_SKIP() << "no 7z here";
    Bytes plain;
    for (uint32_t i = 0; i < 24; i++) {
        Bytes block = noise(20000, i);
        plain.insert(plain.end(), block.begin(), block.end());
        if (i < 3) continue;
        size_t back = plain.size() - (i % 2 ? 40000 : 60000);
        Bytes again(plain.begin() + static_cast<long>(back), plain.begin() + static_cast<long>(back + 10000));
        plain.insert(plain.end(), again.begin(), again.end());
    }
    plain.insert(plain.end(), 300000, 'z');
    std::string dir = testing::TempDir() + "d64-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed());
    std::string file = dir + "/plain.bin", zip = dir + "/plain.zip";
    ASSERT_EQ(std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(plain.data()),
                                                static_cast<std::streamsize>(plain.size()));
    ASSERT_EQ(std::system(("7z a -tzip -mm=Deflate64 -mx=9 -bso0 -bsp0 '" + zip + "' '" + file + "'").c_str()), 0);
    std::ifstream z(zip, std::ios::binary);
    Bytes archive((std::istreambuf_iterator<char>(z)), std::istreambuf_iterator<char>());
    EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
    ASSERT_GT(archive.size(), 30u);
    Stream s{firstEntryData(archive), plain};
    expectDecodes(s, "7z's stream");
    EXPECT_GT(seen.farDistances, 0u);
    EXPECT_GT(seen.farthestMatch, 49152u);
}


// Deflate (method 8) against zlib's raw inflate: the same bytes and the same
// outcome, on zlib's streams of every kind, on the codes deflate lacks and on
// damage.
class InflateDecoder : public Deflate64Decoder {
protected:
    InflateDecoder() {
        fast = makeDeflateDecoder();
        oracle = makeZlibInflateOracle();
    }
};

TEST_F(InflateDecoder, DecodesZlibStreamsOfEveryKindInAnyPieces) {
    // Prose, noise, noise that comes back nearly a window later, and a run
    // long enough for length code 285 (258 bytes here).
    std::mt19937 rng(9);
    Bytes plain;
    static const char* const kWords[] = {"quillo ", "zip ", "archive ", "entry ", "folder ", "name "};
    while (plain.size() < 200000) {
        const char* word = kWords[rng() % 6];
        plain.insert(plain.end(), word, word + std::strlen(word));
    }
    Bytes far = noise(20000, 3);
    plain.insert(plain.end(), far.begin(), far.end());
    Bytes between = noise(32000, 4);
    plain.insert(plain.end(), between.begin(), between.end());
    plain.insert(plain.end(), far.begin(), far.end());
    plain.insert(plain.end(), 100000, 'z');
    const struct {
        int level, strategy;
    } kinds[] = {{0, Z_DEFAULT_STRATEGY}, {1, Z_DEFAULT_STRATEGY}, {9, Z_DEFAULT_STRATEGY}, {6, Z_FILTERED},
                 {6, Z_HUFFMAN_ONLY},     {6, Z_RLE},              {6, Z_FIXED}};
    for (const auto& k : kinds) {
        std::string what = "level " + std::to_string(k.level) + " strategy " + std::to_string(k.strategy);
        expectDecodes({rawDeflate(plain.data(), plain.size(), k.level, k.strategy), plain}, what.c_str());
    }
    expectDecodes({rawDeflate(nullptr, 0, 6), {}}, "nothing");
}

TEST_F(InflateDecoder, RefusesWhatZlibRefuses) {
    BitWriter farCode;  // distance code 30 in a fixed block
    farCode.bits(3, 3);
    farCode.code(0x30 + 'a', 8);  // a literal first
    farCode.code(257 - 256, 7);
    farCode.code(30, 5);
    farCode.bits(0, 16);
    BitWriter manyDistances, incompleteLengthCode;
    manyDistances.bits(5, 3);  // last, dynamic
    manyDistances.bits(0, 5);
    manyDistances.bits(30, 5);  // 31 distance codes
    manyDistances.bits(0, 4);
    // Both streams end where zlib sees the damage: a decoder that waits for
    // more bits would say "not yet".
    incompleteLengthCode.bits(5, 3);
    incompleteLengthCode.bits(0, 10);
    incompleteLengthCode.bits(0, 4);  // four code length code lengths:
    incompleteLengthCode.bits(0, 9);
    incompleteLengthCode.bits(1, 3);  // symbol 0 alone, one bit
    const struct {
        const char* what;
        Bytes stream;
    } cases[] = {
        {"distances past 32 KiB and length code 285 with extra bits", farAndLong().compressed},
        {"distance code 30", farCode.done()},
        {"31 distance codes", manyDistances.done()},
        {"an incomplete code length code", incompleteLengthCode.done()},
    };
    for (const auto& c : cases) {
        DecodeOutcome got = decodeInPieces(*fast, c.stream.data(), c.stream.size(), 4096, 4096);
        EXPECT_EQ(got.status, Status::failed) << c.what;
        expectAgree(c.stream, c.what);
    }
}

TEST_F(InflateDecoder, AgreesWithZlibOnEveryCutAndOnDamage) {
    // Letters of a small alphabet first: their codes are short, so one table
    // entry often gives two literals, and a cut can fall between the two.
    Bytes plain = noise(2000, 5);
    for (uint8_t& b : plain) b = static_cast<uint8_t>('a' + b % 8);
    Bytes rest = noise(3000, 7);
    plain.insert(plain.end(), rest.begin(), rest.end());
    plain.insert(plain.end(), 5000, 'q');
    plain.insert(plain.end(), plain.begin(), plain.begin() + 3000);
    Bytes deflated = rawDeflate(plain), fixed = rawDeflate(plain.data(), plain.size(), 9, Z_FIXED);
    for (size_t cut = 0; cut < deflated.size(); cut += cut < 300 ? 1 : 97) {
        Bytes prefix(deflated.begin(), deflated.begin() + static_cast<long>(cut));
        expectAgree(prefix, "cut " + std::to_string(cut), {4096});
    }
    for (uint32_t seed = 0; seed < 300; seed++) {
        expectAgree(noise(1 + seed * 7 % 600, seed), "noise " + std::to_string(seed), {3, 4096});
        for (const Bytes* stream : {&deflated, &fixed}) {
            Bytes flipped = *stream;
            flipped[seed * 13 % flipped.size()] ^= static_cast<uint8_t>(1u << (seed % 8));
            expectAgree(flipped, "flipped " + std::to_string(seed), {7, 4096});
        }
    }
}

}  // namespace
