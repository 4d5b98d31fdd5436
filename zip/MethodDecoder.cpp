#include "zip/MethodDecoder.h"

#include <bzlib.h>
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

// bzip2 (12): libbz2, one stream of blocks of up to 900 kB.
class Bzip2Decoder final : public MethodDecoder {
public:
    ~Bzip2Decoder() override { end(); }

    bool reset(uint64_t) override {
        // libbz2 has no reset: a stream is ended and begun again.
        end();
        bz_ = bz_stream{};
        ready_ = BZ2_bzDecompressInit(&bz_, 0, 0) == BZ_OK;
        return ready_;
    }

    Status run(const uint8_t*& in, size_t& inSize, uint8_t*& out, size_t& outSize) override {
        bz_.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(in));
        bz_.avail_in = clampToUint(inSize);
        bz_.next_out = reinterpret_cast<char*>(out);
        bz_.avail_out = clampToUint(outSize);
        unsigned int inBefore = bz_.avail_in, outBefore = bz_.avail_out;
        int rc = BZ2_bzDecompress(&bz_);
        in += inBefore - bz_.avail_in;
        inSize -= inBefore - bz_.avail_in;
        out += outBefore - bz_.avail_out;
        outSize -= outBefore - bz_.avail_out;
        if (rc == BZ_STREAM_END) return Status::ended;
        return rc == BZ_OK ? Status::progress : Status::failed;
    }

private:
    void end() {
        if (ready_) BZ2_bzDecompressEnd(&bz_);
        ready_ = false;
    }

    bz_stream bz_{};
    bool ready_ = false;
};

}  // namespace

std::unique_ptr<MethodDecoder> makeMethodDecoder(uint16_t method) {
    switch (method) {
    case 8: return std::make_unique<InflateDecoder>();
    case 12: return std::make_unique<Bzip2Decoder>();
    default: return nullptr;
    }
}

bool hasMethodDecoder(uint16_t method) { return method == 8 || method == 12; }
