#include "zip/MethodDecoder.h"

#include "zip/DeflateDecoder.h"

#include <bzlib.h>
#include <lzma.h>
#include <zstd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace {

// The stream libraries count in unsigned int: longer buffers go in pieces.
unsigned int clampToUint(size_t size) { return static_cast<unsigned int>(std::min<size_t>(size, UINT_MAX)); }

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

// LZMA (14): the ZIP form starts with a 4-byte header of its own (the
// writer's LZMA SDK version and the size of the properties, always 5), then
// the 5 property bytes and the raw LZMA stream. The stream may end with an
// end marker (general-purpose bit 1) or stop at the declared size; liblzma's
// LZMA1EXT filter takes both. The dictionary the properties ask for is
// allocated in full, so it is cut to the entry's size (no match reaches
// further back than the start) and refused above kMaxDictionary.
class LzmaDecoder final : public MethodDecoder {
public:
    static constexpr uint32_t kMaxDictionary = 256u << 20;

    ~LzmaDecoder() override { lzma_end(&lz_); }

    bool reset(uint64_t uncompressedSize) override {
        lzma_end(&lz_);
        lz_ = LZMA_STREAM_INIT;
        headerFill_ = 0;
        size_ = uncompressedSize;
        return true;
    }

    Status run(const uint8_t*& in, size_t& inSize, uint8_t*& out, size_t& outSize) override {
        while (headerFill_ < kHeaderSize && inSize > 0) {
            header_[headerFill_++] = *in++;
            inSize--;
            if (headerFill_ == kHeaderSize && !begin()) return Status::failed;
        }
        if (headerFill_ < kHeaderSize) return Status::progress;
        lz_.next_in = in;
        lz_.avail_in = inSize;
        lz_.next_out = out;
        lz_.avail_out = outSize;
        lzma_ret rc = lzma_code(&lz_, LZMA_RUN);
        in += inSize - lz_.avail_in;
        inSize = lz_.avail_in;
        out += outSize - lz_.avail_out;
        outSize = lz_.avail_out;
        // At the declared size the entry is complete; an end marker that may
        // follow is not waited for.
        if (rc == LZMA_STREAM_END || (rc == LZMA_OK && lz_.total_out == size_)) return Status::ended;
        return rc == LZMA_OK || rc == LZMA_BUF_ERROR ? Status::progress : Status::failed;
    }

private:
    static constexpr size_t kHeaderSize = 4 + 5;

    bool begin() {
        if (header_[2] != 5 || header_[3] != 0) return false;
        lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
        if (lzma_properties_decode(&filters[0], nullptr, header_ + 4, 5) != LZMA_OK) return false;
        auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
        uint64_t dictionary = std::max<uint64_t>(std::min<uint64_t>(options->dict_size, size_), LZMA_DICT_SIZE_MIN);
        options->dict_size = static_cast<uint32_t>(dictionary);
        options->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
        options->ext_size_low = static_cast<uint32_t>(size_);
        options->ext_size_high = static_cast<uint32_t>(size_ >> 32);
        bool ok = dictionary <= kMaxDictionary && lzma_raw_decoder(&lz_, filters) == LZMA_OK;
        free(options);  // allocated by liblzma with malloc
        return ok;
    }

    lzma_stream lz_ = LZMA_STREAM_INIT;
    uint8_t header_[kHeaderSize] = {};
    size_t headerFill_ = 0;
    uint64_t size_ = 0;
};

// Zstandard (93): libzstd's streaming decoder, windows of up to 128 MiB
// (zstd's own default limit); larger ones are refused.
class ZstdDecoder final : public MethodDecoder {
public:
    ~ZstdDecoder() override { ZSTD_freeDCtx(dctx_); }

    bool reset(uint64_t) override {
        if (!dctx_) {
            dctx_ = ZSTD_createDCtx();
            if (!dctx_ || ZSTD_isError(ZSTD_DCtx_setParameter(dctx_, ZSTD_d_windowLogMax, 27))) return false;
        }
        return !ZSTD_isError(ZSTD_DCtx_reset(dctx_, ZSTD_reset_session_only));
    }

    Status run(const uint8_t*& in, size_t& inSize, uint8_t*& out, size_t& outSize) override {
        ZSTD_inBuffer input{in, inSize, 0};
        ZSTD_outBuffer output{out, outSize, 0};
        size_t rc = ZSTD_decompressStream(dctx_, &output, &input);
        in += input.pos;
        inSize -= input.pos;
        out += output.pos;
        outSize -= output.pos;
        if (ZSTD_isError(rc)) return Status::failed;
        // 0: a whole frame was decoded and handed out.
        return rc == 0 ? Status::ended : Status::progress;
    }

private:
    ZSTD_DCtx* dctx_ = nullptr;
};

}  // namespace

std::unique_ptr<MethodDecoder> makeMethodDecoder(uint16_t method) {
    switch (method) {
    case 8: return makeDeflateDecoder();
    case 9: return makeDeflate64Decoder();
    case 12: return std::make_unique<Bzip2Decoder>();
    case 14: return std::make_unique<LzmaDecoder>();
    case 93: return std::make_unique<ZstdDecoder>();
    default: return nullptr;
    }
}

bool hasMethodDecoder(uint16_t method) { return method == 8 || method == 9 || method == 12 || method == 14 || method == 93; }
