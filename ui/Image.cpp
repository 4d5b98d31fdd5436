#include "ui/Image.h"

#include <algorithm>
#include <cmath>

void compositeOver(Image& image, ColourRef background) {
    const int bg[3] = {redOf(background), greenOf(background), blueOf(background)};
    for (uint32_t& p : image.pixels) {
        const int a = static_cast<int>(p >> 24);
        const int c[3] = {int((p >> 16) & 0xFF), int((p >> 8) & 0xFF), int(p & 0xFF)};
        int out[3];
        for (int i = 0; i < 3; i++) out[i] = std::clamp((a * c[i] + (255 - a) * bg[i] + 127) / 255, 0, 255);
        p = argb(255, out[0], out[1], out[2]);
    }
}

ColourRef effectiveKey(const Image& image, ColourRef key) {
    if (key != kAutoKey) return key & 0xFFFFFF;
    return image.empty() ? 0 : colourOfPixel(image.pixels[0]);
}

std::vector<uint8_t> buildKeyMask(const Image& image, ColourRef key) {
    if (image.empty()) return {};
    const ColourRef k = effectiveKey(image, key);
    const size_t stride = ((static_cast<size_t>(image.width) + 15) / 16) * 2;
    std::vector<uint8_t> mask(stride * image.height, 0);
    for (int y = 0; y < image.height; y++)
        for (int x = 0; x < image.width; x++)
            if (colourOfPixel(image.at(x, y)) == k) mask[y * stride + x / 8] |= uint8_t(0x80 >> (x % 8));
    return mask;
}

void clearKeyPixels(Image& image, ColourRef key) {
    const ColourRef k = effectiveKey(image, key);
    for (uint32_t& p : image.pixels)
        if (colourOfPixel(p) == k) p &= 0xFF000000u;
}

Image scaleImage(const Image& src, int width, int height) {
    Image out;
    if (src.empty() || width <= 0 || height <= 0) return out;
    out.width = width;
    out.height = height;
    out.pixels.resize(static_cast<size_t>(width) * height);
    const double sx = double(src.width) / width, sy = double(src.height) / height;
    for (int y = 0; y < height; y++) {
        const double y0 = y * sy, y1 = (y + 1) * sy;
        for (int x = 0; x < width; x++) {
            const double x0 = x * sx, x1 = (x + 1) * sx;
            // Sum the source pixels under the destination pixel, weighted by
            // the covered area and, for the colours, by alpha.
            double a = 0, r = 0, g = 0, b = 0, area = 0;
            for (int v = int(y0); v < std::min(src.height, int(std::ceil(y1))); v++) {
                const double wy = std::min(y1, v + 1.0) - std::max(y0, double(v));
                for (int u = int(x0); u < std::min(src.width, int(std::ceil(x1))); u++) {
                    const double w = wy * (std::min(x1, u + 1.0) - std::max(x0, double(u)));
                    const uint32_t p = src.at(u, v);
                    const double pa = (p >> 24) / 255.0;
                    a += w * pa;
                    r += w * pa * ((p >> 16) & 0xFF);
                    g += w * pa * ((p >> 8) & 0xFF);
                    b += w * pa * (p & 0xFF);
                    area += w;
                }
            }
            if (a <= 0 || area <= 0) {
                out.pixels[static_cast<size_t>(y) * width + x] = 0;
                continue;
            }
            auto ch = [](double v) { return std::clamp(int(std::lround(v)), 0, 255); };
            out.pixels[static_cast<size_t>(y) * width + x] = argb(ch(a / area * 255), ch(r / a), ch(g / a), ch(b / a));
        }
    }
    return out;
}
