// Pixel work, icon-file reading, the tooltip cut, the click wave and the
// window tables' layout rules. Runs on the host and under Wine.
#include "ui/ClickWave.h"
#include "ui/FormTables.h"
#include "ui/IcoFile.h"
#include "ui/Image.h"
#include "ui/TrayTip.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace {

Image solid(int w, int h, uint32_t pixel) {
    Image img;
    img.width = w;
    img.height = h;
    img.pixels.assign(static_cast<size_t>(w) * h, pixel);
    return img;
}

std::vector<uint8_t> readSourceFile(const std::string& relative) {
    const char* top = std::getenv("QZ_SOURCE_DIR");
    std::ifstream in(std::string(top ? top : ".") + "/" + relative, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void put16(std::vector<uint8_t>& v, size_t at, uint16_t x) {
    v[at] = uint8_t(x);
    v[at + 1] = uint8_t(x >> 8);
}
void put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    put16(v, at, uint16_t(x));
    put16(v, at + 2, uint16_t(x >> 16));
}

// An icon file with the given entries (width byte, bit count, data size);
// the data follow the directory, filled with `fill`.
std::vector<uint8_t> makeIco(std::initializer_list<std::tuple<int, int, uint32_t>> entries, uint8_t fill = 0) {
    size_t dataStart = 6 + 16 * entries.size(), total = dataStart;
    for (auto& e : entries) total += std::get<2>(e);
    std::vector<uint8_t> ico(total, fill);
    put16(ico, 0, 0);
    put16(ico, 2, 1);
    put16(ico, 4, uint16_t(entries.size()));
    size_t i = 0, offset = dataStart;
    for (auto& [width, bits, size] : entries) {
        uint8_t* e = &ico[6 + 16 * i];
        std::memset(e, 0, 16);
        e[0] = e[1] = uint8_t(width);
        put16(ico, 6 + 16 * i + 6, uint16_t(bits));
        put32(ico, 6 + 16 * i + 8, size);
        put32(ico, 6 + 16 * i + 12, uint32_t(offset));
        offset += size;
        i++;
    }
    return ico;
}

}  // namespace

TEST(Image, CompositeOverBackgroundFollowsAlpha) {
    Image img = solid(3, 1, 0);
    img.pixels[0] = argb(0, 10, 20, 30);       // transparent: background
    img.pixels[1] = argb(255, 10, 20, 30);     // opaque: itself
    img.pixels[2] = argb(128, 0, 100, 255);    // half: a blend
    compositeOver(img, rgb(255, 255, 255));
    EXPECT_EQ(img.pixels[0], argb(255, 255, 255, 255));
    EXPECT_EQ(img.pixels[1], argb(255, 10, 20, 30));
    EXPECT_EQ(img.pixels[2], argb(255, 127, 177, 255));
    Image onGreen = solid(1, 1, argb(0, 1, 2, 3));
    compositeOver(onGreen, rgb(60, 202, 155));
    EXPECT_EQ(onGreen.pixels[0], argb(255, 60, 202, 155));
}

TEST(Image, KeyMaskMarksKeyColouredPixelsAndPadsRows) {
    Image img = solid(17, 2, argb(255, 255, 255, 255));
    img.pixels[1] = argb(255, 39, 38, 54);        // (1, 0)
    img.pixels[17 + 16] = argb(255, 39, 38, 54);  // (16, 1)
    EXPECT_EQ(effectiveKey(img, kAutoKey), rgb(255, 255, 255));
    std::vector<uint8_t> mask = buildKeyMask(img, kAutoKey);
    ASSERT_EQ(mask.size(), 2u * 4u);  // 17 bits round up to two 16-bit words per row
    EXPECT_EQ(mask[0], 0xBF);         // bit for x = 1 is clear (opaque)
    EXPECT_EQ(mask[1], 0xFF);
    EXPECT_EQ(mask[2], 0x80);         // x = 16 transparent, padding zero
    EXPECT_EQ(mask[4 + 2], 0x00);     // x = 16 of row 1 is opaque
    EXPECT_EQ(mask[4 + 0], 0xFF);

    // An explicit key: only that colour is transparent.
    std::vector<uint8_t> navyKey = buildKeyMask(img, rgb(39, 38, 54));
    EXPECT_EQ(navyKey[0], 0x40);
    clearKeyPixels(img, kAutoKey);
    EXPECT_EQ(img.pixels[0] & 0xFFFFFF, 0u);
    EXPECT_EQ(img.pixels[1], argb(255, 39, 38, 54));
}

