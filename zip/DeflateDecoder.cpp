#include "zip/DeflateDecoder.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

// A table entry packs what one code means into 32 bits: the value (a
// literal, a length or distance base, or where a sub-table starts) in the
// high 16, the kind in bits 8-15 and the code's length in bits in the low 8;
// a base's length counts its extra bits too, so both are taken at once.
// Codes longer than the root bits go through a link in the root table to a
// sub-table indexed by the bits after the root; entries there hold the code's
// full length. In a dynamic block's literal table, a literal whose code
// leaves room in the root bits for the code of another is a pair: one entry
// gives both (text has many short literal codes).
enum : uint32_t {
    kLiteral = 0x00,
    kPair = 0x10,     // | the first code's length: two literals, first in the low byte
    kBase = 0x20,     // | extra bits (0..16): a length or distance base
    kLink = 0x40,     // | sub-table index bits
    kEndOfBlock = 0x80,
    kInvalid = 0x81,  // no code, or a symbol deflate does not use
};

constexpr uint32_t entry(uint32_t value, uint32_t kind, uint32_t length = 0) {
    return value << 16 | kind << 8 | length;
}
inline uint32_t entryValue(uint32_t e) { return e >> 16; }
inline uint32_t entryKind(uint32_t e) { return (e >> 8) & 0xFF; }
inline unsigned entryLength(uint32_t e) { return e & 0xFF; }
inline uint32_t lowBits(uint64_t v, unsigned n) { return static_cast<uint32_t>(v) & ((1u << n) - 1); }
// A literal or a pair of them: the kinds below kBase.
inline bool isLiterals(uint32_t e) { return entryKind(e) < kBase; }
// A base's entry counts its extra bits in its length: they follow the code,
// and bits holds both, first bit lowest.
inline uint32_t baseAndExtra(uint32_t e, uint64_t bits) {
    unsigned extra = entryKind(e) & 0x1F;
    return entryValue(e) + (lowBits(bits, entryLength(e)) >> (entryLength(e) - extra));
}

constexpr unsigned kMaxCodeLength = 15;
// Where a code is missing, the entry asks for the longest code's bits first,
// so a stream that merely stops there is "more input needed", not damage.
constexpr uint32_t kNoCode = entry(0, kInvalid, kMaxCodeLength);

constexpr unsigned kLiteralRoot = 10, kDistanceRoot = 8, kCodeLengthRoot = 7;
// Sub-tables only exist in complete codes, where the codes under a root
// prefix form a full binary tree: one of depth k (a 2^k sub-table) has at
// least k + 1 codes. With at most 288 literal/length codes and 15-bit codes
// that allows at most 48 sub-tables of 32 entries past a 10-bit root; with 32
// distance codes, 4 of 128 past an 8-bit root.
constexpr size_t kLiteralTableSize = (1u << kLiteralRoot) + 48 * 32;
constexpr size_t kDistanceTableSize = (1u << kDistanceRoot) + 4 * 128;
constexpr size_t kCodeLengthTableSize = 1u << kCodeLengthRoot;

// The window, Deflate64's; deflate reaches back 32 KiB and keeps only that.
constexpr size_t kWindow = 65536;

// What each symbol means, without its code length.
struct SymbolMeanings {
    uint32_t literal[288];
    uint32_t distance[32];
    uint32_t codeLength[19];
};

// The two variants differ only here: length code 285 is 258 in deflate and
// 3 plus 16 extra bits in Deflate64; distance codes 30 and 31 are deflate's
// invalid codes.
constexpr SymbolMeanings makeMeanings(bool deflate64) {
    SymbolMeanings m{};
    constexpr uint16_t lengthBase[28] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19, 23,
                                         27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227};
    constexpr uint8_t lengthExtra[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                         2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
    constexpr uint16_t distanceBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                           49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                           2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
    for (uint32_t s = 0; s < 256; s++) m.literal[s] = entry(s, kLiteral);
    m.literal[256] = entry(0, kEndOfBlock);
    for (uint32_t s = 0; s < 28; s++) m.literal[257 + s] = entry(lengthBase[s], kBase | lengthExtra[s]);
    m.literal[285] = deflate64 ? entry(3, kBase | 16) : entry(258, kBase);
    m.literal[286] = m.literal[287] = entry(0, kInvalid);
    for (uint32_t s = 0; s < 32; s++) m.distance[s] = entry(distanceBase[s], kBase | (s < 4 ? 0 : s / 2 - 1));
    if (!deflate64) m.distance[30] = m.distance[31] = entry(0, kInvalid);
    for (uint32_t s = 0; s < 19; s++) m.codeLength[s] = entry(s, kLiteral);
    return m;
}

constexpr SymbolMeanings kDeflateMeanings = makeMeanings(false);
constexpr SymbolMeanings kDeflate64Meanings = makeMeanings(true);

