// The super button: a standard BUTTON child switched to owner-draw and
// subclassed, with a flat look, hover tracking, per-state colours, an
// optional image beside the caption, sounds, tooltip and toggle behaviour.
// Keyboard focus, tab order, click detection and the Space key stay the
// standard button's.
//
// The parent forwards WM_DRAWITEM, WM_COMMAND and WM_CTLCOLORBTN with
// SuperButton::forwardFromParent (the control draws itself and handles its
// own click). Created, used and destroyed on the parent's GUI thread.
#pragma once

#include "base/UniqueAny.h"
#include "ui/ButtonLook.h"
#include "ui/ButtonSettings.h"
#include "ui/Rect.h"
#include "ui/Scaling.h"

#include <functional>
#include <memory>
#include <span>

struct ButtonWindow {
    Rect rect;  // parent's client coordinates
    int id = 0;
    bool visible = true;
    bool disabled = false;
    bool tabStop = true;
    // The parent's DPI: edges, corners, margins, offsets and the font are
    // designed at 96 DPI and scaled to it. The rectangle is already scaled.
    int dpi = kDesignDpi;
};

class SuperButton {
public:
    // Creates the window; nullptr when it cannot be created.
    static std::unique_ptr<SuperButton> create(HWND parent, const ButtonWindow& where, ButtonSettings settings);
    // The same from the stored form; nullptr (and no window) when the bytes
    // cannot be read, for example a version above 2.
    static std::unique_ptr<SuperButton> createStored(HWND parent, const ButtonWindow& where,
                                                     std::span<const uint8_t> stored);
    ~SuperButton();  // destroys the window and releases bitmaps, masks, font and tooltip
    SuperButton(const SuperButton&) = delete;
    SuperButton& operator=(const SuperButton&) = delete;

    HWND hwnd() const { return hwnd_; }
    static SuperButton* fromHwnd(HWND hwnd);

    // For the parent's window procedure: true when the message belonged to
    // a super button and `result` is what to return.
    static bool forwardFromParent(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

    // The clicked event (index 0). The handler may destroy the button.
    void setClickHandler(std::function<void()> handler) { onClick_ = std::move(handler); }

    const ButtonSettings& settings() const { return s_; }
    // Applies new settings: repaints, reloads images, font and tooltip;
    // a change of `toggle` or `isDefault` creates the window again.
    bool setSettings(ButtonSettings settings);

    // 1 or 2 checks a toggle button, anything else clears it.
    void setCheck(int state);
    int check() const { return s_.isChecked ? 1 : 0; }

    // The parent moved to a monitor of another DPI: the button's new
    // rectangle and its looks at that DPI. Images are not rescaled: give
    // settings with images drawn for it.
    void setDpi(int dpi, const Rect& rect);

    bool hovered() const { return hovered_; }
    // Ends the hover look (mouse left, focus lost, window deactivated, ...).
    void clearHover();

    // The built-in click sound, shared by every button.
    static std::span<const uint8_t> builtinClickSound();

private:
    SuperButton(HWND parent, const ButtonWindow& where, ButtonSettings settings);
    bool createWindow(HWND insertAfter);
    void applyResources();
    void draw(const DRAWITEMSTRUCT& dis);
    int scaled(int designPixels) const { return scaleForDpi(designPixels, where_.dpi); }
    void drawImage(HDC dc, const ButtonLook& look, const Rect& r0, bool hasCaption, Rect& textRect);
    void clicked();
    void mouseMove(WPARAM keys);
    void onDisabled();
    void playSound(std::span<const uint8_t> wave);
    void stopOwnSound();
    void detach();
    LRESULT handleMessage(UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK subclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);

    struct Picture {
        UniqueHbitmap plain;   // composited over white, for the embossed disabled look
        UniqueHbitmap keyed;   // key-coloured pixels black, OR-ed in after the mask
        UniqueHbitmap mask;    // 1 where transparent
        int width = 0, height = 0;
        explicit operator bool() const { return static_cast<bool>(keyed); }
    };
    Picture& picture(ImageSlot which);

    HWND parent_;
    HWND hwnd_ = nullptr;
    ButtonWindow where_;
    ButtonSettings s_;
    bool hovered_ = false;
    bool defaultNow_ = false;  // BM_SETSTYLE may make it the default button
    Picture image_, hoverImage_, disabledImage_;
    UniqueHfont font_;
    UniqueHwnd tooltip_;
    std::function<void()> onClick_;
};
