// WinZip AES encryption of ZIP entries (method 99, AE-1 and AE-2): the
// stored data is a salt (8, 12 or 16 bytes for 128, 192 or 256-bit keys), a
// 2-byte password verifier, the encrypted data and a 10-byte authentication
// code. PBKDF2-HMAC-SHA1 (1000 rounds) turns the password and salt into the
// AES key, the HMAC key and the verifier; the data is AES in counter mode
// (a 16-byte little-endian counter from 1) and the code is the first 10
// bytes of the HMAC-SHA1 of the encrypted data. The primitives come from a
// crypto library behind AesCrypto (Windows' CNG in this program).
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
    // AES-ECB encryption of whole 16-byte blocks.
    virtual bool encryptBlocks(const uint8_t* in, uint8_t* out, size_t size) = 0;
    virtual bool macUpdate(const uint8_t* data, size_t size) = 0;
    virtual bool macFinish(uint8_t out[20]) = 0;
};

using AesCryptoFactory = std::unique_ptr<AesCrypto> (*)();

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

    // Authenticates and decrypts the next encrypted bytes in place.
    int32_t decrypt(uint8_t* data, size_t size);

    // Whether the stored authentication code is the data's.
    bool authenticate(const uint8_t code[kCodeSize]);

private:
    static constexpr size_t kBatch = 4096;  // key stream made 256 blocks at a time
    bool refill();

    std::unique_ptr<AesCrypto> crypto_;
    uint64_t counter_ = 0;
    uint8_t counters_[kBatch] = {};
    uint8_t keyStream_[kBatch] = {};
    size_t used_ = kBatch;
};