// Fills table from the code lengths of n symbols. False for lengths that
// make no usable code: over-subscribed, or incomplete unless it is a single
// one-bit code or no code at all (as zlib allows for literals and distances;
// the missing codes are damage when met). With complete set, the code must
// be complete or empty, as zlib wants of the code lengths' own code.
bool buildTable(const uint8_t* lengths, unsigned n, const uint32_t* meanings, unsigned root, uint32_t* table,
                size_t tableSize, bool complete = false, bool pairs = false) {
    unsigned count[kMaxCodeLength + 1] = {};
    for (unsigned s = 0; s < n; s++) count[lengths[s]]++;
    int left = 1;
    for (unsigned len = 1; len <= kMaxCodeLength; len++) {
        left = (left << 1) - static_cast<int>(count[len]);
        if (left < 0) return false;
    }
    unsigned codes = n - count[0];
    if (left > 0 && codes != 0 && (complete || !(codes == 1 && count[1] == 1))) return false;

    // Canonical codes, bit-reversed: the stream sends them first bit first.
    unsigned next[kMaxCodeLength + 2] = {};
    for (unsigned len = 1; len <= kMaxCodeLength; len++) next[len + 1] = (next[len] + count[len]) << 1;
    uint16_t reversed[288];
    uint8_t longest[1u << kLiteralRoot] = {};  // per root prefix: its longest code
    const uint32_t rootMask = (1u << root) - 1;
    for (unsigned s = 0; s < n; s++) {
        unsigned len = lengths[s];
        if (!len) continue;
        unsigned code = next[len]++, rev = 0;
        for (unsigned i = 0; i < len; i++) rev |= ((code >> i) & 1u) << (len - 1 - i);
        reversed[s] = static_cast<uint16_t>(rev);
        if (len > root) longest[rev & rootMask] = std::max<uint8_t>(longest[rev & rootMask], static_cast<uint8_t>(len));
    }

    if (left > 0) std::fill(table, table + (size_t{1} << root), kNoCode);  // a complete code fills every entry
    size_t used = size_t{1} << root;
    for (uint32_t prefix = 0; prefix <= rootMask; prefix++) {
        if (!longest[prefix]) continue;
        unsigned subBits = longest[prefix] - root;
        if (used + (size_t{1} << subBits) > tableSize) return false;  // cannot happen for a complete code
        table[prefix] = entry(static_cast<uint32_t>(used), kLink | subBits, root);
        used += size_t{1} << subBits;
    }
    for (unsigned s = 0; s < n; s++) {
        unsigned len = lengths[s];
        if (!len) continue;
        uint32_t e = meanings[s] | len;
        if (entryKind(e) & kBase) e += entryKind(e) & 0x1F;  // the extra bits are taken with the code
        if (len <= root) {
            for (uint32_t i = reversed[s]; i <= rootMask; i += 1u << len) table[i] = e;
            continue;
        }
        uint32_t link = table[reversed[s] & rootMask];
        uint32_t* sub = table + entryValue(link);
        uint32_t subSize = 1u << (entryKind(link) & 0x3F);
        for (uint32_t i = reversed[s] >> root; i < subSize; i += 1u << (len - root)) sub[i] = e;
    }
    if (pairs) {
        // Where a literal's code leaves room in the root bits for the whole
        // code of another literal, one entry gives both. Downwards, so the
        // entry a prefix is followed by (at a lower index) is still a single.
        for (uint32_t prefix = rootMask + 1; prefix-- > 0;) {
            uint32_t first = table[prefix];
            unsigned len = entryLength(first);
            if (entryKind(first) != kLiteral || len >= root) continue;
            uint32_t second = table[prefix >> len];
            if (entryKind(second) != kLiteral || len + entryLength(second) > root) continue;
            table[prefix] = entry(entryValue(first) | entryValue(second) << 8, kPair | len, len + entryLength(second));
        }
    }
    return true;
}

// The tables of the fixed codes, which blocks of type 1 use.
void buildFixedTables(const SymbolMeanings& meanings, uint32_t* literals, uint32_t* distances) {
    uint8_t lengths[288 + 32];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + 288, 8);
    std::fill(lengths + 288, lengths + 320, 5);
    buildTable(lengths, 288, meanings.literal, kLiteralRoot, literals, kLiteralTableSize);
    buildTable(lengths + 288, 32, meanings.distance, kDistanceRoot, distances, kDistanceTableSize);
}

inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

// Copies n bytes from dst - distance to dst, where the two may overlap:
// the bytes repeat with the distance as their period.
inline void copyOverlapping(uint8_t* dst, size_t distance, size_t n) {
    const uint8_t* src = dst - distance;
    if (distance >= n) {
        std::memcpy(dst, src, n);
    } else if (distance == 1) {
        std::memset(dst, *src, n);
    } else {
        // Each pass copies all that lies between src and dst, doubling it.
        uint8_t* end = dst + n;
        while (dst < end) {
            size_t piece = std::min(static_cast<size_t>(dst - src), static_cast<size_t>(end - dst));
            std::memcpy(dst, src, piece);
            dst += piece;
        }
    }
}

class DeflateDecoder final : public MethodDecoder {
public:
    explicit DeflateDecoder(bool deflate64)
        : deflate64_(deflate64), windowSize_(deflate64 ? kWindow : kDeflateWindow) {
        buildFixedTables(meanings(), fixedLiterals_, fixedDistances_);
    }

    bool reset(uint64_t) override {
        mode_ = Mode::header;
        last_ = false;
        hold_ = 0;
        bits_ = 0;
        total_ = 0;
        windowNext_ = 0;
        taken_ = 0;
        skip_ = 0;
        pauseBit_ = kNever;
        paused_ = false;
        return true;
    }

    // Starts skipBits into the next input, a block's first bit, with the
    // bytes before it that matches may reach; pauses before the first block
    // that starts at or after pauseBit (counted from the next input's first).
    void startAt(unsigned skipBits, const uint8_t* history, size_t historySize, uint64_t pauseBit) {
        reset(0);
        skip_ = skipBits;
        pauseBit_ = pauseBit;
        size_t kept = std::min(historySize, windowSize_);
        if (kept) std::memcpy(window_.get(), history + historySize - kept, kept);
        windowNext_ = kept % windowSize_;
        total_ = kept;
    }

