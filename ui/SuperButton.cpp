#include "ui/SuperButton.h"

#include "base/TextCodec.h"
#include "ui/ClickWave.h"
#include "ui/Dpi.h"
#include "ui/GdiImage.h"

#include <commctrl.h>
#include <mmsystem.h>
#include <windowsx.h>

#include <cstring>

namespace {

constexpr wchar_t kProp[] = L"QuilloZIP.SuperButton";
constexpr UINT_PTR kSubclassId = 0x5142;  // "QB"

// PlaySound with SND_ASYNC|SND_MEMORY reads the bytes while it plays, so a
// button that goes away stops its own sound before freeing them.
const SuperButton* g_soundOwner = nullptr;

RECT toRECT(const Rect& r) { return {r.left, r.top, r.right, r.bottom}; }

void fill(HDC dc, const Rect& r, COLORREF colour) {
    UniqueHbrush brush(::CreateSolidBrush(colour));
    RECT rc = toRECT(r);
    ::FillRect(dc, &rc, brush.get());
}

// A border of `t` pixels.
void frame(HDC dc, const Rect& r, COLORREF colour, int t) {
    UniqueHbrush brush(::CreateSolidBrush(colour));
    for (int i = 0; i < t; i++) {
        RECT rc = toRECT(r.inflated(-i));
        ::FrameRect(dc, &rc, brush.get());
    }
}

// A border of `t` pixels: top and left in one colour, bottom and right in another.
void bevel(HDC dc, const Rect& r, COLORREF topLeft, COLORREF bottomRight, int t) {
    fill(dc, {r.left, r.top, r.right - t, r.top + t}, topLeft);
    fill(dc, {r.left, r.top, r.left + t, r.bottom - t}, topLeft);
    fill(dc, {r.left, r.bottom - t, r.right, r.bottom}, bottomRight);
    fill(dc, {r.right - t, r.top, r.right, r.bottom}, bottomRight);
}

void blitMasked(HDC dst, const Rect& at, HBITMAP mask, HBITMAP keyed) {
    UniqueHdc mem(::CreateCompatibleDC(dst));
    // Mask bits become the destination's text colour (0, opaque) or
    // background colour (1, transparent): AND with black clears, with white keeps.
    COLORREF oldText = ::SetTextColor(dst, RGB(0, 0, 0));
    COLORREF oldBack = ::SetBkColor(dst, RGB(255, 255, 255));
    {
        SelectGuard sel(mem.get(), mask);
        ::BitBlt(dst, at.left, at.top, at.width(), at.height(), mem.get(), 0, 0, SRCAND);
    }
    {
        SelectGuard sel(mem.get(), keyed);
        ::BitBlt(dst, at.left, at.top, at.width(), at.height(), mem.get(), 0, 0, SRCPAINT);
    }
    ::SetTextColor(dst, oldText);
    ::SetBkColor(dst, oldBack);
}

}  // namespace

SuperButton::SuperButton(HWND parent, const ButtonWindow& where, ButtonSettings settings)
    : parent_(parent), where_(where), s_(std::move(settings)) {
    s_.clamp();
    defaultNow_ = s_.isDefault == 1 && !s_.toggle;
}

std::unique_ptr<SuperButton> SuperButton::create(HWND parent, const ButtonWindow& where, ButtonSettings settings) {
    std::unique_ptr<SuperButton> button(new SuperButton(parent, where, std::move(settings)));
    if (!button->createWindow(nullptr)) return nullptr;
    return button;
}

std::unique_ptr<SuperButton> SuperButton::createStored(HWND parent, const ButtonWindow& where,
                                                       std::span<const uint8_t> stored) {
    std::optional<ButtonSettings> settings = parseButtonSettings(stored);
    if (!settings) return nullptr;
    return create(parent, where, std::move(*settings));
}

SuperButton::~SuperButton() {
    stopOwnSound();
    if (hwnd_) ::DestroyWindow(hwnd_);  // WM_NCDESTROY detaches us
}

SuperButton* SuperButton::fromHwnd(HWND hwnd) {
    return hwnd ? static_cast<SuperButton*>(::GetPropW(hwnd, kProp)) : nullptr;
}

