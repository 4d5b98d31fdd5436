// The entry decoder on arbitrary stored bytes: the first bytes choose the
// method (stored or one of the decompressors), encryption, the declared size and how the rest is cut into pieces.
// Whatever the bytes, no more than the declared size may reach the sink.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "zip/EntryDecoder.h"

namespace {

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
