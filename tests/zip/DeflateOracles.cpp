#include "DeflateOracles.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>

namespace {

// Input is gathered in a small buffer; a block header or a symbol that is
// not all there yet is read again from its start once more input has come,
// so the decoder never needs to stop in the middle of one.
class Deflate64Oracle final : public MethodDecoder {
public:
    explicit Deflate64Oracle(Deflate64CodesSeen* seen) : seen_(seen) {}

    bool reset(uint64_t) override {
        pendingSize_ = 0;
        bitPos_ = 0;
        mode_ = Mode::header;
        last_ = false;
        total_ = 0;
        copyLeft_ = 0;
        return true;
    }

    Status run(const uint8_t*& in, size_t& inSize, uint8_t*& out, size_t& outSize) override {
        size_t take = std::min(inSize, sizeof pending_ - pendingSize_);
        std::copy(in, in + take, pending_ + pendingSize_);
        pendingSize_ += take;
        in += take;
        inSize -= take;
        Status status = decode(out, outSize);
        // Whole bytes already read are dropped from the buffer.
        size_t used = bitPos_ / 8;
        std::copy(pending_ + used, pending_ + pendingSize_, pending_);
        pendingSize_ -= used;
        bitPos_ -= used * 8;
        return status;
    }

private:
    enum class Mode { header, stored, codes, done };
    struct Huffman {
        uint16_t count[16];
        uint16_t symbol[288];
    };
    static constexpr size_t kWindow = 65536;

    // The next n bits, or false when the buffer holds fewer.
    bool bits(unsigned n, uint32_t* value) {
        if (bitPos_ + n > pendingSize_ * 8) return false;
        uint32_t v = 0;
        for (unsigned i = 0; i < n; i++, bitPos_++) v |= ((pending_[bitPos_ / 8] >> (bitPos_ % 8)) & 1u) << i;
        *value = v;
        return true;
    }

    // A symbol of the code: the symbol, -1 when the bits ran out, -2 when
    // the bits are no code.
    int decodeSymbol(const Huffman& h) {
        int code = 0, first = 0, index = 0;
        for (int len = 1; len < 16; len++) {
            uint32_t bit;
            if (!bits(1, &bit)) return -1;
            code |= static_cast<int>(bit);
            int count = h.count[len];
            if (code - count < first) return h.symbol[index + (code - first)];
            index += count;
            first += count;
            first <<= 1;
            code <<= 1;
        }
        return -2;
    }

    // Builds a canonical code from lengths; false for an over-subscribed set.
    static bool build(Huffman& h, const uint8_t* lengths, int n) {
        std::fill(std::begin(h.count), std::end(h.count), 0);
        for (int s = 0; s < n; s++) h.count[lengths[s]]++;
        int left = 1;
        for (int len = 1; len < 16; len++) {
            left = (left << 1) - h.count[len];
            if (left < 0) return false;
        }
        // Incomplete codes only as a single one-bit code or no code at all.
        int codes = n - h.count[0];
        if (left > 0 && codes != 0 && !(codes == 1 && h.count[1] == 1)) return false;
        uint16_t offsets[16] = {};
        for (int len = 1; len < 15; len++) offsets[len + 1] = static_cast<uint16_t>(offsets[len] + h.count[len]);
        for (int s = 0; s < n; s++) {
            if (lengths[s]) h.symbol[offsets[lengths[s]]++] = static_cast<uint16_t>(s);
        }
        return true;
    }

    void put(uint8_t byte, uint8_t*& out, size_t& outSize) {
        window_[total_ % kWindow] = byte;
        total_++;
        *out++ = byte;
        outSize--;
    }

