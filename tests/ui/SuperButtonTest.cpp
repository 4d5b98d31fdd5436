// The super button as a real control: drawing per state (through the owner-
// draw request, into a bitmap), hover tracking with the mouse, clicks,
// toggles, dialog navigation and the release of what it owns.
#include "UiTestSupport.h"

#include "base/TextCodec.h"
#include "base/UniqueAny.h"
#include "resources/ResourceIds.h"
#include "ui/GdiImage.h"
#include "ui/SuperButton.h"

#include <optional>

namespace {

constexpr ColourRef kAccent = rgb(60, 202, 155), kHover = rgb(0, 224, 128), kPale = rgb(222, 234, 200);
constexpr ColourRef kWhite = rgb(255, 255, 255), kBlack = rgb(0, 0, 0), kNavy = rgb(39, 38, 54);

ButtonSettings actionSettings() {
    ButtonSettings s;
    s.caption = "立即解压";
    s.systemColours = false;
    s.normalText = s.hoverText = s.focusText = kWhite;
    s.normalBack = s.focusBack = kAccent;
    s.hoverBack = kHover;
    return s;
}

ButtonSettings desktopSettings() {
    ButtonSettings s;
    s.style = 2;
    s.caption = "桌面";
    s.systemColours = false;
    s.normalText = s.hoverText = s.focusText = kBlack;
    s.normalBack = kWhite;
    s.hoverBack = s.focusBack = kPale;
    std::span<const uint8_t> png = resourceBytes(QZ_IDR_SCREEN_PNG);
    s.image.assign(png.begin(), png.end());
    return s;
}

std::unique_ptr<SuperButton> makeButton(HWND parent, ButtonSettings s, Rect r = Rect::fromSize(20, 20, 97, 32),
                                        int id = 7) {
    return SuperButton::create(parent, {r, id, true, false, true}, std::move(s));
}

// What the button draws for an owner-draw request with these state bits.
Image render(SuperButton& b, UINT itemState) {
    RECT rc;
    ::GetClientRect(b.hwnd(), &rc);
    Image canvas;
    canvas.width = rc.right;
    canvas.height = rc.bottom;
    canvas.pixels.assign(size_t(rc.right) * rc.bottom, argb(255, 255, 0, 255));  // magenta: not drawn
    UniqueHbitmap dib = createDib(canvas);
    UniqueHdc dc(::CreateCompatibleDC(nullptr));
    SelectGuard sel(dc.get(), dib.get());
    DRAWITEMSTRUCT dis{ODT_BUTTON, 7, 0, ODA_DRAWENTIRE, itemState, b.hwnd(), dc.get(), rc, 0};
    LRESULT result = 0;
    EXPECT_TRUE(SuperButton::forwardFromParent(WM_DRAWITEM, 7, reinterpret_cast<LPARAM>(&dis), result));
    return readDib(dib.get());
}

// Bounding box of the pixels of exactly this colour, `margin` pixels in
// from the edges (which may hold an edge of the same colour).
std::optional<Rect> boxOf(const Image& img, ColourRef colour, int margin = 0) {
    std::optional<Rect> box;
    for (int y = margin; y < img.height - margin; y++)
        for (int x = margin; x < img.width - margin; x++) {
            if (pixelAt(img, x, y) != colour) continue;
            if (!box) box = Rect{x, y, x + 1, y + 1};
            box->left = std::min(box->left, x);
            box->top = std::min(box->top, y);
            box->right = std::max(box->right, x + 1);
            box->bottom = std::max(box->bottom, y + 1);
        }
    return box;
}

void sendMouseMove(HWND button, WPARAM keys) {
    RECT rc;
    ::GetClientRect(button, &rc);
    ::SendMessageW(button, WM_MOUSEMOVE, keys, MAKELPARAM(rc.right / 2, rc.bottom / 2));
}

void placeCursorOn(HWND hwnd) {
    RECT wr;
    ::GetWindowRect(hwnd, &wr);
    ::SetCursorPos((wr.left + wr.right) / 2, (wr.top + wr.bottom) / 2);
}

struct ClassCount {
    const wchar_t* cls;
    int n = 0;
};

BOOL CALLBACK countClass(HWND hwnd, LPARAM lp) {
    auto* count = reinterpret_cast<ClassCount*>(lp);
    wchar_t name[64] = {};
    ::GetClassNameW(hwnd, name, 64);
    count->n += _wcsicmp(name, count->cls) == 0;
    return TRUE;
}

int countThreadWindows(const wchar_t* cls) {
    ClassCount count{cls};
    ::EnumThreadWindows(::GetCurrentThreadId(), countClass, reinterpret_cast<LPARAM>(&count));
    return count.n;
}

}  // namespace

