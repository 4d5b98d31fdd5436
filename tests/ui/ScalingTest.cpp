// The DPI arithmetic: MulDiv's rounding, scaled designer rectangles, the
// image sizes picked, and where the reminder goes in a work area.
#include "resources/ResourceIds.h"
#include "ui/Scaling.h"

#include <gtest/gtest.h>

TEST(Scaling, LengthsRoundAsMulDivDoes) {
    struct Case { int value, dpi, expected; };
    for (const Case& c : {Case{300, 96, 300}, Case{300, 144, 450}, Case{117, 144, 176}, Case{117, 192, 234},
                          Case{1, 144, 2}, Case{1, 120, 1}, Case{10, 120, 13}, Case{-1, 144, -2}, Case{-3, 144, -5},
                          Case{-16, 192, -32}, Case{0, 144, 0}, Case{383, 168, 670}})
        EXPECT_EQ(scaleForDpi(c.value, c.dpi), c.expected) << c.value << " at " << c.dpi;
}

TEST(Scaling, BoxesScaleTheirEdgesSoNeighboursStillTouch) {
    // "桌面" ends where the gap before "自定义" begins at every scale.
    const Box desktop{161, 387, 56, 25}, custom{225, 387, 61, 25};
    for (int dpi : {96, 120, 144, 168, 192}) {
        const Rect d = scaleBox(desktop, dpi), c = scaleBox(custom, dpi);
        EXPECT_EQ(c.left - d.right, scaleForDpi(225, dpi) - scaleForDpi(217, dpi)) << dpi;
        EXPECT_EQ(d.top, c.top) << dpi;
    }
    EXPECT_EQ(scaleBox({-1, -3, 6, 107}, 144), (Rect{-2, -5, 8, 156}));
    EXPECT_EQ(scaleBox({21, 12, 235, 24}, 96), Rect::fromSize(21, 12, 235, 24));
}

TEST(Scaling, ImagesDrawnNearestTheDpiAndNeverLarger) {
    struct Case { int dpi, scale; };
    for (const Case& c : {Case{96, 100}, Case{110, 100}, Case{120, 100}, Case{121, 150}, Case{144, 150},
                          Case{168, 150}, Case{169, 200}, Case{192, 200}, Case{288, 200}})
        EXPECT_EQ(imageScaleFor(c.dpi), c.scale) << c.dpi;
    EXPECT_EQ(imageResourceFor(QZ_IDR_FOLDER_PNG, 96), QZ_IDR_FOLDER_PNG);
    EXPECT_EQ(imageResourceFor(QZ_IDR_ARCHIVE_PNG, 144), QZ_IDR_ARCHIVE_PNG_150);
    EXPECT_EQ(imageResourceFor(QZ_IDR_SCREEN_PNG, 192), QZ_IDR_SCREEN_PNG_200);
    EXPECT_EQ(imageResourceFor(0, 192), 0);
}

TEST(Scaling, ReminderSitsInTheWorkAreaCornerWhereverTheTaskbarIs) {
    struct Case { const char* taskbar; Rect work; int dpi; Rect expected; };
    const Case cases[] = {
        // 1920 x 1080 with the usual 40-pixel taskbar at the bottom: the old
        // place, 10 from the screen's right and 50 from its bottom.
        {"bottom", {0, 0, 1920, 1040}, 96, Rect::fromSize(1920 - 300 - 10, 1080 - 117 - 50, 300, 117)},
        {"right", {0, 0, 1858, 1080}, 96, Rect::fromSize(1858 - 310, 1080 - 127, 300, 117)},
        {"left", {62, 0, 1920, 1080}, 96, Rect::fromSize(1920 - 310, 1080 - 127, 300, 117)},
        {"top", {0, 48, 1920, 1080}, 96, Rect::fromSize(1920 - 310, 1080 - 127, 300, 117)},
        {"tall, at 150 %", {0, 0, 2880, 1560}, 144, Rect::fromSize(2880 - 450 - 15, 1560 - 176 - 15, 450, 176)},
        // A monitor left of the primary one has negative coordinates.
        {"bottom, 200 %", {-3840, 0, 0, 2080}, 192, Rect::fromSize(-600 - 20, 2080 - 234 - 20, 600, 234)},
    };
    for (const Case& c : cases) {
        const Rect r = placeInCorner(c.work, c.expected.width(), c.expected.height(), 10, c.dpi);
        EXPECT_EQ(r, c.expected) << "taskbar " << c.taskbar;
        EXPECT_GE(r.left, c.work.left) << c.taskbar;
        EXPECT_GE(r.top, c.work.top) << c.taskbar;
    }
    // Larger than the work area: its top-left corner stays in it.
    EXPECT_EQ(placeInCorner({0, 40, 200, 100}, 300, 117, 10, 96), Rect::fromSize(0, 40, 300, 117));
}

TEST(Scaling, CentredInAnArea) {
    EXPECT_EQ(centreIn({0, 0, 1280, 800}, 383, 509), Rect::fromSize(448, 145, 383, 509));
    EXPECT_EQ(centreIn({1920, -200, 3840, 880}, 766, 1018), Rect::fromSize(2497, -169, 766, 1018));
}