TEST(Image, ScalingAveragesByAreaAndAlpha) {
    Image img = solid(2, 2, argb(0, 0, 0, 0));
    img.pixels[0] = argb(255, 200, 100, 0);
    img.pixels[3] = argb(255, 0, 100, 200);
    Image one = scaleImage(img, 1, 1);
    ASSERT_EQ(one.pixels.size(), 1u);
    // Transparent pixels lower the alpha, not the colour.
    EXPECT_EQ(one.pixels[0], argb(128, 100, 100, 100));

    Image big = solid(256, 256, argb(255, 232, 178, 112));
    Image small = scaleImage(big, 16, 16);
    EXPECT_EQ(small.width, 16);
    for (uint32_t p : small.pixels) ASSERT_EQ(p, argb(255, 232, 178, 112));
    EXPECT_TRUE(scaleImage(big, 0, 16).empty());
}

TEST(IcoFile, PicksTheLargestImageAndChecksOffsets) {
    std::vector<uint8_t> ico = makeIco({{16, 32, 40}, {0, 32, 60}, {32, 8, 50}});
    std::optional<IcoImage> best = pickIcoImage(ico);
    ASSERT_TRUE(best);
    EXPECT_EQ(best->width, 256);
    EXPECT_EQ(best->data.size(), 60u);
    EXPECT_EQ(best->data.data(), ico.data() + 6 + 48 + 40);
    EXPECT_FALSE(best->png);

    // An entry whose data run past the end is skipped; none left: no image.
    std::vector<uint8_t> bad = makeIco({{0, 32, 60}});
    put32(bad, 6 + 8, 1000);
    EXPECT_FALSE(pickIcoImage(bad));
    put32(bad, 6 + 8, 60);
    put32(bad, 6 + 12, 0xFFFFFFF0u);
    EXPECT_FALSE(pickIcoImage(bad));

    std::vector<uint8_t> notIcon = makeIco({{16, 32, 40}});
    put16(notIcon, 2, 2);  // a cursor file
    EXPECT_FALSE(pickIcoImage(notIcon));
    EXPECT_FALSE(pickIcoImage(std::span<const uint8_t>(ico.data(), 20)));  // directory cut short
    EXPECT_FALSE(pickIcoImage({}));
}

TEST(IcoFile, ProgramIconIsOne256PixelPng) {
    std::vector<uint8_t> ico = readSourceFile("resources/app.ico");
    ASSERT_FALSE(ico.empty()) << "QZ_SOURCE_DIR must point at the source tree";
    std::optional<IcoImage> best = pickIcoImage(ico);
    ASSERT_TRUE(best);
    EXPECT_TRUE(best->png);
    EXPECT_EQ(best->width, 256);
    EXPECT_EQ(best->height, 256);
    EXPECT_EQ(best->bitCount, 32);
}

TEST(TrayTip, CutsAt62BytesOnCharacterBoundaries) {
    const std::string title = "QuilloZIP\xBF\xEC\xCB\xD9\xBD\xE2\xD1\xB9";  // "QuilloZIP快速解压" in GBK
    EXPECT_EQ(cutGbkText(title, kTrayTipBytes), title);

    std::string ascii(70, 'a');
    EXPECT_EQ(cutGbkText(ascii, kTrayTipBytes).size(), 62u);

    // 61 single bytes then a double-byte character: it would need bytes 62 and 63.
    std::string straddling = std::string(61, 'a') + "\xBF\xEC" + "b";
    EXPECT_EQ(cutGbkText(straddling, kTrayTipBytes), std::string(61, 'a'));
    // 60 single bytes then the same character: it fits exactly.
    std::string fitting = std::string(60, 'a') + "\xBF\xEC" + "b";
    EXPECT_EQ(cutGbkText(fitting, kTrayTipBytes), std::string(60, 'a') + "\xBF\xEC");
    // 31 Chinese characters are exactly 62 bytes; a 32nd is dropped whole.
    std::string chinese;
    for (int i = 0; i < 32; i++) chinese += "\xD1\xB9";
    EXPECT_EQ(cutGbkText(chinese, kTrayTipBytes), chinese.substr(0, 62));
    // A lead byte at the very end has no partner: it counts as one byte.
    EXPECT_EQ(cutGbkText("ab\xBF", kTrayTipBytes), "ab\xBF");
    EXPECT_EQ(cutGbkText("", kTrayTipBytes), "");
}