    bool paused() const { return paused_; }
    // Bits of input taken since the start, the skipped ones included (also
    // during a call).
    uint64_t bitsTaken() const { return (taken_ + static_cast<uint64_t>(in_ - inStart_)) * 8 - bits_; }

    Status run(const uint8_t*& in, size_t& inSize, uint8_t*& out, size_t& outSize) override {
        inStart_ = in_ = in;
        inEnd_ = in + inSize;
        outStart_ = out_ = out;
        outEnd_ = out + outSize;
        Status status = decode();
        size_t produced = static_cast<size_t>(out_ - outStart_);
        keepWindow(produced);
        taken_ += static_cast<size_t>(in_ - in);
        inStart_ = in_;
        inSize -= static_cast<size_t>(in_ - in);
        in = in_;
        outSize -= produced;
        out = out_;
        return status;
    }

private:
    enum class Mode {
        header,        // the 3 bits that start a block
        storedHeader,  // a stored block's length and its complement
        stored,        // its bytes
        tableSizes,    // a dynamic block's counts of codes
        codeLengthCodes,
        codeLengths,   // the literal/length and distance code lengths
        symbol,        // a literal, a length or the end of the block
        distance,
        copy,          // a match not yet all handed out
        done,
        failed,
    };

    // Whether the bit buffer holds n bits (at most 32), taking input bytes
    // one at a time as needed.
    bool need(unsigned n) {
        while (bits_ < n) {
            if (in_ == inEnd_) return false;
            hold_ |= static_cast<uint64_t>(*in_++) << bits_;
            bits_ += 8;
        }
        return true;
    }

    void drop(unsigned n) {
        hold_ >>= n;
        bits_ -= n;
    }

    // The entry of the next code, once the buffer holds all its bits; false
    // when the input ran out first. Missing bits read as zeros, which is
    // harmless: an entry is only taken when its own length is there.
    bool lookup(const uint32_t* table, unsigned root, uint32_t* e) {
        for (;;) {
            uint32_t found = table[lowBits(hold_, root)];
            if ((entryKind(found) & kLink) && bits_ >= root)
                found = table[entryValue(found) + lowBits(hold_ >> root, entryKind(found) & 0x3F)];
            // One literal at a time here: a pair's first.
            if (isLiterals(found) && entryKind(found) != kLiteral)
                found = entry(entryValue(found) & 0xFF, kLiteral, entryKind(found) & 0x0F);
            if (entryLength(found) <= bits_) {
                *e = found;
                return true;
            }
            if (in_ == inEnd_) return false;
            hold_ |= static_cast<uint64_t>(*in_++) << bits_;
            bits_ += 8;
        }
    }

    uint64_t produced() const { return total_ + static_cast<uint64_t>(out_ - outStart_); }

    // Hands out n bytes of the match distance back: first what lies in the
    // window (produced by earlier calls), then what this call wrote.
    void copyMatch(size_t distance, size_t n) {
        size_t here = static_cast<size_t>(out_ - outStart_);
        if (distance > here) {
            size_t back = distance - here;  // <= what the window holds: checked against produced()
            size_t from = (windowNext_ + windowSize_ - back) % windowSize_;
            size_t fromWindow = std::min(n, back);
            size_t first = std::min(fromWindow, windowSize_ - from);
            std::memcpy(out_, window_.get() + from, first);
            std::memcpy(out_ + first, window_.get(), fromWindow - first);
            out_ += fromWindow;
            n -= fromWindow;
        }
        if (n == 0) return;
        copyOverlapping(out_, distance, n);
        out_ += n;
    }

    // Keeps the last 64 KiB of output for the matches of later calls.
    void keepWindow(size_t produced) {
        if (produced == 0) return;
        const uint8_t* from = outStart_;
        if (produced >= windowSize_) {
            from += produced - windowSize_;
            std::memcpy(window_.get(), from, windowSize_);
            windowNext_ = 0;
        } else {
            size_t first = std::min(produced, windowSize_ - windowNext_);
            std::memcpy(window_.get() + windowNext_, from, first);
            std::memcpy(window_.get(), from + first, produced - first);
            windowNext_ = (windowNext_ + produced) % windowSize_;
        }
        total_ += produced;
    }

    Status fail() {
        mode_ = Mode::failed;
        return Status::failed;
    }

