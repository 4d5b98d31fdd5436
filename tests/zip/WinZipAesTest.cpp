#include "zip/WinZipAes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes hex(const char* text) {
    Bytes out;
    for (const char* p = text; p[0] && p[1]; p += 2) out.push_back(static_cast<uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
    return out;
}

// The processor's AES against the standard's example vectors, one block
// alone and eleven at once (through the four-block path and the rest), in
// place.
TEST(ProcessorAes, KnownAnswers) {
    if (!ProcessorAes::available()) GTEST_SKIP() << "no AES instructions";
    struct Case {
        size_t keySize;
        uint8_t cipher[16];
    } cases[] = {
        {16, {0x69, 0xc4, 0xe0, 0xd8, 0x6a, 0x7b, 0x04, 0x30, 0xd8, 0xcd, 0xb7, 0x80, 0x70, 0xb4, 0xc5, 0x5a}},
        {24, {0xdd, 0xa9, 0x7c, 0xa4, 0x86, 0x4c, 0xdf, 0xe0, 0x6e, 0xaf, 0x70, 0xa0, 0xec, 0x0d, 0x71, 0x91}},
        {32, {0x8e, 0xa2, 0xb7, 0xca, 0x51, 0x67, 0x45, 0xbf, 0xea, 0xfc, 0x49, 0x90, 0x4b, 0x49, 0x60, 0x89}},
    };
    uint8_t key[32];
    for (int i = 0; i < 32; i++) key[i] = static_cast<uint8_t>(i);
    for (const Case& c : cases) {
        ProcessorAes aes;
        ASSERT_TRUE(aes.setKey(key, c.keySize));
        for (size_t blocks : {1, 11}) {
            Bytes data(16 * blocks);
            for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>((i % 16) * 0x11);
            aes.encryptBlocks(data.data(), data.data(), data.size());
            for (size_t b = 0; b < blocks; b++)
                EXPECT_TRUE(std::equal(c.cipher, c.cipher + 16, data.begin() + 16 * b)) << c.keySize << " " << b;
        }
    }
    ProcessorAes odd;
    EXPECT_FALSE(odd.setKey(key, 20));
}

// HMAC-SHA1 on the processor against RFC 2202's cases (a key longer than a
// block among them) and a 32-byte key over up to 1000 bytes, fed in pieces
// that end inside a block, on its end and past it.
TEST(ProcessorHmacSha1, KnownAnswers) {
    if (!ProcessorHmacSha1::available()) GTEST_SKIP() << "no SHA instructions";
    Bytes counting(32), long_(1000);
    for (size_t i = 0; i < counting.size(); i++) counting[i] = static_cast<uint8_t>(i);
    for (size_t i = 0; i < long_.size(); i++) long_[i] = static_cast<uint8_t>(i * 7 % 251);
    auto text = [](const char* s) { return Bytes(s, s + std::char_traits<char>::length(s)); };
    struct Case {
        Bytes key, data;
        const char* code;
    } cases[] = {
        {Bytes(20, 0x0b), text("Hi There"), "b617318655057264e28bc0b6fb378c8ef146be00"},
        {text("Jefe"), text("what do ya want for nothing?"), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {Bytes(20, 0xaa), Bytes(50, 0xdd), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {Bytes(80, 0xaa), text("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
         "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
        {counting, {}, "b459b2a1c9fc2f668c6509f6907d41f2209f507c"},
        {counting, long_, "fd48d6aec323b9e1b0bb64b1387e5e2bfb1cf3f6"},
        // The length still fits after the padding byte, and no longer does.
        {counting, Bytes(long_.begin(), long_.begin() + 55), "9c8326626c6d973357c65fcac85861b871fd03e2"},
        {counting, Bytes(long_.begin(), long_.begin() + 56), "05a6c32dac8d141bb475aa12eee99e0955770341"},
    };
    for (const Case& c : cases) {
        for (size_t piece : {size_t{1}, size_t{55}, size_t{64}, size_t{65}, size_t{1000}}) {
            ProcessorHmacSha1 mac;
            mac.start(c.key.data(), c.key.size());
            for (size_t at = 0; at < c.data.size(); at += piece)
                mac.update(c.data.data() + at, std::min(piece, c.data.size() - at));
            Bytes out(20);
            mac.finish(out.data());
            EXPECT_EQ(out, hex(c.code)) << c.code << " in pieces of " << piece;
        }
    }
}

// PBKDF2-HMAC-SHA1 on the processor against RFC 6070's cases: one round
// and many, outputs shorter and longer than one code, NULs in the password
// and the salt.
TEST(ProcessorHmacSha1, DerivesKeysAsPbkdf2) {
    if (!ProcessorHmacSha1::available()) GTEST_SKIP() << "no SHA instructions";
    using namespace std::string_literals;
    struct Case {
        std::string password, salt;
        unsigned rounds;
        const char* key;
    } cases[] = {
        {"password", "salt", 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {"password", "salt", 2, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
        {"password", "salt", 4096, "4b007901b765489abead49d926f721d065a429c1"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
         "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
        {"pass\0word"s, "sa\0lt"s, 4096, "56fa6aa75548099dcc37d7f03425e0c3"},
    };
    for (const Case& c : cases) {
        const Bytes expected = hex(c.key);
        Bytes out(expected.size());
        ProcessorHmacSha1::deriveKey(reinterpret_cast<const uint8_t*>(c.password.data()), c.password.size(),
                                     reinterpret_cast<const uint8_t*>(c.salt.data()), c.salt.size(), c.rounds,
                                     out.data(), out.size());
        EXPECT_EQ(out, expected) << c.key;
    }
}

}  // namespace