    // 1 when a header was read, 0 when more input is needed, -1 for bad data.
    int readHeader() {
        uint32_t header, value;
        if (!bits(3, &header)) return 0;
        last_ = header & 1;
        switch (header >> 1) {
        case 0: {
            bitPos_ = (bitPos_ + 7) / 8 * 8;
            uint32_t length, inverse;
            if (!bits(16, &length) || !bits(16, &inverse)) return 0;
            if ((length ^ 0xFFFF) != inverse) return -1;
            storedLeft_ = length;
            mode_ = Mode::stored;
            return 1;
        }
        case 1: {
            uint8_t lengths[288 + 32];
            std::fill(lengths, lengths + 144, 8);
            std::fill(lengths + 144, lengths + 256, 9);
            std::fill(lengths + 256, lengths + 280, 7);
            std::fill(lengths + 280, lengths + 288, 8);
            std::fill(lengths + 288, lengths + 320, 5);
            build(lengthCode_, lengths, 288);
            build(distanceCode_, lengths + 288, 32);
            mode_ = Mode::codes;
            return 1;
        }
        case 2: break;
        default: return -1;
        }
        uint32_t nlen, ndist, ncode;
        if (!bits(5, &nlen) || !bits(5, &ndist) || !bits(4, &ncode)) return 0;
        nlen += 257;
        ndist += 1;
        ncode += 4;
        if (nlen > 286) return -1;
        static const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        uint8_t lengths[286 + 32] = {};
        for (uint32_t i = 0; i < ncode; i++) {
            if (!bits(3, &value)) return 0;
            lengths[kOrder[i]] = static_cast<uint8_t>(value);
        }
        Huffman lencode;
        if (!build(lencode, lengths, 19)) return -1;
        std::fill(lengths, lengths + 19, 0);
        for (uint32_t i = 0; i < nlen + ndist;) {
            int symbol = decodeSymbol(lencode);
            if (symbol == -1) return 0;
            if (symbol < 0) return -1;
            if (symbol < 16) {
                lengths[i++] = static_cast<uint8_t>(symbol);
                continue;
            }
            uint8_t repeated = 0;
            uint32_t times;
            if (symbol == 16) {
                if (i == 0) return -1;
                repeated = lengths[i - 1];
                if (!bits(2, &times)) return 0;
                times += 3;
            } else if (!bits(symbol == 17 ? 3 : 7, &times)) {
                return 0;
            } else {
                times += symbol == 17 ? 3 : 11;
            }
            if (i + times > nlen + ndist) return -1;
            while (times--) lengths[i++] = repeated;
        }
        if (lengths[256] == 0) return -1;  // no end of block
        if (!build(lengthCode_, lengths, static_cast<int>(nlen)) ||
            !build(distanceCode_, lengths + nlen, static_cast<int>(ndist)))
            return -1;
        mode_ = Mode::codes;
        return 1;
    }

    Status decode(uint8_t*& out, size_t& outSize) {
        static const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
        static const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
        static const uint16_t kDistanceBase[32] = {
            1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,    65,    97,    129,   193,
            257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
        static const uint8_t kDistanceExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                                   7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
        for (;;) {
            while (copyLeft_ > 0 && outSize > 0) {
                put(window_[(total_ - copyDistance_) % kWindow], out, outSize);
                copyLeft_--;
            }
            if (outSize == 0 && mode_ != Mode::done) return Status::progress;
            size_t start = bitPos_;
            switch (mode_) {
            case Mode::done: return Status::ended;
            case Mode::header: {
                int rc = readHeader();
                if (rc < 0) return Status::failed;
                if (rc == 0) {
                    bitPos_ = start;
                    return Status::progress;
                }
                break;
            }
            case Mode::stored: {
                size_t available = pendingSize_ - bitPos_ / 8;
                if (storedLeft_ > 0 && available == 0) return Status::progress;
                size_t n = std::min({storedLeft_, available, outSize});
                for (size_t i = 0; i < n; i++) put(pending_[bitPos_ / 8 + i], out, outSize);
                bitPos_ += n * 8;
                storedLeft_ -= n;
                if (storedLeft_ == 0) mode_ = last_ ? Mode::done : Mode::header;
                break;
            }
            case Mode::codes: {
                int symbol = decodeSymbol(lengthCode_);
                if (symbol == -2 || symbol > 285) return Status::failed;
                if (symbol == -1) {
                    bitPos_ = start;
                    return Status::progress;
                }
                if (symbol < 256) {
                    put(static_cast<uint8_t>(symbol), out, outSize);
                    break;
                }
                if (symbol == 256) {
                    mode_ = last_ ? Mode::done : Mode::header;
                    break;
                }
                uint32_t extra, distanceExtra;
                int d = -1;
                if (!bits(kLengthExtra[symbol - 257], &extra) || (d = decodeSymbol(distanceCode_)) == -1 ||
                    (d >= 0 && !bits(kDistanceExtra[d], &distanceExtra))) {
                    bitPos_ = start;
                    return Status::progress;
                }
                if (d < 0) return Status::failed;
                uint64_t distance = kDistanceBase[d] + distanceExtra;
                if (distance > total_ || distance > kWindow) return Status::failed;
                copyLeft_ = kLengthBase[symbol - 257] + extra;
                copyDistance_ = distance;
                if (seen_) {
                    seen_->longLengths += symbol == 285;
                    seen_->farDistances += d >= 30;
                    seen_->longestMatch = std::max<uint64_t>(seen_->longestMatch, copyLeft_);
                    seen_->farthestMatch = std::max<uint64_t>(seen_->farthestMatch, distance);
                }
                break;
            }
            }
        }
    }

    uint8_t pending_[4096] = {};
    size_t pendingSize_ = 0;
    size_t bitPos_ = 0;  // the next bit of pending_
    Mode mode_ = Mode::header;
    bool last_ = false;
    size_t storedLeft_ = 0;
    Huffman lengthCode_{}, distanceCode_{};
    std::unique_ptr<uint8_t[]> window_{new uint8_t[kWindow]};
    uint64_t total_ = 0;
    size_t copyLeft_ = 0;
    uint64_t copyDistance_ = 0;
    Deflate64CodesSeen* seen_;
};

}  // namespace

std::unique_ptr<MethodDecoder> makeDeflate64Oracle(Deflate64CodesSeen* seen) {
    return std::make_unique<Deflate64Oracle>(seen);
}

namespace {

class ZlibInflateOracle final : public MethodDecoder {
public:
    ~ZlibInflateOracle() override {
        if (ready_) inflateEnd(&zs_);
    }

