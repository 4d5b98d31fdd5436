#include "zip/WinZipAes.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define QZ_PROCESSOR_AES 1
// 32-bit Windows keeps the stack 4-byte aligned; these functions may spill
// 16-byte vectors, so they align their own frames there.
#if defined(__i386__)
#define QZ_ALIGNED_FRAME force_align_arg_pointer
#else
#define QZ_ALIGNED_FRAME
#endif
#define QZ_AES_FUNCTION __attribute__((target("aes,sse2"), QZ_ALIGNED_FRAME))
#define QZ_SHA_FUNCTION __attribute__((target("sha,ssse3,sse4.1"), QZ_ALIGNED_FRAME))
#endif

#if QZ_PROCESSOR_AES

bool ProcessorAes::available() {
    static const bool has = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        // CPUID leaf 1: ECX bit 25 is AES, EDX bit 26 is SSE2.
        return __get_cpuid(1, &a, &b, &c, &d) && (c & (1u << 25)) && (d & (1u << 26));
    }();
    return has;
}

namespace {

// SubWord of the key schedule: the AES S-box on each byte, taken from the
// key-generation instruction (its lowest word is SubWord of the second).
QZ_AES_FUNCTION uint32_t subWord(uint32_t word) {
    __m128i all = _mm_set1_epi32(static_cast<int>(word));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_aeskeygenassist_si128(all, 0)));
}

}  // namespace

// The key schedule as the standard states it, on words whose first byte is
// the lowest, so that RotWord is a rotation right by 8 and the round
// constant goes into the lowest byte.
QZ_AES_FUNCTION bool ProcessorAes::setKey(const uint8_t* key, size_t size) {
    rounds_ = 0;
    if (!available() || (size != 16 && size != 24 && size != 32)) return false;
    size_t nk = size / 4;
    size_t words = 4 * (nk + 7);
    uint32_t w[60];
    std::memcpy(w, key, size);
    uint32_t rcon = 1;
    for (size_t i = nk; i < words; i++) {
        uint32_t t = w[i - 1];
        if (i % nk == 0) {
            t = subWord(t >> 8 | t << 24) ^ rcon;
            rcon = (rcon << 1) ^ (rcon & 0x80 ? 0x11b : 0);
        } else if (nk == 8 && i % nk == 4) {
            t = subWord(t);
        }
        w[i] = w[i - nk] ^ t;
    }
    std::memcpy(roundKeys_, w, 4 * words);
    rounds_ = static_cast<int>(nk + 6);
    return true;
}

QZ_AES_FUNCTION void ProcessorAes::encryptBlocks(const uint8_t* in, uint8_t* out, size_t size) const {
    const __m128i* keys = reinterpret_cast<const __m128i*>(roundKeys_);
    const __m128i last = _mm_loadu_si128(keys + rounds_);
    size_t blocks = size / 16, b = 0;
    // Four blocks at a time keep the AES unit busy while each round waits
    // for the one before; 32-bit code has only eight vector registers.
    for (; b + 4 <= blocks; b += 4) {
        const __m128i* src = reinterpret_cast<const __m128i*>(in + 16 * b);
        __m128i k = _mm_loadu_si128(keys);
        __m128i s0 = _mm_xor_si128(_mm_loadu_si128(src), k);
        __m128i s1 = _mm_xor_si128(_mm_loadu_si128(src + 1), k);
        __m128i s2 = _mm_xor_si128(_mm_loadu_si128(src + 2), k);
        __m128i s3 = _mm_xor_si128(_mm_loadu_si128(src + 3), k);
        for (int r = 1; r < rounds_; r++) {
            k = _mm_loadu_si128(keys + r);
            s0 = _mm_aesenc_si128(s0, k);
            s1 = _mm_aesenc_si128(s1, k);
            s2 = _mm_aesenc_si128(s2, k);
            s3 = _mm_aesenc_si128(s3, k);
        }
        __m128i* dst = reinterpret_cast<__m128i*>(out + 16 * b);
        _mm_storeu_si128(dst, _mm_aesenclast_si128(s0, last));
        _mm_storeu_si128(dst + 1, _mm_aesenclast_si128(s1, last));
        _mm_storeu_si128(dst + 2, _mm_aesenclast_si128(s2, last));
        _mm_storeu_si128(dst + 3, _mm_aesenclast_si128(s3, last));
    }
    for (; b < blocks; b++) {
        __m128i s = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * b)), _mm_loadu_si128(keys));
        for (int r = 1; r < rounds_; r++) s = _mm_aesenc_si128(s, _mm_loadu_si128(keys + r));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * b), _mm_aesenclast_si128(s, last));
    }
}

