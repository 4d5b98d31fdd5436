#include "zip/EntryDecoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "ZipBuilder.h"
#include "zip/WinZipAes.h"

namespace {

struct CollectingSink final : ByteSink {
    Bytes data;
    size_t largestPiece = 0;
    int32_t failWith = 0;
    int32_t write(const uint8_t* p, size_t n) override {
        if (failWith) return failWith;
        data.insert(data.end(), p, p + n);
        largestPiece = std::max(largestPiece, n);
        return 0;
    }
};

Bytes sample(size_t size) {
    // Text with some repetition and some noise, so deflate has work to do.
    Bytes b(size);
    uint32_t x = 12345;
    for (size_t i = 0; i < size; i++) {
        x = x * 1103515245 + 12345;
        b[i] = i % 7 == 0 ? static_cast<uint8_t>(x >> 24) : static_cast<uint8_t>("quillo zip "[i % 11]);
    }
    return b;
}

uint32_t crcOf(const Bytes& b) { return static_cast<uint32_t>(crc32(0, b.data(), static_cast<uInt>(b.size()))); }

EntryParams paramsFor(uint16_t method, const Bytes& plain, const Bytes& stored) {
    EntryParams p;
    p.method = method;
    p.crc = crcOf(plain);
    p.compressedSize = stored.size();
    p.uncompressedSize = plain.size();
    return p;
}

// Feeds the stored bytes in pieces of the given size; the first failure ends it.
int32_t decode(EntryDecoder& d, const EntryParams& p, Bytes stored, size_t piece, CollectingSink& sink,
               const char* password = nullptr) {
    if (int32_t rc = d.start(p, password)) return rc;
    for (size_t at = 0; at < stored.size(); at += piece) {
        size_t n = std::min(piece, stored.size() - at);
        if (int32_t rc = d.feed(stored.data() + at, n, sink)) return rc;
    }
    return d.finish(sink);
}

TEST(EntryDecoder, DecompressesInAnyPieceSizeIntoBoundedOutputPieces) {
    Bytes plain = sample(300000);
    EntryDecoder d(4096);
    for (uint16_t method : kCompressedMethods) {
        Bytes stored = compressWith(method, plain);
        for (size_t piece : {size_t{1}, size_t{7}, size_t{4096}, stored.size()}) {
            CollectingSink sink;
            ASSERT_EQ(decode(d, paramsFor(method, plain, stored), stored, piece, sink), kZipOk) << method << " " << piece;
            EXPECT_EQ(sink.data, plain);
            EXPECT_LE(sink.largestPiece, 4096u);
        }
    }
}

TEST(EntryDecoder, CopiesStoredEntries) {
    Bytes plain = sample(10000);
    CollectingSink sink;
    EntryDecoder d;
    ASSERT_EQ(decode(d, paramsFor(0, plain, plain), plain, 333, sink), kZipOk);
    EXPECT_EQ(sink.data, plain);
}

TEST(EntryDecoder, RefusesWrongCrcAndWrongSizes) {
    Bytes plain = sample(50000);
    EntryDecoder d(8192);
    std::vector<uint16_t> methods = {0};
    methods.insert(methods.end(), std::begin(kCompressedMethods), std::end(kCompressedMethods));
    for (uint16_t method : methods) {
        Bytes stored = compressWith(method, plain);
        CollectingSink sink;
        EntryParams p = paramsFor(method, plain, stored);
        p.crc ^= 1;
        EXPECT_EQ(decode(d, p, stored, 1000, sink), kZipDataError) << method;

        // Declared shorter than the data: nothing past the declared size is handed on.
        p = paramsFor(method, plain, stored);
        p.uncompressedSize = 20000;
        CollectingSink shortSink;
        EXPECT_EQ(decode(d, p, stored, 1000, shortSink), kZipDataError) << method;
        EXPECT_LE(shortSink.data.size(), 20000u);

        // Declared longer than the data.
        p = paramsFor(method, plain, stored);
        p.uncompressedSize = plain.size() + 1;
        CollectingSink longSink;
        EXPECT_EQ(decode(d, p, stored, 1000, longSink), kZipDataError) << method;
    }
}

TEST(EntryDecoder, RefusesTruncatedAndCorruptStreams) {
    Bytes plain = sample(50000);
    EntryDecoder d;
    for (uint16_t method : kCompressedMethods) {
        Bytes stored = compressWith(method, plain);
        Bytes cut(stored.begin(), stored.begin() + static_cast<long>(stored.size() / 2));
        CollectingSink sink;
        EXPECT_EQ(decode(d, paramsFor(method, plain, cut), cut, 1000, sink), kZipDataError) << method;
        EXPECT_LT(sink.data.size(), plain.size());

        Bytes garbage(1000, 0xFF);  // for deflate, 0xFF starts a block of the reserved type 3
        CollectingSink sink2;
        EXPECT_EQ(decode(d, paramsFor(method, plain, garbage), garbage, 1000, sink2), kZipDataError) << method;
        EXPECT_TRUE(sink2.data.empty());

        // A flipped byte in the middle: the stream or the CRC-32 refuses it.
        Bytes flipped = stored;
        flipped[flipped.size() / 2] ^= 0x55;
        CollectingSink sink3;
        EXPECT_EQ(decode(d, paramsFor(method, plain, flipped), flipped, 1000, sink3), kZipDataError) << method;
    }
}

// A deflated entry is held to its declarations: exactly the declared size,
// the declared CRC-32, a stream that ends. The CRC-32 declared is that of
// the output cut or padded with zeros (as a file of the declared size would
// be) to the declared size, so that only the size check can refuse those
// entries.
TEST(EntryDecoder, DeflatedEntriesMatchTheirDeclarations) {
    const Bytes plain = sample(300000);
    const Bytes deflated = rawDeflate(plain);
    Bytes trailing = deflated;
    trailing.insert(trailing.end(), 100, 0xAB);
    Bytes flipped = deflated;
    flipped[flipped.size() / 2] ^= 0x55;
    const Bytes cut(deflated.begin(), deflated.begin() + static_cast<long>(deflated.size() / 2));
    const Bytes abc = {'a', 'b', 'c'};
    struct Case {
        const char* what;
        Bytes stored;
        const Bytes& expected;
        int64_t sizeChange;  // declared size minus the real one
        uint32_t crcXor;
        int32_t result;
    };
    const Case cases[] = {
        {"whole", deflated, plain, 0, 0, kZipOk},
        {"bytes after the end", trailing, plain, 0, 0, kZipOk},
        {"one fixed block", {0x4B, 0x4C, 0x4A, 0x06, 0x00}, abc, 0, 0, kZipOk},
        {"declared one byte short", deflated, plain, -1, 0, kZipDataError},
        {"declared one byte long", deflated, plain, 1, 0, kZipDataError},
        {"declared a fraction", deflated, plain, -200000, 0, kZipDataError},
        {"another CRC-32", deflated, plain, 0, 1, kZipDataError},
        {"cut in half", cut, plain, 0, 0, kZipDataError},
        {"a flipped byte", flipped, plain, 0, 0, kZipDataError},
        {"reserved block type", Bytes(1000, 0xFF), plain, 0, 0, kZipDataError},
    };
    EntryDecoder decoder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes declared = c.expected;
        declared.resize(static_cast<size_t>(static_cast<int64_t>(declared.size()) + c.sizeChange));
        EntryParams p = paramsFor(8, declared, c.stored);
        p.crc ^= c.crcXor;
        CollectingSink sink;
        EXPECT_EQ(decode(decoder, p, c.stored, 4096, sink), c.result);
        if (c.result == kZipOk) {
            EXPECT_EQ(sink.data, c.expected);
        }
    }
}

