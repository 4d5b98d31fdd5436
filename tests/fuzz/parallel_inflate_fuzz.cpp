// A deflate stream decoded in pieces on threads against the same stream
// decoded by one thread, on arbitrary bytes and, to reach deep into blocks,
// on a zlib stream of them with one bit flipped, cut into pieces of a few
// bytes so that every piece's start is a guess: when the single thread's
// stream ends, the same bytes; when it does not, an error.
#include <cstdint>

#include "DeflateOracles.h"
#include "ZipBuilder.h"
#include "zip/DeflateDecoder.h"
#include "zip/ZipResult.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    Bytes stream(data + 3, data + size);
    if (data[0] & 1) {
        stream = rawDeflate(stream.data(), stream.size(), 1 + data[1] % 9);
        size_t at = (data[1] * 131u + data[2]) % stream.size();
        if (data[0] & 2) stream[at] ^= static_cast<uint8_t>(1u << (at % 8));
    }
    if (stream.empty()) return 0;

    static auto single = makeDeflateDecoder();
    DecodeOutcome want = decodeInPieces(*single, stream.data(), stream.size(), stream.size(), 1 << 16, 64u << 20);

    Bytes got;
    ParallelInflateOptions options;
    options.threads = 2 + data[2] % 2;
    options.piece = 1 + data[2] % 251;
    options.maxPieceOutput = 1 + (static_cast<size_t>(data[1]) << 10);
    int32_t rc = inflateInParallelFromMemory(stream, options, &got);
    bool same = want.status == MethodDecoder::Status::ended ? rc == kZipOk && got == want.bytes : rc == kZipDataError;
    if (!same) __builtin_trap();
    return 0;
}