bool SuperButton::createWindow(HWND insertAfter) {
    static const bool commonControls = [] {
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
        return ::InitCommonControlsEx(&icc) != FALSE;
    }();
    (void)commonControls;
    // The standard style first (check box for a toggle, default push button),
    // then owner-draw: the type bits are shared, so the button's own
    // behaviour is kept in toggle and defaultNow_.
    DWORD type = s_.toggle ? BS_CHECKBOX : (defaultNow_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | type | (where_.visible ? WS_VISIBLE : 0) |
                  (where_.disabled ? WS_DISABLED : 0) | (where_.tabStop ? WS_TABSTOP : 0);
    const Rect& r = where_.rect;
    HWND hwnd = ::CreateWindowExW(0, L"BUTTON", utf8ToWide(s_.caption).c_str(), style, r.left, r.top, r.width(),
                                  r.height(), parent_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(where_.id)),
                                  ::GetModuleHandleW(nullptr), nullptr);
    if (!hwnd) return false;
    ::SetWindowLongPtrW(hwnd, GWL_STYLE, (::GetWindowLongPtrW(hwnd, GWL_STYLE) & ~BS_TYPEMASK) | BS_OWNERDRAW);
    if (insertAfter) ::SetWindowPos(hwnd, insertAfter, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    hwnd_ = hwnd;
    ::SetPropW(hwnd, kProp, this);
    ::SetWindowSubclass(hwnd, subclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    applyResources();
    return true;
}

void SuperButton::applyResources() {
    struct Source {
        const Bytes& bytes;
        ColourRef key;
        Picture& into;
    };
    for (const Source& src : {Source{s_.image, s_.imageKey, image_}, Source{s_.hoverImage, s_.hoverImageKey, hoverImage_},
                              Source{s_.disabledImage, s_.disabledImageKey, disabledImage_}}) {
        src.into = Picture{};
        Image img = decodeImage(src.bytes);
        if (img.empty()) continue;  // undecodable bytes leave the slot empty
        compositeOver(img, rgb(255, 255, 255));
        const ColourRef key = effectiveKey(img, src.key);
        src.into.plain = createDib(img);
        src.into.mask = createKeyMask(img, key);
        clearKeyPixels(img, key);
        src.into.keyed = createDib(img);
        src.into.width = img.width;
        src.into.height = img.height;
        if (!src.into.plain || !src.into.mask || !src.into.keyed) src.into = Picture{};
    }

    font_.reset();
    if (s_.font.size() == kLogFontSize) {
        LOGFONTA lf;
        std::memcpy(&lf, s_.font.data(), sizeof lf);
        lf.lfFaceName[LF_FACESIZE - 1] = '\0';
        // The stored font is sized for 96 DPI.
        lf.lfHeight = scaled(lf.lfHeight);
        lf.lfWidth = scaled(lf.lfWidth);
        font_.reset(::CreateFontIndirectA(&lf));
    } else {
        font_ = scaledGuiFont(where_.dpi);
    }
    HFONT font = guiFontOr(font_);
    ::SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);

    tooltip_.reset();
    if (!s_.tooltip.empty()) {
        tooltip_.reset(::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                         CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                                         ::GetModuleHandleW(nullptr), nullptr));
        if (tooltip_) {
            std::wstring tip = utf8ToWide(s_.tooltip);
            TOOLINFOW ti{};
            ti.cbSize = sizeof ti;
            ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
            ti.hwnd = parent_;
            ti.uId = reinterpret_cast<UINT_PTR>(hwnd_);
            ti.lpszText = tip.data();
            ::SendMessageW(tooltip_.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
            ::SendMessageW(tooltip_.get(), TTM_SETMAXTIPWIDTH, 0, 400);
        }
    }
    ::InvalidateRect(hwnd_, nullptr, TRUE);
}

bool SuperButton::setSettings(ButtonSettings settings) {
    settings.clamp();
    const bool recreate = settings.toggle != s_.toggle || settings.isDefault != s_.isDefault;
    stopOwnSound();  // the sound bytes are about to be replaced
    s_ = std::move(settings);
    if (!hwnd_) return false;
    if (!recreate) {
        ::SetWindowTextW(hwnd_, utf8ToWide(s_.caption).c_str());
        applyResources();
        return true;
    }
    // The button type is fixed at creation: make the window again in the
    // same place of the z-order, keeping its focus.
    defaultNow_ = s_.isDefault == 1 && !s_.toggle;
    HWND old = hwnd_;
    const bool hadFocus = ::GetFocus() == old;
    where_.visible = (::GetWindowLongPtrW(old, GWL_STYLE) & WS_VISIBLE) != 0;
    where_.disabled = !::IsWindowEnabled(old);
    HWND above = ::GetWindow(old, GW_HWNDPREV);
    detach();
    ::DestroyWindow(old);
    hovered_ = false;
    if (!createWindow(above ? above : HWND_TOP)) return false;
    if (hadFocus) ::SetFocus(hwnd_);
    return true;
}

void SuperButton::setDpi(int dpi, const Rect& rect) {
    where_.dpi = dpi;
    where_.rect = rect;
    if (!hwnd_) return;
    ::SetWindowPos(hwnd_, nullptr, rect.left, rect.top, rect.width(), rect.height(), SWP_NOZORDER | SWP_NOACTIVATE);
    applyResources();
}

void SuperButton::setCheck(int state) {
    if (!s_.toggle) return;
    const bool checked = state == 1 || state == 2;
    if (checked == s_.isChecked) return;
    s_.isChecked = checked;
    if (hwnd_) ::InvalidateRect(hwnd_, nullptr, FALSE);
}

std::span<const uint8_t> SuperButton::builtinClickSound() {
    static const std::vector<uint8_t> wave = makeClickWave();
    return wave;
}

void SuperButton::playSound(std::span<const uint8_t> wave) {
    if (wave.empty()) return;
    if (::PlaySoundW(reinterpret_cast<LPCWSTR>(wave.data()), nullptr, SND_ASYNC | SND_MEMORY | SND_NODEFAULT | SND_NOSTOP))
        g_soundOwner = wave.data() == builtinClickSound().data() ? nullptr : this;
}

void SuperButton::stopOwnSound() {
    if (g_soundOwner != this) return;
    ::PlaySoundW(nullptr, nullptr, 0);
    g_soundOwner = nullptr;
}

void SuperButton::clearHover() {
    if (!hovered_) return;
    hovered_ = false;
    if (hwnd_) ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void SuperButton::mouseMove(WPARAM keys) {
    if (s_.style == 1) return;  // the standard style never hovers
    // A drag that started elsewhere does not light the button up.
    if ((keys & MK_LBUTTON) && !hovered_) return;
    POINT pt;
    ::GetCursorPos(&pt);
    if (::WindowFromPoint(pt) != hwnd_) {
        clearHover();
        return;
    }
    if (hovered_) return;
    hovered_ = true;
    ::InvalidateRect(hwnd_, nullptr, TRUE);
    playSound(s_.builtinSound ? builtinClickSound() : std::span<const uint8_t>(s_.hoverSound));
    TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, hwnd_, 0};
    ::TrackMouseEvent(&tme);
}

void SuperButton::onDisabled() {
    clearHover();
    // Disabling the focused button leaves its window with no focus at all
    // (the system takes it away before WM_ENABLE): hand it to the next tab
    // stop, or to the parent when there is none. Focus held by another
    // control, or an inactive window, is left alone.
    HWND focus = ::GetFocus();
    if (focus != hwnd_ && !(focus == nullptr && ::GetActiveWindow() == ::GetAncestor(hwnd_, GA_ROOT))) return;
    HWND next = ::GetNextDlgTabItem(parent_, hwnd_, FALSE);
    ::SetFocus(next && next != hwnd_ ? next : parent_);
}

void SuperButton::clicked() {
    playSound(s_.builtinSound ? builtinClickSound() : std::span<const uint8_t>(s_.clickSound));
    if (s_.toggle) {
        s_.isChecked = !s_.isChecked;
        ::InvalidateRect(hwnd_, nullptr, FALSE);
    }
    // Last: the handler may destroy this button.
    if (onClick_) {
        std::function<void()> handler = onClick_;
        handler();
    }
}

SuperButton::Picture& SuperButton::picture(ImageSlot which) {
    return which == ImageSlot::HoverImage ? hoverImage_ : which == ImageSlot::DisabledImage ? disabledImage_ : image_;
}

void SuperButton::drawImage(HDC dc, const ButtonLook& look, const Rect& r0, bool hasCaption, Rect& textRect) {
    if (look.image == ImageSlot::None) return;
    Picture& pic = picture(look.image);
    if (!pic) return;
    RECT client;
    ::GetClientRect(hwnd_, &client);
    Placement at = placeImage(r0, client.right - client.left, pic.width, pic.height, s_.imageAlign, hasCaption,
                              scaled(look.dx), scaled(look.dy), scaled(kImageMargin));
    textRect = at.text;
    if (look.embossImage) {
        ::DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(pic.plain.get()), 0, at.image.left, at.image.top,
                     pic.width, pic.height, DST_BITMAP | DSS_DISABLED);
    } else {
        blitMasked(dc, at.image, pic.mask.get(), pic.keyed.get());
    }
}

