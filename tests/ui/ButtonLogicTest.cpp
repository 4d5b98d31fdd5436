// The super button's decisions without drawing: colours, looks per state,
// image placement and the stored settings. Runs on the host and under Wine.
#include "ui/ButtonLook.h"
#include "ui/ButtonSettings.h"
#include "ui/Colour.h"

#include <gtest/gtest.h>

namespace {

constexpr ColourRef kAccent = rgb(60, 202, 155), kHover = rgb(0, 224, 128), kPale = rgb(222, 234, 200);
constexpr ColourRef kWhite = rgb(255, 255, 255), kBlack = rgb(0, 0, 0);
constexpr ColourRef kFace = rgb(240, 240, 240), kSysText = rgb(1, 2, 3);

ButtonSettings actionButton() {  // "立即解压"
    ButtonSettings s;
    s.style = 0;
    s.systemColours = false;
    s.normalText = s.hoverText = s.focusText = kWhite;
    s.normalBack = s.focusBack = kAccent;
    s.hoverBack = kHover;
    return s;
}

ButtonSettings destinationButton() {  // "桌面"
    ButtonSettings s;
    s.style = 2;
    s.systemColours = false;
    s.normalText = s.hoverText = s.focusText = kBlack;
    s.normalBack = kWhite;
    s.hoverBack = s.focusBack = kPale;
    return s;
}

ButtonLook lookOf(const ButtonSettings& s, ButtonState st, ImageSlots slots = {true, false, false}) {
    return chooseLook(s, resolveColours(s, kFace, kSysText), st, slots);
}

}  // namespace

TEST(Colour, BrightenKeepsHueByTakingTheSmallestAllowedStep) {
    EXPECT_EQ(brighten(rgb(100, 150, 200), 32), rgb(132, 182, 232));
    EXPECT_EQ(brighten(rgb(100, 200, 250), 32), rgb(105, 205, 255));  // blue allows only 5
    EXPECT_EQ(brighten(kFace, 32), rgb(255, 255, 255));
    EXPECT_EQ(brighten(rgb(255, 0, 0), 32), rgb(255, 0, 0));          // red is at the limit
    // Darkening mirrors it: the step nearest zero wins.
    EXPECT_EQ(brighten(rgb(10, 100, 200), -32), rgb(0, 90, 190));
    EXPECT_EQ(brighten(rgb(50, 100, 200), -32), rgb(18, 68, 168));
    // Steps outside -255...255 change nothing.
    EXPECT_EQ(brighten(rgb(10, 20, 30), 256), rgb(10, 20, 30));
    EXPECT_EQ(brighten(rgb(10, 20, 30), -256), rgb(10, 20, 30));
    EXPECT_EQ(brighten(rgb(0, 0, 0), 255), rgb(255, 255, 255));
}

TEST(Colour, SystemColoursReplaceAllSixAndFacePlaceholderResolves) {
    ButtonSettings s = actionButton();
    s.systemColours = true;
    ButtonColours c = resolveColours(s, kFace, kSysText);
    EXPECT_EQ(c.normalText, kSysText);
    EXPECT_EQ(c.hoverText, kSysText);
    EXPECT_EQ(c.normalBack, kFace);
    EXPECT_EQ(c.focusBack, kFace);
    EXPECT_EQ(c.hoverBack, brighten(kFace, 32));

    s.systemColours = false;
    s.hoverBack = kSystemFace;
    c = resolveColours(s, kFace, kSysText);
    EXPECT_EQ(c.hoverBack, kFace);
    EXPECT_EQ(c.normalBack, kAccent);
}

