#include "zip/MethodDecoder.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace {

// The stream libraries count in unsigned int: longer buffers go in pieces.
unsigned int clampToUint(size_t size) { return static_cast<unsigned int>(std::min<size_t>(size, UINT_MAX)); }

// Deflate (8): zlib's raw inflate, no zlib header, 32 KiB window.
class InflateDecoder final : public MethodDecoder {
public:
    ~InflateDecoder() override {
        if (ready_) inflateEnd(&zs_);
    }

    bool reset(uint64_t) override {
        int rc = ready_ ? inflateReset(&zs_) : inflateInit2(&zs_, -MAX_WBITS);
        ready_ = rc == Z_OK;
        return ready_;
    }

    Status run(const uint8_t*& in, size_t& inSize, uint8_t*& out, size_t& outSize) override {
        zs_.next_in = const_cast<Bytef*>(in);
        zs_.avail_in = clampToUint(inSize);
        zs_.next_out = out;
        zs_.avail_out = clampToUint(outSize);
        unsigned int inBefore = zs_.avail_in, outBefore = zs_.avail_out;
        int rc = inflate(&zs_, Z_NO_FLUSH);
        in += inBefore - zs_.avail_in;
        inSize -= inBefore - zs_.avail_in;
        out += outBefore - zs_.avail_out;
        outSize -= outBefore - zs_.avail_out;
        if (rc == Z_STREAM_END) return Status::ended;
        return rc == Z_OK || rc == Z_BUF_ERROR ? Status::progress : Status::failed;
    }

private:
    z_stream zs_{};
    bool ready_ = false;
};

}  // namespace

std::unique_ptr<MethodDecoder> makeMethodDecoder(uint16_t method) {
    switch (method) {
    case 8: return std::make_unique<InflateDecoder>();
    default: return nullptr;
    }
}

bool hasMethodDecoder(uint16_t method) { return method == 8; }
