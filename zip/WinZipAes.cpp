#include "zip/WinZipAes.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define QZ_PROCESSOR_AES 1
// 32-bit Windows keeps the stack 4-byte aligned; these functions may spill
// 16-byte vectors, so they align their own frames there.
#if defined(__i386__)
#define QZ_AES_FUNCTION __attribute__((target("aes,sse2"), force_align_arg_pointer))
#else
#define QZ_AES_FUNCTION __attribute__((target("aes,sse2")))
#endif
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

#else

bool ProcessorAes::available() { return false; }
bool ProcessorAes::setKey(const uint8_t*, size_t) { return false; }
void ProcessorAes::encryptBlocks(const uint8_t*, uint8_t*, size_t) const {}

#endif

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
    counter_ = 0;
    ready_ = used_ = 0;
    return kZipOk;
}

// Key stream for the next `wanted` bytes, whole blocks, at most kBatch: a
// small entry makes no more than it uses.
bool WinZipAesDecryptor::refill(size_t wanted) {
    size_t size = std::min(kBatch, (wanted + 15) / 16 * 16);
    std::memset(counters_.get(), 0, size);
    for (size_t block = 0; block < size; block += 16) {
        uint64_t n = ++counter_;
        for (int i = 0; i < 8; i++) counters_[block + i] = static_cast<uint8_t>(n >> (8 * i));
    }
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
        for (size_t i = 0; i < n; i++) to[i] ^= from[i];
        used_ += n;
        done += n;
    }
    return kZipOk;
}

bool WinZipAesDecryptor::authenticate(const uint8_t code[kCodeSize]) {
    uint8_t mac[20];
    return crypto_->macFinish(mac) && std::memcmp(mac, code, kCodeSize) == 0;
}
