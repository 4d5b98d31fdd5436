// The entry decoder on arbitrary stored bytes: the first bytes choose the
// method (stored or one of the decompressors), encryption, the declared size and how the rest is cut into pieces.
// Whatever the bytes, no more than the declared size may reach the sink.
// The table-driven decoder must also do what its reference does, on the
// bytes as they are and, to reach deep into blocks, on a zlib stream of them
// with one bit flipped. As Deflate64, exactly what the bit-by-bit decoder it
// replaced does: the same bytes and the same outcome. As deflate, what
// zlib's inflate does with a stream that ends: it ends for both or for
// neither, with the same bytes. A stream that never ends is damage to both,
// however far each read before saying so (zlib reads on through an empty
// code length code, one bit a length, where this decoder stops).
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "DeflateOracles.h"
#include "ZipBuilder.h"
#include "zip/DeflateDecoder.h"
#include "zip/EntryDecoder.h"

namespace {

void compareWithReference(uint16_t method, const uint8_t* data, size_t size, size_t inPiece, size_t outPiece) {
    static auto deflate64 = makeDeflate64Decoder();
    static auto deflate64Oracle = makeDeflate64Oracle();
    static auto deflate = makeDeflateDecoder();
    static auto zlib = makeZlibInflateOracle();
    MethodDecoder& fast = method == 9 ? *deflate64 : *deflate;
    MethodDecoder& oracle = method == 9 ? *deflate64Oracle : *zlib;
    DecodeOutcome want = decodeInPieces(oracle, data, size, inPiece, outPiece, 1u << 20);
    DecodeOutcome got = decodeInPieces(fast, data, size, inPiece, outPiece, 1u << 20);
    using Status = MethodDecoder::Status;
    bool same = method == 9 ? got == want
                            : (got.status == Status::ended) == (want.status == Status::ended) &&
                                  (got.status != Status::ended || got.bytes == want.bytes);
    if (!same) std::abort();
}

Bytes deflateWithFlip(const uint8_t* data, size_t size, size_t flipAt) {
    Bytes out = rawDeflate(data, size);
    if (!out.empty()) out[flipAt % out.size()] ^= static_cast<uint8_t>(1u << (flipAt % 8));
    return out;
}

struct CountingSink final : ByteSink {
    uint64_t total = 0;
    int32_t write(const uint8_t*, size_t n) override {
        total += n;
        return 0;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    EntryParams p;
    static const uint16_t kMethods[] = {0, 8, 9, 12, 14, 93};
    p.method = kMethods[(data[0] >> 3) % (sizeof kMethods / sizeof kMethods[0])];
    p.encrypted = data[0] & 2;
    p.checkByte = data[1];
    p.uncompressedSize = static_cast<uint64_t>(data[2]) << (data[3] & 15);
    std::vector<uint8_t> stored(data + 4, data + size);
    p.compressedSize = stored.size();
    size_t piece = 1 + data[1] % 97;

    if (p.method == 8 || p.method == 9) {
        size_t outPiece = 1 + (static_cast<size_t>(data[2]) << (data[3] & 15)) % 70000;
        if (data[0] & 1) {
            Bytes flipped = deflateWithFlip(stored.data(), stored.size(), data[1] * 131u + data[2]);
            compareWithReference(p.method, flipped.data(), flipped.size(), piece, outPiece);
        } else {
            compareWithReference(p.method, stored.data(), stored.size(), piece, outPiece);
        }
    }

    static EntryDecoder decoder(512);
    CountingSink sink;
    if (decoder.start(p, data[0] & 4 ? "pw" : nullptr) != kZipOk) return 0;
    int32_t rc = kZipOk;
    for (size_t at = 0; at < stored.size() && rc == kZipOk; at += piece) {
        size_t n = stored.size() - at < piece ? stored.size() - at : piece;
        rc = decoder.feed(stored.data() + at, n, sink);
    }
    if (rc == kZipOk) rc = decoder.finish(sink);
    if (sink.total > p.uncompressedSize) std::abort();
    if (rc == kZipOk && sink.total != p.uncompressedSize) std::abort();
    return 0;
}
