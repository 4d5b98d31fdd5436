// Entry ranges on arbitrary bytes taken as a whole archive. Each entry is
// probed at every local-header signature; a range accepted there must lie
// inside the file, hold at least a local header, and not meet the range of
// any other accepted entry.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "zip/EntryRanges.h"
#include "zip/ZipResult.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    EntryRanges ranges;
    bool built = ranges.build(
        [data, size](uint64_t offset, uint8_t* buffer, size_t want) -> size_t {
            if (offset >= size) return 0;
            size_t n = want < size - offset ? want : size - static_cast<size_t>(offset);
            std::memcpy(buffer, data + offset, n);
            return n;
        },
        size);
    if (!built) return 0;
    std::vector<size_t> headers;
    for (size_t at = 0; at + 4 <= size; at++) {
        if (std::memcmp(data + at, "PK\x03\x04", 4) == 0) headers.push_back(at);
    }
    struct Accepted {
        uint64_t start, end;
    };
    std::vector<Accepted> accepted;
    uint64_t entries = ranges.entryCount() < 64 ? ranges.entryCount() : 64;
    for (uint64_t i = 0; i < entries; i++) {
        for (size_t h : headers) {
            // The shortest range: a header and no data.
            if (ranges.check(i, h, h + 30) != kZipOk) continue;
            if (h + 30 > size) std::abort();
            for (const Accepted& a : accepted) {
                if (h < a.end && a.start < h + 30) std::abort();
            }
            accepted.push_back({h, h + 30});
        }
    }
    return 0;
}