TEST(ButtonLook, FlatStyleLooksPerState) {
    const ButtonSettings s = actionButton();
    ButtonLook normal = lookOf(s, {});
    EXPECT_EQ(normal.back, kAccent);
    EXPECT_EQ(normal.edge, Edge::None);
    EXPECT_EQ(normal.text, kWhite);
    EXPECT_EQ(normal.fill, Fill::Square);
    EXPECT_FALSE(normal.focusRect);

    ButtonLook hovered = lookOf(s, {.hovered = true});
    EXPECT_EQ(hovered.back, kHover);
    EXPECT_EQ(hovered.edge, Edge::ThinRaised);
    EXPECT_EQ(hovered.dx, 0);

    ButtonLook pressed = lookOf(s, {.hovered = true, .selected = true});
    EXPECT_TRUE(pressed.pressed);
    EXPECT_EQ(pressed.back, kHover);
    EXPECT_EQ(pressed.edge, Edge::ThinSunken);
    EXPECT_EQ(pressed.dx, 1);
    EXPECT_EQ(pressed.dy, 1);

    ButtonLook focused = lookOf(s, {.focused = true});
    EXPECT_EQ(focused.back, kAccent);
    EXPECT_FALSE(focused.focusRect);  // the program's buttons never show one

    ButtonLook disabled = lookOf(s, {.disabled = true});
    EXPECT_EQ(disabled.back, kAccent);
    EXPECT_TRUE(disabled.embossText);
    EXPECT_TRUE(disabled.embossImage);

    ButtonSettings noEdge = s;
    noEdge.hoverEdge = false;
    EXPECT_EQ(lookOf(noEdge, {.hovered = true}).edge, Edge::None);
    EXPECT_EQ(lookOf(noEdge, {.selected = true}).edge, Edge::None);
}

TEST(ButtonLook, RoundedStyleHighlightsHoverAndKeepsFocusSquare) {
    const ButtonSettings s = destinationButton();
    ButtonLook hovered = lookOf(s, {.hovered = true});
    EXPECT_EQ(hovered.fill, Fill::Rounded);
    EXPECT_EQ(hovered.back, kPale);
    EXPECT_EQ(hovered.edge, Edge::None);  // its outline is the rounded rectangle
    EXPECT_EQ(lookOf(s, {.selected = true}).fill, Fill::Rounded);

    // After a click the focus stays: square pale-green fill, no outline.
    ButtonLook focused = lookOf(s, {.focused = true});
    EXPECT_EQ(focused.fill, Fill::Square);
    EXPECT_EQ(focused.back, kPale);
    EXPECT_EQ(lookOf(s, {}).back, kWhite);
}

TEST(ButtonLook, StandardStyleFramesNeverHoversAndAlwaysShowsFocus) {
    ButtonSettings s = actionButton();
    s.style = 1;
    ButtonLook hovered = lookOf(s, {.hovered = true});
    EXPECT_EQ(hovered.back, kAccent);
    EXPECT_EQ(hovered.edge, Edge::Raised3D);
    EXPECT_FALSE(hovered.blackFrame);

    ButtonLook focused = lookOf(s, {.focused = true});
    EXPECT_TRUE(focused.blackFrame);
    EXPECT_TRUE(focused.focusRect);
    EXPECT_TRUE(lookOf(s, {.isDefault = true}).blackFrame);
    EXPECT_EQ(lookOf(s, {.selected = true}).edge, Edge::ShadowFrame);

    s.style = 0;
    s.focusRect = true;
    EXPECT_TRUE(lookOf(s, {.focused = true}).focusRect);
}