void SuperButton::draw(const DRAWITEMSTRUCT& dis) {
    const Rect item{dis.rcItem.left, dis.rcItem.top, dis.rcItem.right, dis.rcItem.bottom};
    if (item.width() <= 0 || item.height() <= 0) return;
    // Drawn off screen and copied in one go, so hovering does not flicker.
    UniqueHdc mem(::CreateCompatibleDC(dis.hDC));
    UniqueHbitmap canvas(::CreateCompatibleBitmap(dis.hDC, item.width(), item.height()));
    if (!mem || !canvas) return;
    SelectGuard selCanvas(mem.get(), canvas.get());
    HDC dc = mem.get();
    ::SetViewportOrgEx(dc, -item.left, -item.top, nullptr);

    const ButtonColours colours = resolveColours(s_, ::GetSysColor(COLOR_BTNFACE), ::GetSysColor(COLOR_BTNTEXT));
    ButtonState state;
    state.hovered = hovered_;
    state.selected = (dis.itemState & ODS_SELECTED) != 0;
    state.focused = (dis.itemState & ODS_FOCUS) != 0;
    state.disabled = (dis.itemState & ODS_DISABLED) != 0;
    state.isDefault = defaultNow_;
    const ButtonLook look =
        chooseLook(s_, colours, state, {bool(image_), bool(hoverImage_), bool(disabledImage_)});

    const int line = scaled(1);
    Rect r = item;
    if (look.blackFrame) {
        frame(dc, r, RGB(0, 0, 0), line);
        r = r.inflated(-line);
    }
    ::SetBkMode(dc, TRANSPARENT);
    if (look.fill == Fill::Rounded) {
        // The corners outside the rounded shape show the normal background.
        fill(dc, item, colours.normalBack);
        UniqueHbrush brush(::CreateSolidBrush(look.back));
        // A wider outline stays inside the rectangle, as the 1-pixel one does.
        UniqueHpen pen(::CreatePen(line > 1 ? PS_INSIDEFRAME : PS_SOLID, line, RGB(0, 0, 0)));
        SelectGuard selBrush(dc, brush.get());
        SelectGuard selPen(dc, pen.get());
        const int corner = scaled(8);
        ::RoundRect(dc, r.left, r.top, r.right, r.bottom, corner, corner);
    } else {
        fill(dc, r, look.back);
    }

    const COLORREF highlight = ::GetSysColor(COLOR_BTNHIGHLIGHT), shadow = ::GetSysColor(COLOR_BTNSHADOW);
    switch (look.edge) {
    case Edge::ThinRaised: bevel(dc, r, highlight, shadow, line); break;
    case Edge::ThinSunken: bevel(dc, r, shadow, highlight, line); break;
    case Edge::ShadowFrame: frame(dc, r, shadow, line); break;
    case Edge::Raised3D:
        bevel(dc, r, highlight, ::GetSysColor(COLOR_3DDKSHADOW), line);
        bevel(dc, r.inflated(-line), ::GetSysColor(COLOR_3DLIGHT), shadow, line);
        break;
    case Edge::None: break;
    }

    const int len = ::GetWindowTextLengthW(hwnd_);
    std::wstring caption(static_cast<size_t>(len) + 1, L'\0');
    caption.resize(static_cast<size_t>(::GetWindowTextW(hwnd_, caption.data(), len + 1)));

    Rect text = item;
    drawImage(dc, look, item, !caption.empty(), text);

    if (!caption.empty()) {
        text = text.moved(scaled(look.dx), scaled(look.dy));
        HFONT font = reinterpret_cast<HFONT>(::SendMessageW(hwnd_, WM_GETFONT, 0, 0));
        SelectGuard selFont(dc, font ? font : ::GetStockObject(DEFAULT_GUI_FONT));
        RECT measured = toRECT(text);
        ::DrawTextW(dc, caption.c_str(), -1, &measured, DT_CALCRECT | DT_CENTER | DT_WORDBREAK);
        RECT block = toRECT(centreBlock(text, measured.right - measured.left, measured.bottom - measured.top));
        if (look.embossText) {
            RECT lit = block;
            ::OffsetRect(&lit, line, line);
            ::SetTextColor(dc, highlight);
            ::DrawTextW(dc, caption.c_str(), -1, &lit, DT_CENTER | DT_WORDBREAK);
            ::SetTextColor(dc, shadow);
        } else {
            ::SetTextColor(dc, look.text);
        }
        ::DrawTextW(dc, caption.c_str(), -1, &block, DT_CENTER | DT_WORDBREAK);
    }

    if (look.focusRect) {
        RECT fr = toRECT(r.inflated(-scaled(3)));
        ::DrawFocusRect(dc, &fr);
    }
    ::SetViewportOrgEx(dc, 0, 0, nullptr);
    ::BitBlt(dis.hDC, item.left, item.top, item.width(), item.height(), dc, 0, 0, SRCCOPY);
}

