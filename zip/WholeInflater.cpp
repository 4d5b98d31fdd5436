#include "zip/WholeInflater.h"

#include <libdeflate.h>

#include <atomic>

#include "zip/ZipResult.h"

namespace {

std::atomic<uint64_t> smallestBytes{WholeInflater::kDefaultLimits.smallest};
std::atomic<uint64_t> largestBytes{WholeInflater::kDefaultLimits.largest};

}  // namespace

WholeInflater::WholeInflater() = default;

WholeInflater::~WholeInflater() {
    if (decompressor_) libdeflate_free_decompressor(decompressor_);
}

WholeInflater::Limits WholeInflater::limits() {
    return {smallestBytes.load(std::memory_order_relaxed), largestBytes.load(std::memory_order_relaxed)};
}

void WholeInflater::setLimits(Limits limits) {
    smallestBytes.store(limits.smallest, std::memory_order_relaxed);
    largestBytes.store(limits.largest, std::memory_order_relaxed);
}

int32_t WholeInflater::inflate(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize, uint32_t crc) {
    // Its decode tables are made once and kept for the following entries.
    if (!decompressor_) decompressor_ = libdeflate_alloc_decompressor();
    if (!decompressor_) return kZipReadFailed;
    size_t produced = 0;
    // A stream that would go past outSize stops with INSUFFICIENT_SPACE, so
    // the declared size is never exceeded; one that ends early is short.
    libdeflate_result result =
        libdeflate_deflate_decompress_ex(decompressor_, in, inSize, out, outSize, nullptr, &produced);
    if (result != LIBDEFLATE_SUCCESS || produced != outSize) return kZipDataError;
    return libdeflate_crc32(0, out, outSize) == crc ? kZipOk : kZipDataError;
}