TEST(ButtonLook, ImageSlotChoiceAndFallbacks) {
    const ButtonSettings s = actionButton();
    const ImageSlots onlyImage{true, false, false}, both{true, true, false}, all{true, true, true};
    // Only `image`: shown in every state, embossed when disabled.
    for (ButtonState st : {ButtonState{}, ButtonState{.hovered = true}, ButtonState{.selected = true},
                           ButtonState{.focused = true}})
        EXPECT_EQ(lookOf(s, st, onlyImage).image, ImageSlot::Image);
    EXPECT_EQ(lookOf(s, {.disabled = true}, onlyImage).image, ImageSlot::Image);

    EXPECT_EQ(lookOf(s, {.hovered = true}, both).image, ImageSlot::HoverImage);
    EXPECT_EQ(lookOf(s, {.selected = true}, both).image, ImageSlot::HoverImage);
    EXPECT_EQ(lookOf(s, {}, both).image, ImageSlot::Image);
    EXPECT_EQ(lookOf(s, {}, {false, true, false}).image, ImageSlot::HoverImage);
    EXPECT_EQ(lookOf(s, {.disabled = true}, both).image, ImageSlot::HoverImage);
    ButtonLook ownDisabled = lookOf(s, {.disabled = true}, all);
    EXPECT_EQ(ownDisabled.image, ImageSlot::DisabledImage);
    EXPECT_FALSE(ownDisabled.embossImage);
    EXPECT_EQ(lookOf(s, {}, {false, false, true}).image, ImageSlot::None);

    // A toggle button does not swap images on hover and draws checked as pressed, unshifted.
    ButtonSettings toggle = s;
    toggle.toggle = true;
    EXPECT_EQ(lookOf(toggle, {.hovered = true}, both).image, ImageSlot::Image);
    toggle.isChecked = true;
    ButtonLook checked = lookOf(toggle, {}, both);
    EXPECT_TRUE(checked.pressed);
    EXPECT_EQ(checked.image, ImageSlot::HoverImage);
    EXPECT_EQ(checked.dx, 0);
    EXPECT_EQ(checked.dy, 0);

    ButtonSettings down = s;
    down.pressOffset = 1;
    ButtonLook pressed = lookOf(down, {.selected = true});
    EXPECT_EQ(pressed.dx, 0);
    EXPECT_EQ(pressed.dy, 2);
}

TEST(ButtonLook, ImagePlacementForEachAlignment) {
    const Rect r0{0, 0, 88, 25};
    Placement left = placeImage(r0, 88, 16, 16, 0, true, 0, 0);
    EXPECT_EQ(left.image, Rect::fromSize(3, 4, 16, 16));
    EXPECT_EQ(left.text, (Rect{19, 0, 88, 25}));
    // Pressed: the image moves, the text rectangle is moved later by the caller.
    EXPECT_EQ(placeImage(r0, 88, 16, 16, 0, true, 1, 1).image, Rect::fromSize(4, 5, 16, 16));

    Placement above = placeImage(Rect{0, 0, 60, 60}, 60, 16, 16, 1, true, 0, 0);
    EXPECT_EQ(above.image, Rect::fromSize(22, 3, 16, 16));
    EXPECT_EQ(above.text, (Rect{0, 16, 60, 60}));

    Placement right = placeImage(r0, 88, 16, 16, 2, true, 0, 0);
    EXPECT_EQ(right.image, Rect::fromSize(69, 4, 16, 16));
    EXPECT_EQ(right.text, (Rect{3, 0, 69, 25}));

    Placement corner = placeImage(r0, 88, 16, 16, 3, true, 0, 0);
    EXPECT_EQ(corner.image, Rect::fromSize(0, 0, 16, 16));
    EXPECT_EQ(corner.text, r0);

    // Without a caption alignments 0...2 centre the image both ways.
    for (int align : {0, 1, 2}) {
        Placement p = placeImage(r0, 88, 16, 16, align, false, 0, 0);
        EXPECT_EQ(p.image, Rect::fromSize(36, 4, 16, 16)) << "align " << align;
    }
    EXPECT_EQ(centreBlock(Rect{19, 0, 88, 25}, 25, 13), Rect::fromSize(41, 6, 25, 13));

    // At 150 %: a 24-pixel image, the margin scaled to 5.
    Placement scaled = placeImage(Rect{0, 0, 132, 38}, 132, 24, 24, 0, true, 0, 0, 5);
    EXPECT_EQ(scaled.image, Rect::fromSize(5, 7, 24, 24));
    EXPECT_EQ(scaled.text, (Rect{29, 0, 132, 38}));
    EXPECT_EQ(placeImage(Rect{0, 0, 132, 38}, 132, 24, 24, 2, true, 0, 0, 5).image, Rect::fromSize(103, 7, 24, 24));
}

