#include "zip/TraditionalCipher.h"

#include <zlib.h>

namespace {

// One step of CRC-32 over a single byte, the cipher's mixing function.
uint32_t crcStep(uint32_t crc, uint8_t c) {
    static const z_crc_t* table = get_crc_table();
    return table[(crc ^ c) & 0xFF] ^ (crc >> 8);
}

}  // namespace

TraditionalCipher::TraditionalCipher(const char* password) : keys_{0x12345678, 0x23456789, 0x34567890} {
    if (!password) return;
    for (const char* p = password; *p; p++) updateKeys(static_cast<uint8_t>(*p));
}

void TraditionalCipher::updateKeys(uint8_t c) {
    keys_[0] = crcStep(keys_[0], c);
    keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813 + 1;
    keys_[2] = crcStep(keys_[2], static_cast<uint8_t>(keys_[1] >> 24));
}
