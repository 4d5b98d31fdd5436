// WinZip AES encryption of ZIP entries (method 99, AE-1 and AE-2): the
// stored data is a salt (8, 12 or 16 bytes for 128, 192 or 256-bit keys), a
// 2-byte password verifier, the encrypted data and a 10-byte authentication
// code. PBKDF2-HMAC-SHA1 (1000 rounds) turns the password and salt into the
// AES key, the HMAC key and the verifier; the data is AES in counter mode
// (a 16-byte little-endian counter from 1) and the code is the first 10
// bytes of the HMAC-SHA1 of the encrypted data. The primitives come from a
// crypto library behind AesCrypto (Windows' CNG in this program), the AES
// blocks from the processor's own instructions where it has them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "zip/ZipResult.h"

class AesCrypto {
public:
    virtual ~AesCrypto() = default;
    // PBKDF2-HMAC-SHA1 with 1000 rounds.
    virtual bool deriveKey(const uint8_t* password, size_t passwordSize, const uint8_t* salt, size_t saltSize,
                           uint8_t* out, size_t outSize) = 0;
    // The AES key for encryptBlocks and the key of a new HMAC-SHA1.
    virtual bool setKeys(const uint8_t* aesKey, size_t aesKeySize, const uint8_t* macKey, size_t macKeySize) = 0;
    // AES-ECB encryption of whole 16-byte blocks, up to
    // WinZipAesDecryptor::kBatch bytes at a time.
    virtual bool encryptBlocks(const uint8_t* in, uint8_t* out, size_t size) = 0;
    virtual bool macUpdate(const uint8_t* data, size_t size) = 0;
    virtual bool macFinish(uint8_t out[20]) = 0;
};

using AesCryptoFactory = std::unique_ptr<AesCrypto> (*)();

// HMAC-SHA1 on the processor's SHA instructions (x86 and x86-64), several
// times the speed of SHA-1 in plain code: the authentication code runs over
// every stored byte of an AES entry.
class ProcessorHmacSha1 {
public:
    // Whether this processor has the SHA instructions (never elsewhere).
    static bool available();
    // Starts a code under this key (of any size); needs available().
    void start(const uint8_t* key, size_t size);
    void update(const uint8_t* data, size_t size);
    void finish(uint8_t out[20]);

    // PBKDF2-HMAC-SHA1 on these instructions (needs available()): a code is
    // two blocks here, where a crypto library's call costs more than the
    // rounds, and every AES entry derives its keys through 1000 rounds.
    static void deriveKey(const uint8_t* password, size_t passwordSize, const uint8_t* salt, size_t saltSize,
                          unsigned rounds, uint8_t* out, size_t outSize);

private:
    struct Sha1 {
        uint32_t state[5];
        uint8_t pending[64];
        size_t fill;
        uint64_t total;
        void reset();
        void update(const uint8_t* data, size_t size);
        void finish(uint8_t out[20]);
    };
    Sha1 inner_ = {}, outer_ = {};
};

// AES encryption on the processor's AES instructions (x86 and x86-64). A
// crypto library's call costs more than a block takes here, and under Wine
// each block of a call is a call of its own; these make counter blocks in
// bulk at the processor's speed, in constant time.
class ProcessorAes {
public:
    // Whether this processor has the AES instructions (never elsewhere).
    static bool available();
    // A 16, 24 or 32-byte key; false for other sizes or without available().
    bool setKey(const uint8_t* key, size_t size);
    // Whole 16-byte blocks, after setKey succeeded; in may be out.
    void encryptBlocks(const uint8_t* in, uint8_t* out, size_t size) const;

private:
    alignas(16) uint8_t roundKeys_[15 * 16] = {};
    int rounds_ = 0;
};

class WinZipAesDecryptor {
public:
    static constexpr size_t kVerifierSize = 2;
    static constexpr size_t kCodeSize = 10;

    explicit WinZipAesDecryptor(std::unique_ptr<AesCrypto> crypto) : crypto_(std::move(crypto)) {}

    // Salt bytes for strength 1, 2 or 3 (128, 192, 256 bits); 0 for others.
    static size_t saltSize(uint8_t strength) { return strength >= 1 && strength <= 3 ? 4 + 4 * strength : 0; }

    // Derives the keys from the password and the salt followed by the
    // verifier: kZipBadPassword when the verifier disagrees.
    int32_t begin(const char* password, uint8_t strength, const uint8_t* saltAndVerifier);

    // Authenticates and decrypts the next encrypted bytes in place: the
    // code over the whole piece, the key stream made for the piece in calls
    // of up to kBatch bytes; what a piece leaves of the last block serves
    // the next.
    int32_t decrypt(uint8_t* data, size_t size);

    // Whether the stored authentication code is the data's.
    bool authenticate(const uint8_t code[kCodeSize]);

    static constexpr size_t kBatch = 64 * 1024;  // the most key stream made in one call

private:
    bool refill(size_t wanted);

    std::unique_ptr<AesCrypto> crypto_;
    uint64_t counterLow_ = 0, counterHigh_ = 0;  // the last block's 128-bit counter; the first block's is 1
    std::unique_ptr<uint8_t[]> counters_{new uint8_t[kBatch]};
    std::unique_ptr<uint8_t[]> keyStream_{new uint8_t[kBatch]};
    size_t ready_ = 0;  // key stream bytes made by the last call
    size_t used_ = 0;   // of which used
};
