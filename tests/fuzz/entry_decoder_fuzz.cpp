// The entry decoder on arbitrary stored bytes: the first bytes choose the
// method (stored or one of the decompressors), encryption, the declared size and how the rest is cut into pieces.
// Whatever the bytes, no more than the declared size may reach the sink.
// For Deflate64, the table-driven decoder must also do exactly what the
// bit-by-bit one it replaced does: the same bytes and the same outcome, on
// the bytes as they are and, to reach deep into blocks, on a zlib stream of
// them with one bit flipped.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "Deflate64Oracle.h"
#include "ZipBuilder.h"
#include "zip/Deflate64Decoder.h"
#include "zip/EntryDecoder.h"

namespace {

void compareDeflate64(const uint8_t* data, size_t size, size_t inPiece, size_t outPiece) {
    static auto fast = makeDeflate64Decoder();
    static auto oracle = makeDeflate64Oracle();
    DecodeOutcome want = decodeInPieces(*oracle, data, size, inPiece, outPiece, 1u << 20);
    DecodeOutcome got = decodeInPieces(*fast, data, size, inPiece, outPiece, 1u << 20);
    if (!(got == want)) std::abort();
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

    if (p.method == 9) {
        size_t outPiece = 1 + (static_cast<size_t>(data[2]) << (data[3] & 15)) % 70000;
        if (data[0] & 1) {
            Bytes flipped = deflateWithFlip(stored.data(), stored.size(), data[1] * 131u + data[2]);
            compareDeflate64(flipped.data(), flipped.size(), piece, outPiece);
        } else {
            compareDeflate64(stored.data(), stored.size(), piece, outPiece);
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