    Status decode() {
        for (;;) {
            size_t room = static_cast<size_t>(outEnd_ - out_);
            switch (mode_) {
            case Mode::header: {
                if (skip_) {
                    if (!need(skip_)) return Status::progress;
                    drop(skip_);
                    skip_ = 0;
                }
                if (pauseBit_ != kNever && bitsTaken() >= pauseBit_) {
                    paused_ = true;
                    return Status::progress;
                }
                if (room == 0 || !need(3)) return Status::progress;
                last_ = hold_ & 1;
                unsigned type = lowBits(hold_ >> 1, 2);
                drop(3);
                if (type == 0) {
                    drop(bits_ & 7);  // a stored block starts at a byte
                    mode_ = Mode::storedHeader;
                } else if (type == 1) {
                    literals_ = fixedLiterals_;
                    distances_ = fixedDistances_;
                    mode_ = Mode::symbol;
                } else if (type == 2) {
                    mode_ = Mode::tableSizes;
                } else {
                    return fail();
                }
                break;
            }
            case Mode::storedHeader: {
                if (!need(32)) return Status::progress;
                uint32_t length = lowBits(hold_, 16), inverse = lowBits(hold_ >> 16, 16);
                if ((length ^ 0xFFFF) != inverse) return fail();
                drop(32);
                left_ = length;
                mode_ = Mode::stored;
                break;
            }
            case Mode::stored: {
                if (left_ == 0) {
                    mode_ = last_ ? Mode::done : Mode::header;
                    break;
                }
                if (room == 0) return Status::progress;
                // Whole bytes still in the bit buffer come first.
                while (bits_ >= 8 && left_ > 0 && out_ < outEnd_) {
                    *out_++ = static_cast<uint8_t>(hold_);
                    drop(8);
                    left_--;
                }
                size_t n = std::min({left_, static_cast<size_t>(inEnd_ - in_), static_cast<size_t>(outEnd_ - out_)});
                if (n > 0) std::memcpy(out_, in_, n);
                out_ += n;
                in_ += n;
                left_ -= n;
                if (left_ > 0 && (in_ == inEnd_ || out_ == outEnd_)) return Status::progress;
                break;
            }
            case Mode::tableSizes: {
                if (!need(14)) return Status::progress;
                literalCount_ = lowBits(hold_, 5) + 257;
                distanceCount_ = lowBits(hold_ >> 5, 5) + 1;
                codeLengthCount_ = lowBits(hold_ >> 10, 4) + 4;
                drop(14);
                // zlib refuses deflate's distance codes 30 and 31 in a table too.
                if (literalCount_ > 286 || (!deflate64_ && distanceCount_ > 30)) return fail();
                std::fill(std::begin(lengths_), std::end(lengths_), 0);
                index_ = 0;
                mode_ = Mode::codeLengthCodes;
                break;
            }
            case Mode::codeLengthCodes: {
                static const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
                for (; index_ < codeLengthCount_; index_++) {
                    if (!need(3)) return Status::progress;
                    lengths_[kOrder[index_]] = static_cast<uint8_t>(lowBits(hold_, 3));
                    drop(3);
                }
                if (!buildTable(lengths_, 19, meanings().codeLength, kCodeLengthRoot, codeLengthTable_,
                                kCodeLengthTableSize, !deflate64_))
                    return fail();
                std::fill(std::begin(lengths_), std::end(lengths_), 0);
                index_ = 0;
                mode_ = Mode::codeLengths;
                break;
            }
            case Mode::codeLengths: {
                if (Status s; !readCodeLengths(&s)) return s;
                break;
            }
            case Mode::symbol: {
                if (room == 0) return Status::progress;
                if (inEnd_ - in_ >= kFastInput && room >= kFastRoom) {
                    if (!decodeFast()) return fail();
                    break;
                }
                uint32_t e;
                if (!lookup(literals_, kLiteralRoot, &e)) return Status::progress;
                uint64_t bits = hold_;
                drop(entryLength(e));
                uint32_t kind = entryKind(e);
                if (kind == kLiteral) {
                    *out_++ = static_cast<uint8_t>(entryValue(e));
                } else if (kind & kBase) {
                    length_ = baseAndExtra(e, bits);
                    mode_ = Mode::distance;
                } else if (kind == kEndOfBlock) {
                    mode_ = last_ ? Mode::done : Mode::header;
                } else {
                    return fail();
                }
                break;
            }
            case Mode::distance: {
                uint32_t e;
                if (!lookup(distances_, kDistanceRoot, &e)) return Status::progress;
                if (!(entryKind(e) & kBase)) return fail();
                distance_ = baseAndExtra(e, hold_);
                drop(entryLength(e));
                if (distance_ > produced()) return fail();
                mode_ = Mode::copy;
                break;
            }
            case Mode::copy: {
                if (room == 0) return Status::progress;
                size_t n = std::min(length_, room);
                copyMatch(distance_, n);
                length_ -= n;
                if (length_ > 0) return Status::progress;
                mode_ = Mode::symbol;
                break;
            }
            case Mode::done: return Status::ended;
            case Mode::failed: return Status::failed;
            }
        }
    }

    // Reads code lengths until all are there (true, and the block's tables
    // built) or until the input runs out or they prove bad (false, *status
    // telling which).
    bool readCodeLengths(Status* status) {
        *status = Status::progress;
        unsigned total = literalCount_ + distanceCount_;
        while (index_ < total) {
            uint32_t e;
            if (!lookup(codeLengthTable_, kCodeLengthRoot, &e)) return false;
            if (entryKind(e) != kLiteral) {
                *status = fail();
                return false;
            }
            unsigned symbol = entryValue(e), len = entryLength(e);
            if (symbol < 16) {
                drop(len);
                lengths_[index_++] = static_cast<uint8_t>(symbol);
                continue;
            }
            if (symbol == 16 && index_ == 0) {
                *status = fail();
                return false;
            }
            unsigned extra = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
            if (!need(len + extra)) return false;
            unsigned times = lowBits(hold_ >> len, extra) + (symbol == 18 ? 11 : 3);
            drop(len + extra);
            if (index_ + times > total) {
                *status = fail();
                return false;
            }
            uint8_t repeated = symbol == 16 ? lengths_[index_ - 1] : 0;
            std::fill(lengths_ + index_, lengths_ + index_ + times, repeated);
            index_ += times;
        }
        if (lengths_[256] == 0 ||  // no end of block
            !buildTable(lengths_, literalCount_, meanings().literal, kLiteralRoot, dynamicLiterals_,
                        kLiteralTableSize, false, true) ||
            !buildTable(lengths_ + literalCount_, distanceCount_, meanings().distance, kDistanceRoot,
                        dynamicDistances_, kDistanceTableSize)) {
            *status = fail();
            return false;
        }
        literals_ = dynamicLiterals_;
        distances_ = dynamicDistances_;
        mode_ = Mode::symbol;
        return true;
    }