bool SuperButton::forwardFromParent(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    switch (msg) {
    case WM_DRAWITEM: {
        auto* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
        SuperButton* b = dis && dis->CtlType == ODT_BUTTON ? fromHwnd(dis->hwndItem) : nullptr;
        if (!b) return false;
        b->draw(*dis);
        result = TRUE;
        return true;
    }
    case WM_COMMAND: {
        SuperButton* b = fromHwnd(reinterpret_cast<HWND>(lp));
        if (!b) return false;
        if (HIWORD(wp) == BN_CLICKED) b->clicked();
        result = 0;
        return true;
    }
    case WM_CTLCOLORBTN:
        if (!fromHwnd(reinterpret_cast<HWND>(lp))) return false;
        // Nothing is erased: the drawing covers the whole button.
        result = reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
        return true;
    default:
        return false;
    }
}

void SuperButton::detach() {
    if (!hwnd_) return;
    ::RemoveWindowSubclass(hwnd_, subclassProc, kSubclassId);
    ::RemovePropW(hwnd_, kProp);
    // The tooltip is owned by the top-level window, which destroys it before
    // its children: then only the stale handle is left to drop.
    if (tooltip_ && !::IsWindow(tooltip_.get())) tooltip_.release();
    tooltip_.reset();
    hwnd_ = nullptr;
}