bool ProcessorHmacSha1::available() {
    static const bool has = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        // CPUID leaf 1: ECX bits 9 and 19 are SSSE3 and SSE4.1; leaf 7: EBX bit 29 is SHA.
        if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & (1u << 9)) || !(c & (1u << 19))) return false;
        return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & (1u << 29));
    }();
    return has;
}

namespace {

// SHA-1 compression of whole 64-byte blocks. The state is kept with A in
// the highest lane; each group of four rounds takes E (or, after the
// first, what SHA1NEXTE makes of A four rounds back) plus its message words,
// and message words 16 to 79 come from the four groups before:
// M[j] = msg2(msg1(M[j-4], M[j-3]) ^ M[j-2], M[j-1]).
QZ_SHA_FUNCTION void sha1Blocks(uint32_t state[5], const uint8_t* data, size_t blocks) {
    const __m128i reverse = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    __m128i e = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
    for (; blocks > 0; blocks--, data += 64) {
        const __m128i abcdBefore = abcd, eBefore = e;
        __m128i m[4], previous = abcd;
        for (int j = 0; j < 4; j++)
            m[j] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * j)), reverse);
#pragma GCC unroll 20
        for (int j = 0; j < 20; j++) {
            __m128i& w = m[j % 4];
            if (j >= 4)
                w = _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(w, m[(j + 1) % 4]), m[(j + 2) % 4]),
                                       m[(j + 3) % 4]);
            __m128i we = j == 0 ? _mm_add_epi32(e, w) : _mm_sha1nexte_epu32(previous, w);
            previous = abcd;
            switch (j / 5) {
                case 0: abcd = _mm_sha1rnds4_epu32(abcd, we, 0); break;
                case 1: abcd = _mm_sha1rnds4_epu32(abcd, we, 1); break;
                case 2: abcd = _mm_sha1rnds4_epu32(abcd, we, 2); break;
                default: abcd = _mm_sha1rnds4_epu32(abcd, we, 3); break;
            }
        }
        e = _mm_sha1nexte_epu32(previous, eBefore);
        abcd = _mm_add_epi32(abcd, abcdBefore);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = static_cast<uint32_t>(_mm_extract_epi32(e, 3));
}

}  // namespace