TEST(ClickWave, IsAShortWellFormedPcmWave) {
    std::vector<uint8_t> wave = makeClickWave();
    ASSERT_GT(wave.size(), 44u);
    auto u32 = [&](size_t at) { return wave[at] | (wave[at + 1] << 8) | (wave[at + 2] << 16) | (uint32_t(wave[at + 3]) << 24); };
    auto u16 = [&](size_t at) { return uint32_t(wave[at] | (wave[at + 1] << 8)); };
    EXPECT_EQ(std::memcmp(wave.data(), "RIFF", 4), 0);
    EXPECT_EQ(u32(4), wave.size() - 8);
    EXPECT_EQ(std::memcmp(wave.data() + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(u16(20), 1u);  // PCM
    EXPECT_EQ(u32(24), uint32_t(kClickSampleRate));
    EXPECT_EQ(u32(28), u32(24) * u16(32));
    EXPECT_EQ(std::memcmp(wave.data() + 36, "data", 4), 0);
    EXPECT_EQ(u32(40), wave.size() - 44);
    const double seconds = double(u32(40)) / u32(28);
    EXPECT_GT(seconds, 0.01);
    EXPECT_LT(seconds, 0.2);
    // Audible at the start, faded out at the end.
    auto peak = [&](size_t from, size_t to) {
        int best = 0;
        for (size_t i = from & ~size_t(1); i + 1 < to; i += 2) best = std::max(best, std::abs(int(int16_t(u16(44 + i)))));
        return best;
    };
    const size_t n = u32(40);
    EXPECT_GT(peak(0, n / 4), 4000);
    EXPECT_LT(peak(n - n / 8, n), peak(0, n / 4) / 10);
}

TEST(FormTables, MarkersLieOverTheirTitlesAndNamesAreUnique) {
    struct Pair {
        FormId form;
        const char *marker, *title;
    };
    for (const Pair& p : {Pair{FormId::Reminder, "标签4", "标签3"}, Pair{FormId::Main, "标签5", "标签1"}}) {
        const FormTable& spec = formTable(p.form);
        int markerRow = -1, titleRow = -1;
        for (size_t i = 0; i < spec.controls.size(); i++) {
            if (std::strcmp(spec.controls[i].name, p.marker) == 0) markerRow = int(i);
            if (std::strcmp(spec.controls[i].name, p.title) == 0) titleRow = int(i);
        }
        ASSERT_GE(markerRow, 0);
        ASSERT_GE(titleRow, 0);
        EXPECT_LT(markerRow, titleRow) << p.marker << " must be above " << p.title;
        const Box& m = spec.controls[markerRow].box;
        const Box& t = spec.controls[titleRow].box;
        EXPECT_GE(m.left, t.left);
        EXPECT_EQ(m.left + m.width, t.left + t.width) << p.marker << " covers the right end of " << p.title;
        EXPECT_FALSE(spec.controls[markerRow].visible);
        EXPECT_STREQ(spec.controls[markerRow].caption, "...");
    }
    for (FormId id : {FormId::Reminder, FormId::Main}) {
        std::set<std::string> names;
        for (const ControlSpec& c : formTable(id).controls) {
            EXPECT_TRUE(names.insert(c.name).second) << c.name;
            EXPECT_EQ(c.kind == ControlKind::SuperButton, c.button != nullptr) << c.name;
        }
    }
}