    // Input and output room for the fast loop: up to three 8-byte loads a
    // turn, and six literals (three codes of one or two) or two codes of
    // them and the longest ordinary match, with 32 bytes of slack for the
    // word copies.
    static constexpr ptrdiff_t kFastInput = 32;
    static constexpr size_t kCopySlack = 32;
    static constexpr size_t kFastRoom = 6 + 258 + kCopySlack;
    // A distance's code and extra bits at most (Deflate64's 14 extra).
    static constexpr unsigned kMaxDistanceBits = kMaxCodeLength + 14;

    // Decodes literals and matches while there is input and room enough not
    // to check either within a symbol; the bit buffer is refilled 8 bytes at
    // a time. Leaves at the end of a block, at a match too long for the room
    // left (finished by the copy mode), or near the end of the input or
    // output. False for damaged data.
    //
    // The entry of the next code is looked up as soon as the bits before it
    // are taken, ahead of the work on the current one (a match's copy, a
    // literal's store), so the table loads overlap that work.
    bool decodeFast() {
        const uint8_t* in = in_;
        const uint8_t* const inLimit = inEnd_ - kFastInput;
        uint8_t* out = out_;
        uint8_t* const outStart = outStart_;
        uint8_t* const outLimit = outEnd_ - kFastRoom;
        const uint64_t before = total_;  // bytes matches may reach before outStart
        uint64_t hold = hold_;
        unsigned bits = bits_;
        const uint32_t* const literals = literals_;
        const uint32_t* const distances = distances_;
        bool ok = true;
        // Takes whole bytes up to at least 56 bits; the bits above may hold
        // the low part of the next byte, which the next load puts back the same.
        auto refill = [&] {
            hold |= load64(in) << bits;
            in += (63 - bits) >> 3;
            bits |= 56;
        };
        // The entry of the next literal/length code; the buffer holds at least 15 bits.
        auto next = [&] {
            uint32_t e = literals[lowBits(hold, kLiteralRoot)];
            if (entryKind(e) & kLink) e = literals[entryValue(e) + lowBits(hold >> kLiteralRoot, entryKind(e) & 0x3F)];
            return e;
        };
        auto take = [&](unsigned n) {
            hold >>= n;
            bits -= n;
        };
        // A literal or a pair: both bytes are written, and out moves on by
        // one or two.
        auto putLiterals = [&](uint32_t e) {
            uint32_t value = entryValue(e);
            out[0] = static_cast<uint8_t>(value);
            out[1] = static_cast<uint8_t>(value >> 8);
            out += 1 + (entryKind(e) >> 4);
        };
        if (in > inLimit || out > outLimit) return true;
        refill();
        uint32_t e = next();
        while (in <= inLimit && out <= outLimit) {
            if (isLiterals(e)) {
                // 56 bits hold three codes of at most 15 bits.
                uint32_t literal = e;
                take(entryLength(e));
                e = next();
                putLiterals(literal);
                if (isLiterals(e)) {
                    literal = e;
                    take(entryLength(e));
                    e = next();
                    putLiterals(literal);
                    if (isLiterals(e)) {
                        literal = e;
                        take(entryLength(e));
                        refill();
                        e = next();
                        putLiterals(literal);
                        continue;
                    }
                }
                // The refill keeps the bits e was looked up with.
                refill();
            }
            if (!(entryKind(e) & kBase)) {
                if (entryKind(e) == kEndOfBlock) {
                    take(entryLength(e));
                    mode_ = last_ ? Mode::done : Mode::header;
                } else {
                    ok = false;
                }
                break;
            }
            // At least 56 - 15 bits were there for the length: a deflate
            // length and distance (20 + 28 bits) fit. Only Deflate64's 16
            // extra length bits can leave too few.
            size_t length = baseAndExtra(e, hold);
            take(entryLength(e));
            e = distances[lowBits(hold, kDistanceRoot)];
            if (bits < kMaxDistanceBits) refill();
            if (entryKind(e) & kLink)
                e = distances[entryValue(e) + lowBits(hold >> kDistanceRoot, entryKind(e) & 0x3F)];
            if (!(entryKind(e) & kBase)) {
                ok = false;
                break;
            }
            size_t distance = baseAndExtra(e, hold);
            take(entryLength(e));
            size_t here = static_cast<size_t>(out - outStart);
            if (distance > before + here) {
                ok = false;
                break;
            }
            if (length > static_cast<size_t>(outEnd_ - out) - kCopySlack) {
                // Longer than the room left: the copy mode hands it out in pieces.
                length_ = length;
                distance_ = distance;
                mode_ = Mode::copy;
                break;
            }
            refill();
            e = next();
            if (distance > here) {
                // Reaching back before this call: the window first.
                out_ = out;
                copyMatch(distance, length);
                out = out_;
                continue;
            }
            uint8_t* end = out + length;
            const uint8_t* src = out - distance;
            // Word copies, each reading bytes already written: at least a
            // word back.
            if (distance >= 16) {
                std::memcpy(out, src, 16);
                std::memcpy(out + 16, src + 16, 16);
                out += 32;
                src += 32;
                while (out < end) {
                    std::memcpy(out, src, 16);
                    std::memcpy(out + 16, src + 16, 16);
                    out += 32;
                    src += 32;
                }
            } else if (distance >= 8) {
                do {
                    std::memcpy(out, src, 8);
                    out += 8;
                    src += 8;
                } while (out < end);
            } else if (length <= 32) {
                for (size_t i = 0; i < length; i++) out[i] = src[i];
            } else {
                copyOverlapping(out, distance, length);
            }
            out = end;
        }
        // Bits above the count are dropped, so byte-at-a-time reading can
        // resume below them.
        hold_ = bits ? hold & (~uint64_t{0} >> (64 - bits)) : 0;
        bits_ = bits;
        in_ = in;
        out_ = out;
        return ok;
    }

