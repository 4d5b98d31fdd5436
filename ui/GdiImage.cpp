#include "ui/GdiImage.h"

#include "ui/IcoFile.h"
#include "ui/PngDecoder.h"

#include <cstring>

namespace {

BITMAPINFO dibInfo(int width, int height) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    return bi;
}

// Reads an uncompressed BMP file (24 or 32 bits) through GDI's own decoder.
Image decodeBmp(std::span<const uint8_t> bytes) {
    Image out;
    if (bytes.size() < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) || bytes[0] != 'B' || bytes[1] != 'M')
        return out;
    BITMAPFILEHEADER fh;
    std::memcpy(&fh, bytes.data(), sizeof fh);
    BITMAPINFOHEADER ih;
    std::memcpy(&ih, bytes.data() + sizeof fh, sizeof ih);
    const LONG height = ih.biHeight < 0 ? -ih.biHeight : ih.biHeight;
    if (ih.biWidth <= 0 || ih.biWidth > 4096 || height <= 0 || height > 4096 || fh.bfOffBits >= bytes.size())
        return out;
    const size_t stride = ((size_t(ih.biWidth) * ih.biBitCount + 31) / 32) * 4;
    if (ih.biCompression != BI_RGB || stride * height > bytes.size() - fh.bfOffBits) return out;
    WindowDc screen(nullptr);
    UniqueHbitmap bmp(::CreateDIBitmap(screen.get(), &ih, CBM_INIT, bytes.data() + fh.bfOffBits,
                                       reinterpret_cast<const BITMAPINFO*>(bytes.data() + sizeof fh),
                                       DIB_RGB_COLORS));
    if (!bmp) return out;
    BITMAPINFO bi = dibInfo(ih.biWidth, height);
    std::vector<uint32_t> pixels(size_t(ih.biWidth) * height);
    if (::GetDIBits(screen.get(), bmp.get(), 0, height, pixels.data(), &bi, DIB_RGB_COLORS) != height) return out;
    for (uint32_t& p : pixels) p |= 0xFF000000u;  // BMP pixels are opaque
    out.width = ih.biWidth;
    out.height = height;
    out.pixels = std::move(pixels);
    return out;
}

}  // namespace

UniqueHbitmap createDib(const Image& image) {
    if (image.empty()) return {};
    BITMAPINFO bi = dibInfo(image.width, image.height);
    void* bits = nullptr;
    UniqueHbitmap bmp(::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (bmp && bits) std::memcpy(bits, image.pixels.data(), image.pixels.size() * sizeof(uint32_t));
    return bmp;
}

UniqueHbitmap createKeyMask(const Image& image, ColourRef key) {
    if (image.empty()) return {};
    std::vector<uint8_t> bits = buildKeyMask(image, key);
    return UniqueHbitmap(::CreateBitmap(image.width, image.height, 1, 1, bits.data()));
}

UniqueHicon createIcon(const Image& image) {
    if (image.empty()) return {};
    UniqueHbitmap colour = createDib(image);
    // The AND mask matters only where alpha is not honoured: transparent
    // where the pixel is fully transparent.
    Image alphaKey = image;
    for (uint32_t& p : alphaKey.pixels) p = (p >> 24) == 0 ? 0xFFFFFFFFu : 0xFF000000u;
    UniqueHbitmap mask = createKeyMask(alphaKey, rgb(255, 255, 255));
    if (!colour || !mask) return {};
    ICONINFO ii{};
    ii.fIcon = TRUE;
    ii.hbmColor = colour.get();
    ii.hbmMask = mask.get();
    return UniqueHicon(::CreateIconIndirect(&ii));  // copies both bitmaps
}

Image decodeImage(std::span<const uint8_t> bytes) {
    if (isPng(bytes)) return decodePng(bytes);
    return decodeBmp(bytes);
}

UniqueHicon iconFromIco(std::span<const uint8_t> ico, int size) {
    std::optional<IcoImage> best = pickIcoImage(ico);
    if (!best || size <= 0) return {};
    if (best->png) {
        Image image = decodePng(best->data);
        if (image.empty()) return {};
        if (image.width != size || image.height != size) image = scaleImage(image, size, size);
        return createIcon(image);
    }
    // A DIB image: the system reads it and scales it itself.
    return UniqueHicon(::CreateIconFromResourceEx(const_cast<PBYTE>(best->data.data()),
                                                  static_cast<DWORD>(best->data.size()), TRUE, 0x00030000, size,
                                                  size, LR_DEFAULTCOLOR));
}

std::span<const uint8_t> resourceBytes(int id) {
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC res = ::FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (!res) return {};
    HGLOBAL loaded = ::LoadResource(module, res);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    if (!data) return {};
    return {static_cast<const uint8_t*>(data), ::SizeofResource(module, res)};
}
