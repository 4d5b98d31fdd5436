#include "ui/IcoFile.h"

#include <algorithm>

namespace {
uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t u32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
}  // namespace

std::optional<IcoImage> pickIcoImage(std::span<const uint8_t> ico) {
    if (ico.size() < 6 || u16(&ico[0]) != 0 || u16(&ico[2]) != 1) return std::nullopt;
    const size_t count = u16(&ico[4]);
    if (count == 0 || ico.size() < 6 + count * 16) return std::nullopt;
    std::optional<IcoImage> best;
    for (size_t i = 0; i < count; i++) {
        const uint8_t* e = &ico[6 + i * 16];
        const uint32_t size = u32(e + 8), offset = u32(e + 12);
        if (size == 0 || offset > ico.size() || size > ico.size() - offset) continue;
        IcoImage img;
        img.width = e[0] ? e[0] : 256;
        img.height = e[1] ? e[1] : 256;
        img.bitCount = u16(e + 6);
        img.data = ico.subspan(offset, size);
        img.png = size >= 8 && std::equal(kPngSignature, kPngSignature + 8, img.data.begin());
        if (!best || img.width * img.height > best->width * best->height ||
            (img.width * img.height == best->width * best->height && img.bitCount > best->bitCount))
            best = img;
    }
    return best;
}