    bool reset(uint64_t) override {
        int rc = ready_ ? inflateReset(&zs_) : inflateInit2(&zs_, -MAX_WBITS);
        ready_ = rc == Z_OK;
        return ready_;
    }

    Status run(const uint8_t*& in, size_t& inSize, uint8_t*& out, size_t& outSize) override {
        zs_.next_in = const_cast<Bytef*>(in);
        zs_.avail_in = static_cast<uInt>(std::min<size_t>(inSize, UINT_MAX));
        zs_.next_out = out;
        zs_.avail_out = static_cast<uInt>(std::min<size_t>(outSize, UINT_MAX));
        uInt inBefore = zs_.avail_in, outBefore = zs_.avail_out;
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

std::unique_ptr<MethodDecoder> makeZlibInflateOracle() { return std::make_unique<ZlibInflateOracle>(); }

DecodeOutcome decodeInPieces(MethodDecoder& decoder, const uint8_t* data, size_t size, size_t inPiece,
                             size_t outPiece, size_t maxOut) {
    DecodeOutcome result;
    decoder.reset(0);
    // Each call's room ends where the buffer ends.
    size_t bufferSize = std::min(outPiece, maxOut);
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[bufferSize]);
    for (size_t at = 0; at < size || at == 0;) {
        const uint8_t* in = data + at;
        size_t inSize = std::min(inPiece, size - at);
        for (;;) {
            size_t room = std::min(outPiece, maxOut - result.bytes.size());
            if (room == 0) return result;
            uint8_t* start = buffer.get() + bufferSize - room;
            uint8_t* out = start;
            size_t outSize = room, inBefore = inSize;
            result.status = decoder.run(in, inSize, out, outSize);
            result.bytes.insert(result.bytes.end(), start, out);
            if (result.status != MethodDecoder::Status::progress) return result;
            // Room left: the decoder wants the next piece (or is stuck).
            if (outSize > 0 && (inSize == 0 || (inSize == inBefore && outSize == room))) break;
        }
        at += std::min(inPiece, size - at) - inSize;
        if (inSize > 0 || size == 0) return result;  // stuck, or nothing to feed
    }
    return result;
}

int32_t inflateInParallelFromMemory(const std::vector<uint8_t>& stream, const ParallelInflateOptions& options,
                                    std::vector<uint8_t>* out, ParallelInflateCounts* counts,
                                    std::function<bool(uint64_t)> progress) {
    auto reader = [&stream]() -> InflateReader {
        return [&stream](uint64_t offset, uint8_t* buffer, size_t size) {
            if (offset > stream.size() || stream.size() - offset < size) return false;
            std::memcpy(buffer, stream.data() + offset, size);
            return true;
        };
    };
    ParallelInflateIo io;
    io.read = reader();
    io.openReader = reader;
    io.emit = [out](const uint8_t* data, size_t size) {
        out->insert(out->end(), data, data + size);
        return 0;
    };
    io.progress = std::move(progress);
    return inflateInParallel(stream.size(), io, options, counts);
}
