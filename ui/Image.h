// A decoded picture and the pixel work done on it before GDI sees it:
// compositing over a background, key-colour masks, downscaling for icons.
// Platform-free.
#pragma once

#include "ui/Colour.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// 32-bit pixels 0xAARRGGBB (bytes B, G, R, A in memory, as in a 32-bit DIB),
// straight (not premultiplied) alpha, rows top-down.
struct Image {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;

    bool empty() const { return width <= 0 || height <= 0; }
    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

constexpr uint32_t argb(int a, int r, int g, int b) {
    return (uint32_t(a & 0xFF) << 24) | (uint32_t(r & 0xFF) << 16) | (uint32_t(g & 0xFF) << 8) | uint32_t(b & 0xFF);
}
constexpr ColourRef colourOfPixel(uint32_t p) { return rgb((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF); }

// Makes every pixel opaque: channel := a/255 * channel + (1 - a/255) * background.
void compositeOver(Image& image, ColourRef background);

// The key colour in use: `key` itself, or the top-left pixel for kAutoKey.
ColourRef effectiveKey(const Image& image, ColourRef key);

// A 1-bit mask in the layout CreateBitmap wants (rows padded to 16 bits,
// most significant bit first): 1 where the pixel has the key colour
// (transparent), 0 where it is opaque.
std::vector<uint8_t> buildKeyMask(const Image& image, ColourRef key);

// Sets key-coloured pixels to black, so OR-ing the image onto a destination
// cleared by the mask leaves the destination visible there.
void clearKeyPixels(Image& image, ColourRef key);

// Area-averaging resize with alpha weighting, for making small icons from
// the large icon image. Returns an empty image for a non-positive size.
Image scaleImage(const Image& image, int width, int height);