    const SymbolMeanings& meanings() const { return deflate64_ ? kDeflate64Meanings : kDeflateMeanings; }

    const bool deflate64_;
    const size_t windowSize_;  // what matches may reach back: 64 or 32 KiB

    // Decoding state, kept across calls.
    Mode mode_ = Mode::header;
    bool last_ = false;            // the block is the stream's last
    uint64_t hold_ = 0;            // bits taken from the input, first bit lowest
    unsigned bits_ = 0;
    size_t left_ = 0;              // of a stored block
    size_t length_ = 0;            // of the match being decoded or copied
    size_t distance_ = 0;
    unsigned literalCount_ = 0, distanceCount_ = 0, codeLengthCount_ = 0, index_ = 0;
    uint8_t lengths_[286 + 32] = {};
    const uint32_t* literals_ = fixedLiterals_;
    const uint32_t* distances_ = fixedDistances_;

    // The window: the last 64 KiB handed out before this call, a ring.
    std::unique_ptr<uint8_t[]> window_{new uint8_t[kWindow]};
    size_t windowNext_ = 0;
    uint64_t total_ = 0;  // bytes handed out before this call

    // Where a stream entered inside starts and stops.
    static constexpr uint64_t kNever = ~uint64_t{0};
    uint64_t taken_ = 0;  // input bytes taken before this call
    unsigned skip_ = 0;   // bits before the first block
    uint64_t pauseBit_ = kNever;
    bool paused_ = false;

    // This call's buffers.
    const uint8_t* inStart_ = nullptr;
    const uint8_t* in_ = nullptr;
    const uint8_t* inEnd_ = nullptr;
    uint8_t* outStart_ = nullptr;
    uint8_t* out_ = nullptr;
    uint8_t* outEnd_ = nullptr;

    uint32_t fixedLiterals_[kLiteralTableSize];
    uint32_t fixedDistances_[kDistanceTableSize];
    uint32_t dynamicLiterals_[kLiteralTableSize];
    uint32_t dynamicDistances_[kDistanceTableSize];
    uint32_t codeLengthTable_[kCodeLengthTableSize];
};


// The bits of data from bit on (at least 57; zeros past the end).
uint64_t peekBits(const uint8_t* data, size_t size, uint64_t bit) {
    size_t at = static_cast<size_t>(bit / 8);
    uint64_t v = 0;
    if (at + 8 <= size) {
        v = load64(data + at);
    } else {
        for (size_t i = 0; at + i < size && i < 8; i++) v |= static_cast<uint64_t>(data[at + i]) << (8 * i);
    }
    return v >> (bit & 7);
}

// The room four 3-bit code lengths take in a 7-bit code space.
struct CodeSpace {
    uint16_t of[1 << 12];
};
constexpr CodeSpace makeCodeSpace() {
    CodeSpace c{};
    for (unsigned v = 0; v < (1u << 12); v++) {
        for (unsigned i = 0; i < 4; i++) {
            unsigned len = (v >> (3 * i)) & 7;
            if (len) c.of[v] = static_cast<uint16_t>(c.of[v] + (1u << (7 - len)));
        }
    }
    return c;
}
constexpr CodeSpace kCodeSpace = makeCodeSpace();

// Decodes whole blocks from a guessed block start without the 32 KiB
// before it: a byte copied from there comes out as a marker naming its place,
// and so does every copy of a marker.
class MarkedInflater {
public:
    MarkedInflater(const uint8_t* data, size_t size) : data_(data), size_(size) {
        buildFixedTables(kDeflateMeanings, fixedLiterals_, fixedDistances_);
    }

    // Whether a stored or dynamic block can start at bit: a stored block's
    // length must match its complement; a dynamic block's counts and the
    // code lengths' own code (which must be complete) are looked at first,
    // then its whole header. Fixed blocks carry nothing to tell them by.
    bool blockCanStart(uint64_t bit) {
        uint64_t v = peekAt(bit);
        if ((v & 7) == 0) {
            // Not the last block: the zero bits before a block often look
            // like a stored block's header too. Writers fill the bits up to
            // the length's byte with zeros, which noise rarely does.
            uint64_t at = (bit + 3 + 7) / 8;
            unsigned fill = static_cast<unsigned>(at * 8 - bit - 3);
            uint64_t lengths = peekAt(at * 8);
            return at + 4 <= size_ && ((v >> 3) & ((1u << fill) - 1)) == 0 &&
                   (lengths & 0xFFFF) == (~lengths >> 16 & 0xFFFF);
        }
        if (((v >> 1) & 3) != 2 || ((v >> 3) & 31) > 29 || ((v >> 8) & 31) > 29) return false;
        // The code lengths' code is complete when its codes fill a 7-bit
        // code space exactly, counted four lengths at a time.
        unsigned count = ((v >> 13) & 15) + 4;
        uint64_t lengths = peekAt(bit + 17) & ((uint64_t{1} << (3 * count)) - 1);
        unsigned space = 0;
        for (unsigned shift = 0; shift < 3 * count; shift += 12) space += kCodeSpace.of[(lengths >> shift) & 0xFFF];
        if (space != 1u << 7) return false;
        bit_ = bit + 3;
        return readTables();
    }