namespace {
ButtonSettings everyFieldSet() {
    ButtonSettings s;
    s.style = 2;
    s.toggle = true;
    s.isChecked = true;
    s.imageAlign = 3;
    s.pressOffset = 1;
    s.hoverEdge = false;
    s.focusRect = true;
    s.image = {1, 2, 3};
    s.hoverImage = {4, 5};
    s.disabledImage = {6};
    s.imageKey = rgb(1, 1, 1);
    s.hoverImageKey = rgb(2, 2, 2);
    s.disabledImageKey = rgb(3, 3, 3);
    s.font.assign(kLogFontSize, 7);
    s.caption = "立即解压";
    s.systemColours = false;
    s.normalText = rgb(10, 0, 0);
    s.normalBack = rgb(0, 10, 0);
    s.hoverText = rgb(0, 0, 10);
    s.hoverBack = kSystemFace;
    s.focusText = rgb(20, 0, 0);
    s.focusBack = rgb(0, 20, 0);
    s.builtinSound = true;
    s.hoverSound = {'R', 'I'};
    s.clickSound = {'F', 'F'};
    s.tooltip = "提示";
    s.isDefault = 1;
    return s;
}

void expectSame(const ButtonSettings& a, const ButtonSettings& b) {
    EXPECT_EQ(storeButtonSettings(a), storeButtonSettings(b));
    EXPECT_EQ(a.caption, b.caption);
    EXPECT_EQ(a.tooltip, b.tooltip);
    EXPECT_EQ(a.disabledImage, b.disabledImage);
    EXPECT_EQ(a.hoverBack, b.hoverBack);
}
}  // namespace

TEST(StoredSettings, RoundTripKeepsEveryField) {
    const ButtonSettings s = everyFieldSet();
    Bytes stored = storeButtonSettings(s);
    std::optional<ButtonSettings> back = parseButtonSettings(stored);
    ASSERT_TRUE(back);
    expectSame(s, *back);
    EXPECT_EQ(stored[0], 2);  // version
}

TEST(StoredSettings, VersionsAndDamagedBytes) {
    Bytes stored = storeButtonSettings(everyFieldSet());
    Bytes v3 = stored;
    v3[0] = 3;
    EXPECT_FALSE(parseButtonSettings(v3));
    Bytes negative = stored;
    negative[3] = 0x80;
    EXPECT_FALSE(parseButtonSettings(negative));

    // Version 1 ends after the tooltip: no disabled image.
    const ButtonSettings s = everyFieldSet();
    Bytes v1 = stored;
    v1[0] = 1;
    v1.resize(v1.size() - (4 + 4 + s.disabledImage.size()));
    std::optional<ButtonSettings> old = parseButtonSettings(v1);
    ASSERT_TRUE(old);
    EXPECT_TRUE(old->disabledImage.empty());
    EXPECT_EQ(old->disabledImageKey, kAutoKey);
    EXPECT_EQ(old->tooltip, s.tooltip);

    // Every cut short of the end fails, none crashes.
    for (size_t n = 0; n < stored.size(); n++)
        EXPECT_FALSE(parseButtonSettings(std::span<const uint8_t>(stored.data(), n))) << "prefix " << n;

    // A length running past the end, and a negative one.
    Bytes huge = stored;
    const size_t hoverImageLength = 4 * 19;
    huge[hoverImageLength + 3] = 0x7F;
    EXPECT_FALSE(parseButtonSettings(huge));
    huge[hoverImageLength + 3] = 0xFF;
    EXPECT_FALSE(parseButtonSettings(huge));
}

TEST(StoredSettings, FontMustBeALogicalFontAndRangesAreClamped) {
    ButtonSettings s = everyFieldSet();
    s.font.assign(59, 0);
    EXPECT_FALSE(parseButtonSettings(storeButtonSettings(s)));
    s.font.clear();
    s.style = 7;
    s.imageAlign = -4;
    s.pressOffset = 9;
    s.isDefault = 5;
    std::optional<ButtonSettings> back = parseButtonSettings(storeButtonSettings(s));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->style, 2);
    EXPECT_EQ(back->imageAlign, 0);
    EXPECT_EQ(back->pressOffset, 1);
    EXPECT_EQ(back->isDefault, 1);
}