void ProcessorHmacSha1::Sha1::reset() {
    static const uint32_t initial[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    std::memcpy(state, initial, sizeof state);
    fill = 0;
    total = 0;
}

void ProcessorHmacSha1::Sha1::update(const uint8_t* data, size_t size) {
    total += size;
    if (fill > 0) {
        size_t take = std::min(size, 64 - fill);
        std::memcpy(pending + fill, data, take);
        fill += take;
        data += take;
        size -= take;
        if (fill < 64) return;
        sha1Blocks(state, pending, 1);
        fill = 0;
    }
    sha1Blocks(state, data, size / 64);
    fill = size % 64;
    if (fill > 0) std::memcpy(pending, data + size - fill, fill);
}

void ProcessorHmacSha1::Sha1::finish(uint8_t out[20]) {
    // 0x80, zeros to 56 bytes past a block's start, the length in bits.
    uint64_t bits = total * 8;
    uint8_t tail[72] = {0x80};
    size_t pad = (fill < 56 ? 56 : 120) - fill;
    for (int i = 0; i < 8; i++) tail[pad + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    update(tail, pad + 8);
    for (int i = 0; i < 20; i++) out[i] = static_cast<uint8_t>(state[i / 4] >> (24 - 8 * (i % 4)));
}

void ProcessorHmacSha1::start(const uint8_t* key, size_t size) {
    uint8_t block[64] = {};
    if (size > 64) {
        inner_.reset();
        inner_.update(key, size);
        inner_.finish(block);
    } else {
        std::memcpy(block, key, size);
    }
    for (uint8_t& b : block) b ^= 0x36;
    inner_.reset();
    inner_.update(block, 64);
    for (uint8_t& b : block) b ^= 0x36 ^ 0x5c;
    outer_.reset();
    outer_.update(block, 64);
}

void ProcessorHmacSha1::update(const uint8_t* data, size_t size) { inner_.update(data, size); }

void ProcessorHmacSha1::finish(uint8_t out[20]) {
    uint8_t digest[20];
    inner_.finish(digest);
    outer_.update(digest, 20);
    outer_.finish(out);
}

#else

bool ProcessorAes::available() { return false; }
bool ProcessorAes::setKey(const uint8_t*, size_t) { return false; }
void ProcessorAes::encryptBlocks(const uint8_t*, uint8_t*, size_t) const {}
bool ProcessorHmacSha1::available() { return false; }
void ProcessorHmacSha1::start(const uint8_t*, size_t) {}
void ProcessorHmacSha1::update(const uint8_t*, size_t) {}
void ProcessorHmacSha1::finish(uint8_t out[20]) { std::memset(out, 0, 20); }

#endif

void ProcessorHmacSha1::deriveKey(const uint8_t* password, size_t passwordSize, const uint8_t* salt, size_t saltSize,
                                  unsigned rounds, uint8_t* out, size_t outSize) {
    // The keyed starting state is made once and copied for every code.
    ProcessorHmacSha1 keyed;
    keyed.start(password, passwordSize);
    for (uint32_t block = 1; outSize > 0; block++) {
        const uint8_t index[4] = {static_cast<uint8_t>(block >> 24), static_cast<uint8_t>(block >> 16),
                                  static_cast<uint8_t>(block >> 8), static_cast<uint8_t>(block)};
        uint8_t u[20], sum[20];
        ProcessorHmacSha1 mac = keyed;
        mac.update(salt, saltSize);
        mac.update(index, sizeof index);
        mac.finish(u);
        std::memcpy(sum, u, sizeof sum);
        for (unsigned round = 1; round < rounds; round++) {
            mac = keyed;
            mac.update(u, sizeof u);
            mac.finish(u);
            for (size_t i = 0; i < sizeof sum; i++) sum[i] ^= u[i];
        }
        const size_t n = std::min(outSize, sizeof sum);
        std::memcpy(out, sum, n);
        out += n;
        outSize -= n;
    }
}

int32_t WinZipAesDecryptor::begin(const char* password, uint8_t strength, const uint8_t* saltAndVerifier) {
    size_t salt = saltSize(strength);
    if (!crypto_ || salt == 0) return kZipReadFailed;
    size_t keySize = 8 + 8 * strength;  // 16, 24 or 32 bytes
    uint8_t derived[2 * 32 + kVerifierSize];
    size_t derivedSize = 2 * keySize + kVerifierSize;
    const char* text = password ? password : "";
    if (!crypto_->deriveKey(reinterpret_cast<const uint8_t*>(text), std::strlen(text), saltAndVerifier, salt, derived,
                            derivedSize))
        return kZipDataError;
    if (std::memcmp(derived + 2 * keySize, saltAndVerifier + salt, kVerifierSize) != 0) return kZipBadPassword;
    if (!crypto_->setKeys(derived, keySize, derived + keySize, keySize)) return kZipDataError;
    counterLow_ = counterHigh_ = 0;
    ready_ = used_ = 0;
    return kZipOk;
}

namespace {

void putLittleEndian(uint8_t* p, uint64_t v) {
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    std::memcpy(p, &v, 8);
}

}  // namespace

// Key stream for the next `wanted` bytes, whole blocks, at most kBatch: a
// small entry makes no more than it uses.
bool WinZipAesDecryptor::refill(size_t wanted) {
    size_t size = std::min(kBatch, (wanted + 15) / 16 * 16);
    // Through locals: a byte store could otherwise be the members' own.
    uint8_t* counters = counters_.get();
    uint64_t low = counterLow_, high = counterHigh_;
    for (size_t block = 0; block < size; block += 16) {
        if (++low == 0) high++;
        putLittleEndian(counters + block, low);
        putLittleEndian(counters + block + 8, high);
    }
    counterLow_ = low;
    counterHigh_ = high;
    ready_ = size;
    used_ = 0;
    return crypto_->encryptBlocks(counters_.get(), keyStream_.get(), size);
}

int32_t WinZipAesDecryptor::decrypt(uint8_t* data, size_t size) {
    if (!crypto_->macUpdate(data, size)) return kZipDataError;
    const uint8_t* stream = keyStream_.get();
    for (size_t done = 0; done < size;) {
        if (used_ == ready_ && !refill(size - done)) return kZipDataError;
        size_t n = std::min(size - done, ready_ - used_);
        uint8_t* to = data + done;
        const uint8_t* from = stream + used_;
        size_t i = 0;
        for (; i + 8 <= n; i += 8) {  // a word at a time
            uint64_t word, key;
            std::memcpy(&word, to + i, 8);
            std::memcpy(&key, from + i, 8);
            word ^= key;
            std::memcpy(to + i, &word, 8);
        }
        for (; i < n; i++) to[i] ^= from[i];
        used_ += n;
        done += n;
    }
    return kZipOk;
}

bool WinZipAesDecryptor::authenticate(const uint8_t code[kCodeSize]) {
    uint8_t mac[20];
    return crypto_->macFinish(mac) && std::memcmp(mac, code, kCodeSize) == 0;
}
