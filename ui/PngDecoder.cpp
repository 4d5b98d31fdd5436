#include "ui/PngDecoder.h"

#include <png.h>

#include <cstring>

namespace {
// Our images are at most 256 x 256; anything far larger is not one of ours
// and would only cost memory.
constexpr png_uint_32 kMaxSide = 4096;
}  // namespace

bool isPng(std::span<const uint8_t> bytes) {
    return bytes.size() >= 8 && png_sig_cmp(bytes.data(), 0, 8) == 0;
}

Image decodePng(std::span<const uint8_t> bytes) {
    Image out;
    if (!isPng(bytes)) return out;
    // The simplified API keeps libpng's longjmp error handling inside libpng.
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&img, bytes.data(), bytes.size())) return out;
    if (img.width == 0 || img.height == 0 || img.width > kMaxSide || img.height > kMaxSide) {
        png_image_free(&img);
        return out;
    }
    // BGRA bytes are the little-endian 0xAARRGGBB of Image.
    img.format = PNG_FORMAT_BGRA;
    std::vector<uint32_t> pixels(static_cast<size_t>(img.width) * img.height);
    if (!png_image_finish_read(&img, nullptr, pixels.data(), 0, nullptr)) {
        png_image_free(&img);
        return out;
    }
    out.width = static_cast<int>(img.width);
    out.height = static_cast<int>(img.height);
    out.pixels = std::move(pixels);
    return out;
}