    // Decodes from bit, a block's start, into symbols until a block starts at
    // or after pauseBit (paused), the last block ends (ended), or a block
    // starts after 32 KiB without a marker (known: what follows can be
    // decoded as bytes); failed for damage, too little data or more than
    // maxSymbols symbols.
    MarkedRun::End run(uint64_t bit, uint64_t pauseBit, size_t maxSymbols, MarkedRun* out) {
        std::vector<uint16_t>& symbols = out->symbols;
        symbols.clear();
        size_t markersEnd = 0;  // just past the last marker
        bit_ = bit;
        for (;;) {
            if (bit_ >= pauseBit) return end(MarkedRun::End::paused, out);
            if (symbols.size() - markersEnd >= kDeflateWindow) return end(MarkedRun::End::known, out);
            uint64_t v = peek();
            bool last = v & 1;
            unsigned type = (v >> 1) & 3;
            bit_ += 3;
            if (type == 0) {
                bit_ = (bit_ + 7) & ~uint64_t{7};
                v = peek();
                size_t length = v & 0xFFFF;
                if ((length ^ 0xFFFF) != ((v >> 16) & 0xFFFF)) return MarkedRun::End::failed;
                size_t at = static_cast<size_t>(bit_ / 8) + 4;
                if (at + length > size_ || symbols.size() + length > maxSymbols) return MarkedRun::End::failed;
                symbols.insert(symbols.end(), data_ + at, data_ + at + length);
                bit_ = (at + length) * uint64_t{8};
            } else {
                if (type == 1) {
                    literals_ = fixedLiterals_;
                    distances_ = fixedDistances_;
                } else if (type != 2 || !readTables()) {
                    return MarkedRun::End::failed;
                }
                if (!readSymbols(maxSymbols, symbols, markersEnd)) return MarkedRun::End::failed;
            }
            if (bit_ > size_ * uint64_t{8}) return MarkedRun::End::failed;
            if (last) return end(MarkedRun::End::ended, out);
        }
    }

private:
    MarkedRun::End end(MarkedRun::End how, MarkedRun* out) {
        out->endBit = bit_;
        return how;
    }

    // Zeros past the data: the callers find out by the position.
    uint64_t peekAt(uint64_t bit) const { return peekBits(data_, size_, bit); }
    uint64_t peek() const { return peekAt(bit_); }

    uint32_t lookup(const uint32_t* table, unsigned root) {
        uint64_t v = peek();
        uint32_t e = table[lowBits(v, root)];
        if (entryKind(e) & kLink) e = table[entryValue(e) + lowBits(v >> root, entryKind(e) & 0x3F)];
        bit_ += entryLength(e);
        return e;
    }

    bool readTables() {
        uint64_t v = peek();
        unsigned literalCount = lowBits(v, 5) + 257, distanceCount = lowBits(v >> 5, 5) + 1;
        unsigned codeLengthCount = lowBits(v >> 10, 4) + 4;
        bit_ += 14;
        if (literalCount > 286 || distanceCount > 30) return false;
        static const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        uint8_t lengths[286 + 32] = {};
        for (unsigned i = 0; i < codeLengthCount; i++, bit_ += 3) lengths[kOrder[i]] = lowBits(peek(), 3);
        if (!buildTable(lengths, 19, kDeflateMeanings.codeLength, kCodeLengthRoot, codeLengthTable_,
                        kCodeLengthTableSize, true))
            return false;
        std::fill(std::begin(lengths), std::end(lengths), 0);
        unsigned total = literalCount + distanceCount;
        for (unsigned index = 0; index < total;) {
            uint32_t e = lookup(codeLengthTable_, kCodeLengthRoot);
            if (entryKind(e) != kLiteral || bit_ > size_ * uint64_t{8}) return false;
            unsigned symbol = entryValue(e);
            if (symbol < 16) {
                lengths[index++] = static_cast<uint8_t>(symbol);
                continue;
            }
            if (symbol == 16 && index == 0) return false;
            unsigned extra = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
            unsigned times = lowBits(peek(), extra) + (symbol == 18 ? 11 : 3);
            bit_ += extra;
            if (index + times > total) return false;
            uint8_t repeated = symbol == 16 ? lengths[index - 1] : 0;
            std::fill(lengths + index, lengths + index + times, repeated);
            index += times;
        }
        if (lengths[256] == 0 ||
            !buildTable(lengths, literalCount, kDeflateMeanings.literal, kLiteralRoot, dynamicLiterals_,
                        kLiteralTableSize) ||
            !buildTable(lengths + literalCount, distanceCount, kDeflateMeanings.distance, kDistanceRoot,
                        dynamicDistances_, kDistanceTableSize))
            return false;
        literals_ = dynamicLiterals_;
        distances_ = dynamicDistances_;
        return true;
    }