LRESULT SuperButton::handleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_MOUSEMOVE:
        mouseMove(wp);
        break;
    case WM_MOUSELEAVE:
    case WM_KILLFOCUS:
    case WM_CANCELMODE:
        clearHover();
        break;
    case WM_ENABLE:
        if (!wp) onDisabled();
        break;
    case WM_LBUTTONDBLCLK:
        // An owner-drawn button turns a quick second click into a
        // double-click notification; treat it as the press it is.
        return ::DefSubclassProc(hwnd_, WM_LBUTTONDOWN, wp, lp);
    case WM_GETDLGCODE:
        return DLGC_BUTTON | (defaultNow_ ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
    case BM_SETSTYLE: {
        // The dialog manager moves the default-button look around: record
        // it, but stay owner-drawn.
        defaultNow_ = !s_.toggle && (wp & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
        WPARAM style = (wp & ~static_cast<WPARAM>(BS_TYPEMASK)) | BS_OWNERDRAW;
        return ::DefSubclassProc(hwnd_, msg, style, lp);
    }
    case BM_SETCHECK:
        setCheck(static_cast<int>(wp));
        return 0;
    case BM_GETCHECK:
        return check();
    case WM_ERASEBKGND:
        return 1;
    case WM_NCDESTROY: {
        HWND hwnd = hwnd_;
        detach();
        return ::DefSubclassProc(hwnd, msg, wp, lp);
    }
    }
    return ::DefSubclassProc(hwnd_, msg, wp, lp);
}

LRESULT CALLBACK SuperButton::subclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR ref) {
    auto* self = reinterpret_cast<SuperButton*>(ref);
    if (!self || self->hwnd_ != hwnd) return ::DefSubclassProc(hwnd, msg, wp, lp);
    try {
        return self->handleMessage(msg, wp, lp);
    } catch (...) {
        // Nothing may unwind through the system's message dispatch.
        return ::DefSubclassProc(hwnd, msg, wp, lp);
    }
}
