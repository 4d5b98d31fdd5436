#include "zip/WinZipAes.h"

#include <algorithm>
#include <cstring>

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
    used_ = kBatch;
    return kZipOk;
}

bool WinZipAesDecryptor::refill() {
    std::memset(counters_, 0, sizeof counters_);
    for (size_t block = 0; block < kBatch; block += 16) {
        uint64_t n = ++counter_;
        for (int i = 0; i < 8; i++) counters_[block + i] = static_cast<uint8_t>(n >> (8 * i));
    }
    used_ = 0;
    return crypto_->encryptBlocks(counters_, keyStream_, kBatch);
}

int32_t WinZipAesDecryptor::decrypt(uint8_t* data, size_t size) {
    if (!crypto_->macUpdate(data, size)) return kZipDataError;
    for (size_t done = 0; done < size;) {
        if (used_ == kBatch && !refill()) return kZipDataError;
        size_t n = std::min(size - done, kBatch - used_);
        for (size_t i = 0; i < n; i++) data[done + i] ^= keyStream_[used_ + i];
        used_ += n;
        done += n;
    }
    return kZipOk;
}

bool WinZipAesDecryptor::authenticate(const uint8_t code[kCodeSize]) {
    uint8_t mac[20];
    return crypto_->macFinish(mac) && std::memcmp(mac, code, kCodeSize) == 0;
}