    // One block's symbols, up to its end.
    bool readSymbols(size_t maxSymbols, std::vector<uint16_t>& symbols, size_t& markersEnd) {
        const uint64_t limit = size_ * uint64_t{8};
        size_t n = symbols.size();
        bool ok = false;
        while (bit_ <= limit && n <= maxSymbols) {
            // Room for the longest match, written through a pointer.
            if (n + 258 > symbols.size())
                symbols.resize(std::min(std::max<size_t>(2 * symbols.size(), n + 65536), maxSymbols + 258));
            uint16_t* out = symbols.data();
            // A run of literals takes up to three codes (at most 15 bits
            // each) from one look at the bits.
            uint64_t v = peek();
            uint32_t e = 0, kind = kLiteral;
            for (int k = 0; k < 3; k++) {
                e = literals_[lowBits(v, kLiteralRoot)];
                if (entryKind(e) & kLink) e = literals_[entryValue(e) + lowBits(v >> kLiteralRoot, entryKind(e) & 0x3F)];
                kind = entryKind(e);
                bit_ += entryLength(e);
                if (kind != kLiteral) break;
                out[n++] = static_cast<uint16_t>(entryValue(e));
                v >>= entryLength(e);
            }
            if (kind == kLiteral) continue;
            if (kind == kEndOfBlock) {
                ok = n <= maxSymbols;
                break;
            }
            if (!(kind & kBase)) break;
            size_t length = baseAndExtra(e, v);
            v = peek();
            e = lookup(distances_, kDistanceRoot);
            if (!(entryKind(e) & kBase)) break;
            size_t distance = baseAndExtra(e, v);
            if (distance > n + kDeflateWindow || n + length > maxSymbols) break;
            if (n >= distance && n - distance >= markersEnd) {
                // No marker at or after the source: a plain copy.
                if (distance >= length) {
                    std::memcpy(out + n, out + n - distance, length * sizeof *out);
                } else {
                    for (size_t i = 0; i < length; i++) out[n + i] = out[n + i - distance];
                }
                n += length;
                continue;
            }
            size_t i = 0;
            for (; n < distance && i < length; i++, n++) {
                out[n] = static_cast<uint16_t>(kMarker + kDeflateWindow + n - distance);
                markersEnd = n + 1;
            }
            for (; i < length; i++, n++) {
                uint16_t symbol = out[n - distance];
                out[n] = symbol;
                markersEnd = symbol >= kMarker ? n + 1 : markersEnd;
            }
        }
        symbols.resize(n);
        return ok;
    }

    const uint8_t* data_;
    size_t size_;
    uint64_t bit_ = 0;
    const uint32_t* literals_ = nullptr;
    const uint32_t* distances_ = nullptr;
    uint32_t fixedLiterals_[kLiteralTableSize];
    uint32_t fixedDistances_[kDistanceTableSize];
    uint32_t dynamicLiterals_[kLiteralTableSize];
    uint32_t dynamicDistances_[kDistanceTableSize];
    uint32_t codeLengthTable_[kCodeLengthTableSize];
};

class ResumableInflater final : public BlockInflater {
public:
    void start(unsigned skipBits, const uint8_t* history, size_t historySize, uint64_t pauseBit) override {
        decoder_.startAt(skipBits, history, historySize, pauseBit);
    }
    Status run(const uint8_t*& in, size_t& inSize, uint8_t*& out, size_t& outSize) override {
        switch (decoder_.run(in, inSize, out, outSize)) {
        case MethodDecoder::Status::ended: return Status::ended;
        case MethodDecoder::Status::failed: return Status::failed;
        default: return decoder_.paused() ? Status::paused : Status::progress;
        }
    }
    uint64_t bitsTaken() const override { return decoder_.bitsTaken(); }

private:
    DeflateDecoder decoder_{false};
};

}  // namespace

std::unique_ptr<BlockInflater> makeBlockInflater() { return std::make_unique<ResumableInflater>(); }

void inflateFromGuess(const uint8_t* data, size_t size, uint64_t fromBit, uint64_t toBit, uint64_t pauseBit,
                      bool mayEnd, size_t maxSymbols, MarkedRun* out) {
    auto inflater = std::make_unique<MarkedInflater>(data, size);
    // Candidates that pass the header but fail later cost a decoding each:
    // a few are false starts, many are damage, where guessing stops.
    unsigned attempts = 0;
    for (uint64_t bit = fromBit; bit < toBit && attempts < 16; bit++) {
        if (!inflater->blockCanStart(bit)) continue;
        attempts++;
        out->end = inflater->run(bit, pauseBit, maxSymbols, out);
        if (out->end == MarkedRun::End::failed || (out->end == MarkedRun::End::ended && !mayEnd)) continue;
        out->startBit = out->lastStartBit = bit;
        if ((peekBits(data, size, bit) & 7) == 0) {
            // A stored block: the zero bits next to its header, up to the
            // byte its length is in, start the same block.
            uint64_t lengthAt = (bit + 3 + 7) / 8 * 8;
            while (out->startBit > 0 && (out->startBit - 1 + 3 + 7) / 8 * 8 == lengthAt &&
                   (peekBits(data, size, out->startBit - 1) & 7) == 0)
                out->startBit--;
            while ((out->lastStartBit + 1 + 3 + 7) / 8 * 8 == lengthAt &&
                   (peekBits(data, size, out->lastStartBit + 1) & 7) == 0)
                out->lastStartBit++;
        }
        return;
    }
    out->end = MarkedRun::End::failed;
    out->symbols.clear();
}

std::unique_ptr<MethodDecoder> makeDeflateDecoder() { return std::make_unique<DeflateDecoder>(false); }

std::unique_ptr<MethodDecoder> makeDeflate64Decoder() { return std::make_unique<DeflateDecoder>(true); }
