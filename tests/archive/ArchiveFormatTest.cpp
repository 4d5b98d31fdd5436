#include "archive/ArchiveFormat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> bytes(const std::string& text, size_t size = 0) {
    std::vector<uint8_t> out(text.begin(), text.end());
    if (out.size() < size) out.resize(size);
    return out;
}

// A tar header for name: "ustar" magic or none (an old header), with its checksum.
std::vector<uint8_t> tarHeader(const char* name, bool ustar, int checksumDelta = 0) {
    std::vector<uint8_t> h(512);
    std::memcpy(h.data(), name, std::strlen(name));
    std::memcpy(h.data() + 100, "0000644", 7);
    std::memcpy(h.data() + 124, "00000000004", 11);
    h[156] = '0';
    if (ustar) std::memcpy(h.data() + 257, "ustar\0" "00", 8);
    unsigned sum = 0;
    for (size_t i = 0; i < 512; i++) sum += (i >= 148 && i < 156) ? ' ' : h[i];
    std::snprintf(reinterpret_cast<char*>(h.data()) + 148, 8, "%06o", sum + checksumDelta);
    return h;
}

TEST(ArchiveFormat, SignaturesDecideAndNamesDoNot) {
    const struct {
        std::vector<uint8_t> head;
        ArchiveFormat format;
    } cases[] = {
        {bytes("PK\x03\x04rest"), ArchiveFormat::zip},
        {bytes(std::string("PK\x05\x06", 4), 22), ArchiveFormat::zip},
        {bytes("7z\xBC\xAF\x27\x1C\x00\x04"), ArchiveFormat::sevenZip},
        {bytes(std::string("Rar!\x1A\x07\x00\xCF\x90\x73", 10)), ArchiveFormat::rar},
        {bytes(std::string("Rar!\x1A\x07\x01\x00", 8), 20), ArchiveFormat::rar5},
        {bytes("\x1F\x8B\x08\x00"), ArchiveFormat::gzip},
        {bytes("BZh91AY&SY"), ArchiveFormat::bzip2},
        {bytes("BZh0"), ArchiveFormat::unknown},  // no block size
        {bytes(std::string("\xFD" "7zXZ\x00\x00", 7)), ArchiveFormat::xz},
        {bytes("\x28\xB5\x2F\xFD\x04"), ArchiveFormat::zstd},
        {tarHeader("a.txt", true), ArchiveFormat::tar},
        {tarHeader("a.txt", false), ArchiveFormat::tar},
        {tarHeader("a.txt", false, 1), ArchiveFormat::unknown},  // a wrong checksum
        {bytes("MZ\x90\x00"), ArchiveFormat::unknown},           // a program (perhaps a ZIP behind it)
        {bytes(""), ArchiveFormat::unknown},
        {bytes("Rar!\x1A"), ArchiveFormat::unknown},             // cut short
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sniffFormat(c.head.data(), c.head.size()), c.format) << formatName(c.format);
    }
    EXPECT_STREQ(formatName(ArchiveFormat::sevenZip), "7z");
    EXPECT_TRUE(isCompressedStream(ArchiveFormat::zstd));
    EXPECT_FALSE(isCompressedStream(ArchiveFormat::tar));
}

TEST(ArchiveFormat, EncryptedRarHeaders) {
    // RAR 4: the main header's flag 0x0080; RAR 5: an encryption header first.
    const std::string rar4 = std::string("Rar!\x1A\x07\x00", 7) + std::string("\x00\x00\x73", 3);
    const auto rar4With = [&](uint8_t flags) { return bytes(rar4 + std::string(1, char(flags)) + '\0', 20); };
    EXPECT_TRUE(rarHeadersEncrypted(rar4With(0x80).data(), 20));
    EXPECT_FALSE(rarHeadersEncrypted(rar4With(0x01).data(), 20));
    const std::string rar5 = std::string("Rar!\x1A\x07\x01\x00", 8) + std::string(4, '\0');
    const auto rar5With = [&](uint8_t type) { return bytes(rar5 + '\x21' + std::string(1, char(type)), 20); };
    EXPECT_TRUE(rarHeadersEncrypted(rar5With(4).data(), 20));
    EXPECT_FALSE(rarHeadersEncrypted(rar5With(1).data(), 20));
    EXPECT_FALSE(rarHeadersEncrypted(rar5With(4).data(), 13));  // cut before the type
    EXPECT_FALSE(rarHeadersEncrypted(bytes("7z\xBC\xAF\x27\x1C").data(), 6));
}

}  // namespace
