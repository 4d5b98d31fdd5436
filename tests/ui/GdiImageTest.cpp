// libpng decoding, GDI bitmaps and icons made from the embedded images.
#include "UiTestSupport.h"

#include "base/UniqueAny.h"
#include "resources/ResourceIds.h"
#include "ui/Forms.h"
#include "ui/GdiImage.h"
#include "ui/PngDecoder.h"

#include <png.h>

#include <cstring>

namespace {

std::vector<uint8_t> encodePng(int w, int h, png_uint_32 format, const void* pixels) {
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    img.width = png_uint_32(w);
    img.height = png_uint_32(h);
    img.format = format;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&img, nullptr, &size, 0, pixels, 0, nullptr);
    std::vector<uint8_t> out(size);
    if (!png_image_write_to_memory(&img, out.data(), &size, 0, pixels, 0, nullptr)) return {};
    out.resize(size);
    return out;
}

// Draws an icon onto white and returns the pixels.
Image renderIcon(HICON icon, int size) {
    Image white;
    white.width = white.height = size;
    white.pixels.assign(size_t(size) * size, 0xFFFFFFFFu);
    UniqueHbitmap dib = createDib(white);
    UniqueHdc dc(::CreateCompatibleDC(nullptr));
    SelectGuard sel(dc.get(), dib.get());
    ::DrawIconEx(dc.get(), 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
    return readDib(dib.get());
}

}  // namespace

TEST(PngDecoding, EmbeddedGlyphsDecodeWithAlpha) {
    for (int id : {QZ_IDR_FOLDER_PNG, QZ_IDR_SCREEN_PNG, QZ_IDR_FOLDER_OPEN_PNG}) {
        Image img = decodePng(resourceBytes(id));
        ASSERT_EQ(img.width, 16) << id;
        ASSERT_EQ(img.height, 16) << id;
        EXPECT_EQ(img.at(0, 0) >> 24, 0u) << "corners are transparent";
        size_t navy = 0;
        for (uint32_t p : img.pixels) navy += p == argb(255, 39, 38, 54);
        EXPECT_GT(navy, 20u) << id;
    }
    Image archive = decodePng(resourceBytes(QZ_IDR_ARCHIVE_PNG));
    ASSERT_EQ(archive.width, 24);
    const uint32_t middle = archive.at(4, 8);
    EXPECT_EQ(middle >> 24, 255u);
    EXPECT_GT((middle >> 16) & 0xFF, 200u);  // orange: strong red,
    EXPECT_LT(middle & 0xFF, 80u);           // little blue
}

TEST(PngDecoding, OtherFormatsExpandAndBadBytesGiveNothing) {
    const uint8_t grey[4] = {0, 85, 170, 255};
    std::vector<uint8_t> png = encodePng(2, 2, PNG_FORMAT_GRAY, grey);
    ASSERT_FALSE(png.empty());
    Image img = decodePng(png);
    ASSERT_EQ(img.pixels.size(), 4u);
    EXPECT_EQ(img.pixels[1], argb(255, 85, 85, 85));
    EXPECT_EQ(img.pixels[3], argb(255, 255, 255, 255));

    EXPECT_TRUE(decodePng(std::span<const uint8_t>(png.data(), png.size() / 2)).empty());
    std::vector<uint8_t> corrupt = png;
    corrupt[corrupt.size() - 20] ^= 0xFF;  // inside the image data: checksum fails
    EXPECT_TRUE(decodePng(corrupt).empty());
    const uint8_t text[] = "not a picture at all";
    EXPECT_TRUE(decodeImage(text).empty());
    EXPECT_TRUE(decodeImage({}).empty());
}

TEST(Icons, ProgramIconMakesSmallAndLargeIcons) {
    std::span<const uint8_t> ico = programIconBytes();
    ASSERT_GT(ico.size(), 1000u);
    for (int size : {16, 32, 48}) {
        UniqueHicon icon = iconFromIco(ico, size);
        ASSERT_TRUE(icon) << size;
        ICONINFO ii{};
        ASSERT_TRUE(::GetIconInfo(icon.get(), &ii));
        UniqueHbitmap colour(ii.hbmColor), mask(ii.hbmMask);
        BITMAP bm{};
        ::GetObjectW(colour.get(), sizeof bm, &bm);
        EXPECT_EQ(bm.bmWidth, size);
        EXPECT_EQ(bm.bmHeight, size);
        Image drawn = renderIcon(icon.get(), size);
        EXPECT_EQ(pixelAt(drawn, 0, 0), rgb(255, 255, 255)) << "transparent corner, size " << size;
        const ColourRef centre = pixelAt(drawn, size / 2, size / 2 + size / 8);
        EXPECT_NE(centre, rgb(255, 255, 255)) << "the box is drawn, size " << size;
        EXPECT_GT(redOf(centre), blueOf(centre)) << "cardboard brown";
    }
    const uint8_t junk[64] = {0, 0, 1, 0, 1, 0};
    EXPECT_FALSE(iconFromIco(junk, 16));
    EXPECT_FALSE(iconFromIco({}, 16));
}

TEST(Icons, KeyMaskBitmapMatchesTheImage) {
    Image img = decodePng(resourceBytes(QZ_IDR_FOLDER_PNG));
    compositeOver(img, rgb(255, 255, 255));
    UniqueHbitmap mask = createKeyMask(img, kAutoKey);
    ASSERT_TRUE(mask);
    BITMAP bm{};
    ::GetObjectW(mask.get(), sizeof bm, &bm);
    EXPECT_EQ(bm.bmBitsPixel, 1);
    UniqueHdc dc(::CreateCompatibleDC(nullptr));
    SelectGuard sel(dc.get(), mask.get());
    EXPECT_EQ(::GetPixel(dc.get(), 0, 0), RGB(255, 255, 255));  // key: transparent
    EXPECT_EQ(::GetPixel(dc.get(), 8, 10), RGB(0, 0, 0));       // folder body: opaque
}
