// The traditional PKWARE stream cipher of encrypted ZIP entries: three
// 32-bit keys, stirred by every password byte and then by every plain byte.
#pragma once

#include <cstddef>
#include <cstdint>

class TraditionalCipher {
public:
    // A null password leaves the keys at their start values.
    explicit TraditionalCipher(const char* password);

    uint8_t decryptByte(uint8_t c) {
        uint8_t plain = c ^ keyStreamByte();
        updateKeys(plain);
        return plain;
    }
    void decrypt(uint8_t* data, size_t size) {
        for (size_t i = 0; i < size; i++) data[i] = decryptByte(data[i]);
    }
    // The other direction, for tools and tests that write encrypted entries.
    uint8_t encryptByte(uint8_t plain) {
        uint8_t c = plain ^ keyStreamByte();
        updateKeys(plain);
        return c;
    }

private:
    uint8_t keyStreamByte() const {
        uint32_t temp = (keys_[2] & 0xFFFF) | 2;
        return static_cast<uint8_t>((temp * (temp ^ 1)) >> 8);
    }
    void updateKeys(uint8_t c);

    uint32_t keys_[3];
};