TEST(SuperButton, CreatesFromStoredSettingsButNotFromANewerVersion) {
    REQUIRE_DISPLAY();
    TestParent parent;
    Bytes stored = storeButtonSettings(actionSettings());
    Bytes newer = stored;
    newer[0] = 3;
    EXPECT_FALSE(SuperButton::createStored(parent.hwnd(), {Rect::fromSize(0, 0, 50, 20)}, newer));
    EXPECT_EQ(::GetWindow(parent.hwnd(), GW_CHILD), nullptr) << "nothing is created";

    auto b = SuperButton::createStored(parent.hwnd(), {Rect::fromSize(20, 20, 97, 32), 7}, stored);
    ASSERT_TRUE(b);
    wchar_t text[32] = {};
    ::GetWindowTextW(b->hwnd(), text, 32);
    EXPECT_EQ(std::wstring(text), L"立即解压");
    EXPECT_EQ(::GetWindowLongPtrW(b->hwnd(), GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(::SendMessageW(b->hwnd(), WM_GETFONT, 0, 0)), ::GetStockObject(DEFAULT_GUI_FONT));
    EXPECT_EQ(SuperButton::fromHwnd(b->hwnd()), b.get());
    EXPECT_EQ(::GetDlgCtrlID(b->hwnd()), 7);
}

TEST(SuperButton, FlatButtonLooksNormalPressedAndFocused) {
    REQUIRE_DISPLAY();
    TestParent parent;
    auto b = makeButton(parent.hwnd(), actionSettings());
    ASSERT_TRUE(b);
    Image normal = render(*b, 0);
    EXPECT_EQ(pixelAt(normal, 0, 0), kAccent);
    EXPECT_EQ(pixelAt(normal, 3, 3), kAccent);
    std::optional<Rect> text = boxOf(normal, kWhite);
    ASSERT_TRUE(text) << "caption drawn in white";
    // Centred both ways (the block may be off by the font's rounding).
    EXPECT_NEAR((text->left + text->right) / 2.0, 97 / 2.0, 3);
    EXPECT_NEAR((text->top + text->bottom) / 2.0, 32 / 2.0, 3);

    Image pressed = render(*b, ODS_SELECTED);
    EXPECT_EQ(pixelAt(pressed, 3, 3), kHover);
    EXPECT_EQ(pixelAt(pressed, 0, 0), ::GetSysColor(COLOR_BTNSHADOW)) << "thin sunken edge";
    EXPECT_EQ(pixelAt(pressed, 96, 31), ::GetSysColor(COLOR_BTNHIGHLIGHT));
    std::optional<Rect> shifted = boxOf(pressed, kWhite, 1);
    ASSERT_TRUE(shifted);
    EXPECT_EQ(*shifted, text->moved(1, 1)) << "pressed caption moves by (1, 1)";

    // Focus keeps the normal colours here and draws no focus rectangle.
    Image focused = render(*b, ODS_FOCUS);
    for (int x = 2; x < 95; x++) ASSERT_EQ(pixelAt(focused, x, 3), kAccent) << "x " << x;
    EXPECT_EQ(boxOf(focused, kWhite), text);
    for (int y = 0; y < 32; y++) ASSERT_NE(pixelAt(focused, 48, y), rgb(255, 0, 255)) << "every pixel drawn";
}

TEST(SuperButton, RoundedStyleWithImage) {
    REQUIRE_DISPLAY();
    TestParent parent;
    auto b = makeButton(parent.hwnd(), desktopSettings(), Rect::fromSize(20, 20, 56, 25));
    ASSERT_TRUE(b);
    Image normal = render(*b, 0);
    EXPECT_EQ(pixelAt(normal, 0, 0), kWhite);
    std::optional<Rect> glyph = boxOf(normal, kNavy);
    ASSERT_TRUE(glyph) << "the screen glyph is drawn";
    EXPECT_EQ(glyph->left, 3 + 1) << "image at the margin of 3 (glyph starts 1 pixel in)";
    EXPECT_EQ(pixelAt(normal, 3, 0), kWhite) << "the glyph's transparent pixels show the background";

    Image pressed = render(*b, ODS_SELECTED);
    EXPECT_EQ(pixelAt(pressed, 28, 0), kBlack) << "rounded outline";
    EXPECT_EQ(pixelAt(pressed, 28, 24), kBlack);
    EXPECT_EQ(pixelAt(pressed, 0, 0), kWhite) << "corner outside the rounded shape";
    EXPECT_EQ(pixelAt(pressed, 50, 3), kPale);
    std::optional<Rect> movedGlyph = boxOf(pressed, kNavy);
    ASSERT_TRUE(movedGlyph);
    EXPECT_EQ(*movedGlyph, glyph->moved(1, 1));

    Image focused = render(*b, ODS_FOCUS);
    EXPECT_EQ(pixelAt(focused, 0, 0), kPale) << "square fill while focused";
    EXPECT_EQ(pixelAt(focused, 28, 0), kPale) << "no outline";

    Image disabled = render(*b, ODS_DISABLED);
    EXPECT_EQ(pixelAt(disabled, 50, 3), kWhite);
    EXPECT_FALSE(boxOf(disabled, kNavy)) << "the glyph is drawn embossed grey";
    EXPECT_FALSE(boxOf(disabled, kBlack)) << "the caption is drawn embossed";
    EXPECT_TRUE(boxOf(disabled, ::GetSysColor(COLOR_BTNSHADOW)));

    ButtonSettings broken = desktopSettings();
    broken.image = {0x89, 'P', 'N', 'G', 1, 2, 3};
    ASSERT_TRUE(b->setSettings(broken));
    Image noImage = render(*b, 0);
    EXPECT_FALSE(boxOf(noImage, kNavy)) << "undecodable bytes leave the slot empty";
    EXPECT_TRUE(boxOf(noImage, kBlack)) << "the caption is still drawn";
}

TEST(SuperButton, LongCaptionWrapsAndStaysCentred) {
    REQUIRE_DISPLAY();
    TestParent parent;
    ButtonSettings s = actionSettings();
    s.caption = "解压全部文件 到桌面的新文件夹";
    auto b = makeButton(parent.hwnd(), s, Rect::fromSize(10, 10, 70, 60));
    ASSERT_TRUE(b);
    std::optional<Rect> text = boxOf(render(*b, 0), kWhite);
    ASSERT_TRUE(text);
    UniqueHdc dc(::CreateCompatibleDC(nullptr));
    SelectGuard font(dc.get(), ::GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICW tm{};
    ::GetTextMetricsW(dc.get(), &tm);
    EXPECT_GT(text->height(), tm.tmHeight) << "more than one line";
    EXPECT_LE(text->width(), 70);
    EXPECT_NEAR((text->top + text->bottom) / 2.0, 30.0, 3.0);
}

TEST(SuperButton, HoverFollowsTheMouse) {
    REQUIRE_DISPLAY();
    TestParent parent;
    auto b = makeButton(parent.hwnd(), actionSettings());
    ASSERT_TRUE(b);
    ::UpdateWindow(parent.hwnd());
    RECT wr;
    ::GetWindowRect(b->hwnd(), &wr);

    moveMouseTo(wr.left + 10, wr.top + 10);
    ASSERT_TRUE(pumpUntil([&] { return b->hovered(); })) << "moving onto the button lights it up";
    EXPECT_EQ(waitForClientPixel(b->hwnd(), 4, 4, kHover), kHover);

    moveMouseTo(wr.right + 150, wr.bottom + 150);
    ASSERT_TRUE(pumpUntil([&] { return !b->hovered(); })) << "leaving clears the hover";
    EXPECT_EQ(waitForClientPixel(b->hwnd(), 4, 4, kAccent), kAccent);

    // A drag that started elsewhere does not light it up; a plain move does.
    placeCursorOn(b->hwnd());
    sendMouseMove(b->hwnd(), MK_LBUTTON);
    EXPECT_FALSE(b->hovered());
    sendMouseMove(b->hwnd(), 0);
    EXPECT_TRUE(b->hovered());
    // Once lit, a held button keeps it (the press itself).
    sendMouseMove(b->hwnd(), MK_LBUTTON);
    EXPECT_TRUE(b->hovered());

    for (UINT clearing : {WM_KILLFOCUS, WM_CANCELMODE, WM_MOUSELEAVE}) {
        sendMouseMove(b->hwnd(), 0);
        ASSERT_TRUE(b->hovered());
        ::SendMessageW(b->hwnd(), clearing, 0, 0);
        EXPECT_FALSE(b->hovered()) << "message " << clearing;
    }
    sendMouseMove(b->hwnd(), 0);
    ::EnableWindow(b->hwnd(), FALSE);
    EXPECT_FALSE(b->hovered()) << "disabling clears the hover";

    ButtonSettings standard = actionSettings();
    standard.style = 1;
    auto s = makeButton(parent.hwnd(), standard, Rect::fromSize(150, 20, 97, 32), 8);
    placeCursorOn(s->hwnd());
    sendMouseMove(s->hwnd(), 0);
    EXPECT_FALSE(s->hovered()) << "the standard style never hovers";
    moveMouseTo(0, 0);
}

TEST(SuperButton, ClicksTogglesAndDoubleClicks) {
    REQUIRE_DISPLAY();
    TestParent parent;
    auto b = makeButton(parent.hwnd(), actionSettings());
    ASSERT_TRUE(b);
    int clicks = 0;
    b->setClickHandler([&] { clicks++; });
    ::SendMessageW(b->hwnd(), BM_CLICK, 0, 0);
    EXPECT_EQ(clicks, 1);
    b->setCheck(1);
    EXPECT_EQ(::SendMessageW(b->hwnd(), BM_GETCHECK, 0, 0), 0) << "only a toggle button keeps a check";

    // A quick second click is a click, not a double-click notification.
    const LPARAM inside = MAKELPARAM(10, 10);
    for (UINT down : {WM_LBUTTONDOWN, WM_LBUTTONDBLCLK}) {
        ::SendMessageW(b->hwnd(), down, MK_LBUTTON, inside);
        ::SendMessageW(b->hwnd(), WM_LBUTTONUP, 0, inside);
    }
    EXPECT_EQ(clicks, 3);

    ButtonSettings toggle = actionSettings();
    toggle.toggle = true;
    auto t = makeButton(parent.hwnd(), toggle, Rect::fromSize(150, 20, 97, 32), 8);
    ASSERT_TRUE(t);
    int toggled = 0;
    t->setClickHandler([&] { toggled++; });
    ::SendMessageW(t->hwnd(), BM_CLICK, 0, 0);
    EXPECT_EQ(::SendMessageW(t->hwnd(), BM_GETCHECK, 0, 0), 1);
    EXPECT_EQ(pixelAt(render(*t, 0), 3, 3), kHover) << "a checked toggle is drawn pressed";
    ::SendMessageW(t->hwnd(), BM_CLICK, 0, 0);
    EXPECT_EQ(t->check(), 0);
    EXPECT_EQ(toggled, 2);
    for (auto [state, expected] : {std::pair{2, 1}, std::pair{3, 0}, std::pair{1, 1}, std::pair{0, 0}}) {
        ::SendMessageW(t->hwnd(), BM_SETCHECK, WPARAM(state), 0);
        EXPECT_EQ(t->check(), expected) << "BM_SETCHECK " << state;
    }
}

TEST(SuperButton, DefaultButtonAndStyleRequests) {
    REQUIRE_DISPLAY();
    TestParent parent;
    auto b = makeButton(parent.hwnd(), actionSettings());
    ASSERT_TRUE(b);
    EXPECT_TRUE(::SendMessageW(b->hwnd(), WM_GETDLGCODE, 0, 0) & DLGC_UNDEFPUSHBUTTON);
    ::SendMessageW(b->hwnd(), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    EXPECT_TRUE(::SendMessageW(b->hwnd(), WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON);
    EXPECT_EQ(::GetWindowLongPtrW(b->hwnd(), GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW) << "stays owner-drawn";

    ButtonSettings standard = actionSettings();
    standard.style = 1;
    standard.isDefault = 1;
    auto d = makeButton(parent.hwnd(), standard, Rect::fromSize(150, 20, 97, 32), 8);
    EXPECT_TRUE(::SendMessageW(d->hwnd(), WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON);
    Image look = render(*d, 0);
    EXPECT_EQ(pixelAt(look, 0, 0), kBlack) << "the default standard button has a black frame";
    EXPECT_EQ(pixelAt(look, 1, 1), ::GetSysColor(COLOR_BTNHIGHLIGHT)) << "then its raised border";
}

TEST(SuperButton, ChangingToggleMakesTheWindowAgainInPlace) {
    REQUIRE_DISPLAY();
    TestParent parent;
    auto first = makeButton(parent.hwnd(), actionSettings(), Rect::fromSize(10, 10, 97, 32), 1);
    auto b = makeButton(parent.hwnd(), actionSettings(), Rect::fromSize(10, 50, 97, 32), 2);
    auto last = makeButton(parent.hwnd(), actionSettings(), Rect::fromSize(10, 90, 97, 32), 3);
    ::SetWindowPos(b->hwnd(), first->hwnd(), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetWindowPos(last->hwnd(), b->hwnd(), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetFocus(b->hwnd());
    HWND old = b->hwnd();

    ButtonSettings caption = actionSettings();
    caption.caption = "安全打开";
    ASSERT_TRUE(b->setSettings(caption));
    EXPECT_EQ(b->hwnd(), old) << "a visual change keeps the window";

    ButtonSettings toggle = caption;
    toggle.toggle = true;
    ASSERT_TRUE(b->setSettings(toggle));
    EXPECT_NE(b->hwnd(), old);
    EXPECT_FALSE(::IsWindow(old));
    EXPECT_EQ(::GetWindow(first->hwnd(), GW_HWNDNEXT), b->hwnd()) << "same place in the z-order";
    EXPECT_EQ(::GetWindow(b->hwnd(), GW_HWNDNEXT), last->hwnd());
    EXPECT_EQ(::GetFocus(), b->hwnd());
    EXPECT_EQ(::GetDlgCtrlID(b->hwnd()), 2);
    ::SendMessageW(b->hwnd(), BM_CLICK, 0, 0);
    EXPECT_EQ(b->check(), 1);
}

TEST(SuperButton, DisablingTheFocusedButtonMovesTheFocusOn) {
    REQUIRE_DISPLAY();
    TestParent parent;
    auto a = makeButton(parent.hwnd(), actionSettings(), Rect::fromSize(10, 10, 97, 32), 1);
    auto b = makeButton(parent.hwnd(), actionSettings(), Rect::fromSize(10, 50, 97, 32), 2);
    ::SetWindowPos(b->hwnd(), a->hwnd(), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetFocus(a->hwnd());
    ::EnableWindow(a->hwnd(), FALSE);
    EXPECT_EQ(::GetFocus(), b->hwnd());
    // With the focus elsewhere, disabling a button leaves it where it is.
    ::EnableWindow(a->hwnd(), TRUE);
    ::EnableWindow(a->hwnd(), FALSE);
    EXPECT_EQ(::GetFocus(), b->hwnd());
    ::EnableWindow(b->hwnd(), FALSE);
    EXPECT_EQ(::GetFocus(), parent.hwnd()) << "no tab stop left: the parent";
}

TEST(SuperButton, ReleasesBitmapsFontAndTooltip) {
    REQUIRE_DISPLAY();
    TestParent parent;
    ButtonSettings s = desktopSettings();
    s.hoverImage = s.image;
    s.disabledImage = s.image;
    s.tooltip = "把文件解压到桌面";
    LOGFONTA lf{};
    lf.lfHeight = -14;
    lf.lfWeight = 700;
    lf.lfCharSet = GB2312_CHARSET;
    s.font.assign(reinterpret_cast<const uint8_t*>(&lf), reinterpret_cast<const uint8_t*>(&lf) + sizeof lf);

    // One round first, so anything created once per process exists.
    makeButton(parent.hwnd(), s).reset();
    const int tooltipsBefore = countThreadWindows(L"tooltips_class32");
    const long gdiBefore = gdiObjectsInUse(), userBefore = userObjectsInUse();
    {
        auto b = makeButton(parent.hwnd(), s);
        ASSERT_TRUE(b);
        EXPECT_EQ(countThreadWindows(L"tooltips_class32"), tooltipsBefore + 1);
        EXPECT_NE(reinterpret_cast<HGDIOBJ>(::SendMessageW(b->hwnd(), WM_GETFONT, 0, 0)),
                  ::GetStockObject(DEFAULT_GUI_FONT));
        render(*b, 0);
        ButtonSettings replaced = s;
        replaced.tooltip.clear();
        b->setSettings(replaced);
        EXPECT_EQ(countThreadWindows(L"tooltips_class32"), tooltipsBefore);
        b->setSettings(s);
    }
    EXPECT_EQ(countThreadWindows(L"tooltips_class32"), tooltipsBefore);
    EXPECT_EQ(gdiObjectsInUse(), gdiBefore);
    EXPECT_EQ(userObjectsInUse(), userBefore);
}