TEST(EntryDecoder, Deflate64ReadsDeflateStreamsThatStayWithinDeflate) {
    // No Deflate64 writer here: sample()'s matches are short, so zlib never
    // uses length code 285, the one code whose meaning differs; stored,
    // fixed and dynamic blocks are the same in both.
    Bytes plain = sample(200000);
    Bytes storedBlocks(plain.size() + 1000);
    uLongf size = static_cast<uLongf>(storedBlocks.size());
    z_stream zs{};
    deflateInit2(&zs, 0, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    zs.next_in = plain.data();
    zs.avail_in = static_cast<uInt>(plain.size());
    zs.next_out = storedBlocks.data();
    zs.avail_out = static_cast<uInt>(size);
    deflate(&zs, Z_FINISH);
    storedBlocks.resize(zs.total_out);
    deflateEnd(&zs);
    Bytes fixed = {0x4B, 0x4C, 0x4A, 0x06, 0x00};  // "abc", one fixed block
    Bytes abc = {'a', 'b', 'c'};
    EntryDecoder d(4096);
    for (const Bytes* stream : {&storedBlocks, &fixed}) {
        const Bytes& expected = stream == &fixed ? abc : plain;
        Bytes deflated = *stream;
        for (size_t piece : {size_t{1}, size_t{1000}, deflated.size()}) {
            CollectingSink sink;
            ASSERT_EQ(decode(d, paramsFor(9, expected, deflated), deflated, piece, sink), kZipOk) << piece;
            EXPECT_EQ(sink.data, expected);
        }
    }
    Bytes dynamic = rawDeflate(plain);
    for (size_t piece : {size_t{1}, size_t{333}, dynamic.size()}) {
        CollectingSink sink;
        ASSERT_EQ(decode(d, paramsFor(9, plain, dynamic), dynamic, piece, sink), kZipOk) << piece;
        EXPECT_EQ(sink.data, plain);
    }
    Bytes cut(dynamic.begin(), dynamic.begin() + static_cast<long>(dynamic.size() / 2));
    Bytes garbage(1000, 0xFF);
    for (const Bytes* bad : {&cut, &garbage}) {
        CollectingSink sink;
        EXPECT_EQ(decode(d, paramsFor(9, plain, *bad), *bad, 100, sink), kZipDataError);
    }
}

TEST(EntryDecoder, LzmaWithOrWithoutEndMarkerAndItsOwnHeader) {
    Bytes plain = sample(70000);
    EntryDecoder d(4096);
    for (bool marker : {true, false}) {
        Bytes stored = zipLzma(plain, marker);
        CollectingSink sink;
        EXPECT_EQ(decode(d, paramsFor(14, plain, stored), stored, 999, sink), kZipOk) << marker;
        EXPECT_EQ(sink.data, plain);
    }
    // Properties of another size than 5, and a dictionary past the limit
    // for an entry that large, are refused before any output.
    Bytes stored = zipLzma(plain, true);
    Bytes badHeader = stored;
    badHeader[2] = 6;
    CollectingSink sink;
    EXPECT_EQ(decode(d, paramsFor(14, plain, badHeader), badHeader, 999, sink), kZipDataError);
    Bytes hugeDictionary = stored;
    hugeDictionary[8] = 0x40;  // 1 GiB
    EntryParams p = paramsFor(14, plain, hugeDictionary);
    p.uncompressedSize = uint64_t{1} << 31;
    EXPECT_EQ(decode(d, p, hugeDictionary, 999, sink), kZipDataError);
    EXPECT_TRUE(sink.data.empty());
}

// A stand-in for the crypto library: the framing, the verifier, the counter
// and the code are the decoder's; the primitives need only be deterministic.
struct FakeAesCrypto final : AesCrypto {
    uint8_t mac[20] = {};
    size_t macAt = 0;
    static uint8_t derived(size_t i, const uint8_t* password, size_t n, const uint8_t* salt) {
        return static_cast<uint8_t>(i * 7 + n + (n ? password[0] : 0) + salt[0]);
    }
    bool deriveKey(const uint8_t* pw, size_t n, const uint8_t* salt, size_t, uint8_t* out, size_t size) override {
        for (size_t i = 0; i < size; i++) out[i] = derived(i, pw, n, salt);
        return true;
    }
    bool setKeys(const uint8_t*, size_t, const uint8_t*, size_t) override {
        std::fill(std::begin(mac), std::end(mac), 0);
        macAt = 0;
        return true;
    }
    static inline size_t calls = 0;  // encryptBlocks calls since the last reset
    bool encryptBlocks(const uint8_t* in, uint8_t* out, size_t size) override {
        calls++;
        if (size % 16 != 0 || size > WinZipAesDecryptor::kBatch) return false;
        for (size_t i = 0; i < size; i++) out[i] = in[i] ^ 0x5A;
        return true;
    }
    bool macUpdate(const uint8_t* data, size_t size) override {
        for (size_t i = 0; i < size; i++) mac[macAt++ % 20] ^= data[i];
        return true;
    }
    bool macFinish(uint8_t out[20]) override {
        std::copy(std::begin(mac), std::end(mac), out);
        return true;
    }
};
std::unique_ptr<AesCrypto> makeFakeAes() { return std::make_unique<FakeAesCrypto>(); }

// Salt, verifier, the data in counter mode (counter blocks from 1 through
// the fake cipher) and the code, for a 256-bit entry and password "pw".
Bytes fakeAesEntry(const Bytes& data) {
    Bytes salt(16, 0x33);
    const uint8_t pw[] = {'p', 'w'};
    Bytes out = salt;
    out.push_back(FakeAesCrypto::derived(64, pw, 2, salt.data()));
    out.push_back(FakeAesCrypto::derived(65, pw, 2, salt.data()));
    FakeAesCrypto mac;
    for (size_t i = 0; i < data.size(); i++) {
        uint64_t counter = i / 16 + 1;
        size_t at = i % 16;
        uint8_t key = static_cast<uint8_t>((at < 8 ? counter >> (8 * at) : 0) ^ 0x5A);
        uint8_t c = data[i] ^ key;
        mac.macUpdate(&c, 1);
        out.push_back(c);
    }
    out.insert(out.end(), mac.mac, mac.mac + 10);
    return out;
}

TEST(EntryDecoder, WinZipAesVerifierCounterAndCode) {
    Bytes plain = sample(20000);
    Bytes stored = fakeAesEntry(compressWith(12, plain));
    EntryDecoder d(4096);
    auto params = [&](const Bytes& bytes, bool ae1) {
        EntryParams p = paramsFor(12, plain, bytes);
        p.encrypted = true;
        p.aesStrength = 3;
        p.aesChecksCrc = ae1;
        if (!ae1) p.crc = 0;  // AE-2 stores no CRC-32
        return p;
    };
    CollectingSink unsupported;  // no crypto library given
    EXPECT_EQ(decode(d, params(stored, false), stored, 1, unsupported, "pw"), kZipReadFailed);
    d.setAesCrypto(makeFakeAes);
    for (size_t piece : {size_t{1}, size_t{17}, stored.size()}) {
        CollectingSink sink;
        ASSERT_EQ(decode(d, params(stored, false), stored, piece, sink, "pw"), kZipOk) << piece;
        EXPECT_EQ(sink.data, plain);
    }
    CollectingSink ae1;
    EXPECT_EQ(decode(d, params(stored, true), stored, 999, ae1, "pw"), kZipOk);

    CollectingSink wrong;
    EXPECT_EQ(decode(d, params(stored, false), stored, 999, wrong, "other"), kZipBadPassword);
    EXPECT_TRUE(wrong.data.empty());

    // A changed byte of data, a changed code, or a code cut short.
    Bytes tampered = stored;
    tampered[18 + 5] ^= 1;
    Bytes badCode = stored;
    badCode.back() ^= 1;
    Bytes cut(stored.begin(), stored.end() - 1);
    for (const Bytes* bytes : {&tampered, &badCode, &cut}) {
        CollectingSink sink;
        EXPECT_EQ(decode(d, params(*bytes, false), *bytes, 999, sink, "pw"), kZipDataError);
    }
    // AE-1 checks the CRC-32 as well.
    EntryParams badCrc = params(stored, true);
    badCrc.crc ^= 1;
    CollectingSink sink;
    EXPECT_EQ(decode(d, badCrc, stored, 999, sink, "pw"), kZipDataError);
}

// The key stream runs on across pieces that end inside a block, on a
// block's end or across batches; in one piece the entry takes one call per
// batch of key stream.
TEST(EntryDecoder, WinZipAesInPiecesOfAnySize) {
    const size_t batch = WinZipAesDecryptor::kBatch;
    Bytes plain = sample(2 * batch + 1000);
    Bytes stored = fakeAesEntry(plain);
    EntryParams p = paramsFor(0, plain, stored);
    p.encrypted = true;
    p.aesStrength = 3;
    EntryDecoder d(4096);
    d.setAesCrypto(makeFakeAes);
    for (size_t piece : {stored.size(), size_t{1}, size_t{15}, size_t{16}, size_t{17}, size_t{4095}, batch - 1, batch,
                         batch + 3, 2 * batch + 17}) {
        CollectingSink sink;
        FakeAesCrypto::calls = 0;
        ASSERT_EQ(decode(d, p, stored, piece, sink, "pw"), kZipOk) << piece;
        EXPECT_EQ(sink.data, plain) << piece;
        if (piece == stored.size()) {
            EXPECT_EQ(FakeAesCrypto::calls, 3u);
        }
    }
}

TEST(EntryDecoder, EmptyEntries) {
    EntryDecoder d;
    CollectingSink sink;
    Bytes none;
    EXPECT_EQ(decode(d, paramsFor(8, none, none), none, 1, sink), kZipOk);  // "deflated" with no data
    EXPECT_EQ(decode(d, paramsFor(8, none, rawDeflate(none)), rawDeflate(none), 1, sink), kZipOk);
    EXPECT_EQ(decode(d, paramsFor(0, none, none), none, 1, sink), kZipOk);
    for (uint16_t method : kCompressedMethods)
        EXPECT_EQ(decode(d, paramsFor(method, none, compressWith(method, none)), compressWith(method, none), 1, sink),
                  kZipOk)
            << method;
    EXPECT_TRUE(sink.data.empty());
}

TEST(EntryDecoder, RefusesUnknownMethodsAndPassesSinkFailuresOn) {
    Bytes plain = sample(100);
    EntryDecoder d;
    CollectingSink sink;
    EXPECT_EQ(decode(d, paramsFor(98, plain, plain), plain, 100, sink), kZipReadFailed);
    sink.failWith = kZipWriteFailed;
    EXPECT_EQ(decode(d, paramsFor(0, plain, plain), plain, 100, sink), kZipWriteFailed);
}

// Entries that Info-ZIP zip 3.0 encrypted with "zip -e -P pa55word" (general
// purpose flags 0x0B and 0x09: the check byte is the DOS time's high byte).
const uint32_t kVectorDosTime = 0x5d8808fc;
const Bytes kEncryptedDeflated = {
    0x89, 0x92, 0x9c, 0xb1, 0x75, 0x40, 0xd0, 0xd0, 0x2b, 0x13, 0x70, 0x6b, 0x1f, 0xca, 0x81, 0x87, 0x36, 0x62,
    0xaa, 0x34, 0x09, 0x86, 0x35, 0x81, 0x6e, 0x46, 0x06, 0x53, 0x75, 0x3a, 0x60, 0x67, 0x6f, 0x12, 0x71, 0x02,
    0x26, 0xf7, 0x08, 0x18, 0xb9, 0xc0, 0xf1, 0xaf, 0x35, 0x8f, 0xf9, 0x54, 0x17, 0x3c, 0x54, 0xc0, 0x30, 0x7f,
    0x01, 0x12, 0x32, 0x66, 0x7b, 0x5e, 0x40, 0xf1, 0xe7, 0x71, 0x8c, 0xf7, 0xa5, 0x2b, 0xee, 0x75, 0x5a, 0xc8};
const Bytes kEncryptedStored = {0x6f, 0x19, 0xbf, 0x72, 0xf7, 0x32, 0x52, 0x0e, 0xe7,
                                0x5b, 0x94, 0x65, 0xa0, 0x4d, 0x28, 0x14, 0xa7, 0x01};

EntryParams vectorParams(uint16_t method, uint16_t flags, uint32_t crc, const Bytes& stored, uint64_t size) {
    EntryParams p;
    p.method = method;
    p.encrypted = true;
    p.checkByte = encryptionCheckByte(flags, crc, kVectorDosTime);
    p.crc = crc;
    p.compressedSize = stored.size();
    p.uncompressedSize = size;
    return p;
}

TEST(EntryDecoder, DecryptsTraditionalEncryption) {
    const std::string line = "QuilloZIP test vector: traditional encryption, deflated.\n";
    EntryDecoder d;
    CollectingSink deflated;
    EntryParams p = vectorParams(8, 0x0B, 0x60787b22, kEncryptedDeflated, 114);
    ASSERT_EQ(decode(d, p, kEncryptedDeflated, 5, deflated, "pa55word"), kZipOk);
    EXPECT_EQ(std::string(deflated.data.begin(), deflated.data.end()), line + line);

    CollectingSink stored;
    p = vectorParams(0, 0x09, 0x5643f90b, kEncryptedStored, 6);
    ASSERT_EQ(decode(d, p, kEncryptedStored, 18, stored, "pa55word"), kZipOk);
    EXPECT_EQ(std::string(stored.data.begin(), stored.data.end()), "stored");
}

TEST(EntryDecoder, WrongOrMissingPasswordFailsBeforeAnyOutput) {
    EntryDecoder d;
    for (const char* password : {"pa55wore", "", static_cast<const char*>(nullptr)}) {
        CollectingSink sink;
        EntryParams p = vectorParams(8, 0x0B, 0x60787b22, kEncryptedDeflated, 114);
        EXPECT_EQ(decode(d, p, kEncryptedDeflated, 3, sink, password), kZipBadPassword);
        EXPECT_TRUE(sink.data.empty());
    }
    // Cut inside the 12-byte header.
    CollectingSink sink;
    Bytes cut(kEncryptedStored.begin(), kEncryptedStored.begin() + 8);
    EXPECT_EQ(decode(d, vectorParams(0, 0x09, 0x5643f90b, cut, 6), cut, 8, sink, "pa55word"), kZipDataError);
}

TEST(EntryDecoder, CheckByteComesFromTimeOrCrc) {
    EXPECT_EQ(encryptionCheckByte(0x09, 0x5643f90b, 0x5d8808fc), 0x08);
    EXPECT_EQ(encryptionCheckByte(0x01, 0x5643f90b, 0x5d8808fc), 0x56);
}

}  // namespace
