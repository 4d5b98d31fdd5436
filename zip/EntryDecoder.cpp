#include "zip/EntryDecoder.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

struct EntryDecoder::Inflater {
    z_stream stream{};
    bool ready = false;
    ~Inflater() {
        if (ready) inflateEnd(&stream);
    }
};

uint8_t encryptionCheckByte(uint16_t flags, uint32_t crc, uint32_t dosDateTime) {
    return static_cast<uint8_t>(flags & 0x08 ? dosDateTime >> 8 : crc >> 24);
}

EntryDecoder::EntryDecoder(size_t outputPiece)
    : outputPiece_(outputPiece), output_(new uint8_t[outputPiece]), inflater_(new Inflater) {}

EntryDecoder::~EntryDecoder() = default;

int32_t EntryDecoder::start(const EntryParams& params, const char* password) {
    params_ = params;
    headerFill_ = 0;
    storedIn_ = 0;
    written_ = 0;
    crc_ = 0;
    ended_ = false;
    outputFill_ = 0;
    cipher_.reset();
    if (params.method != 0 && params.method != 8) return kZipBadEntry;
    if (params.encrypted) cipher_.emplace(password);
    if (params.method == 8) {
        // Raw deflate: no zlib header, 32 KB window. One stream per decoder,
        // reset between entries.
        int rc = inflater_->ready ? inflateReset(&inflater_->stream) : inflateInit2(&inflater_->stream, -MAX_WBITS);
        if (rc != Z_OK) return kZipDataError;
        inflater_->ready = true;
    }
    return kZipOk;
}

int32_t EntryDecoder::emit(const uint8_t* data, size_t size, ByteSink& sink) {
    if (size == 0) return kZipOk;
    for (size_t done = 0; done < size;) {
        uInt piece = static_cast<uInt>(std::min<size_t>(size - done, UINT_MAX));
        crc_ = static_cast<uint32_t>(crc32(crc_, data + done, piece));
        done += piece;
    }
    written_ += size;
    return sink.write(data, size);
}

int32_t EntryDecoder::flush(ByteSink& sink) {
    int32_t rc = emit(output_.get(), outputFill_, sink);
    outputFill_ = 0;
    return rc;
}

int32_t EntryDecoder::feed(uint8_t* data, size_t size, ByteSink& sink) {
    if (params_.encrypted && headerFill_ < kHeaderSize) {
        size_t take = std::min(size, kHeaderSize - headerFill_);
        for (size_t i = 0; i < take; i++) header_[headerFill_++] = cipher_->decryptByte(data[i]);
        data += take;
        size -= take;
        if (headerFill_ < kHeaderSize) return kZipOk;
        if (header_[kHeaderSize - 1] != params_.checkByte) return kZipBadPassword;
    }
    if (size == 0) return kZipOk;
    if (cipher_) cipher_->decrypt(data, size);
    storedIn_ += size;
    if (params_.method == 8) return inflateInput(data, size, sink);
    if (written_ + size > params_.uncompressedSize) return kZipDataError;
    return emit(data, size, sink);
}

int32_t EntryDecoder::inflateInput(uint8_t* data, size_t size, ByteSink& sink) {
    if (ended_) return kZipOk;  // bytes after the end of the stream carry nothing
    z_stream& zs = inflater_->stream;
    while (size > 0) {
        uInt piece = static_cast<uInt>(std::min<size_t>(size, UINT_MAX));
        zs.next_in = data;
        zs.avail_in = piece;
        for (;;) {
            if (outputFill_ == outputPiece_) {
                if (int32_t rc = flush(sink)) return rc;
            }
            zs.next_out = output_.get() + outputFill_;
            zs.avail_out = static_cast<uInt>(outputPiece_ - outputFill_);
            int rc = inflate(&zs, Z_NO_FLUSH);
            outputFill_ = outputPiece_ - zs.avail_out;
            if (written_ + outputFill_ > params_.uncompressedSize) return kZipDataError;
            if (rc == Z_STREAM_END) {
                ended_ = true;
                return kZipOk;
            }
            if (rc == Z_BUF_ERROR) break;  // needs more input
            if (rc != Z_OK) return kZipDataError;
            if (zs.avail_out != 0) break;  // took all input
        }
        data += piece;
        size -= piece;
    }
    return kZipOk;
}

int32_t EntryDecoder::finish(ByteSink& sink) {
    if (params_.encrypted && headerFill_ < kHeaderSize) return kZipDataError;
    if (params_.method == 8 && !ended_) {
        // Some writers store an empty entry as "deflated" with no data at all.
        bool emptyEntry = storedIn_ == 0 && params_.uncompressedSize == 0;
        if (!emptyEntry) return kZipDataError;
    }
    if (int32_t rc = flush(sink)) return rc;
    if (written_ != params_.uncompressedSize || crc_ != params_.crc) return kZipDataError;
    return kZipOk;
}
