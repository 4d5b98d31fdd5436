#include "ui/ButtonLook.h"

ButtonColours resolveColours(const ButtonSettings& s, ColourRef systemFace, ColourRef systemText) {
    if (s.systemColours)
        return {systemText, systemFace, systemText, brighten(systemFace, 32), systemText, systemFace};
    auto f = [&](ColourRef c) { return resolveFace(c, systemFace); };
    return {f(s.normalText), f(s.normalBack), f(s.hoverText), f(s.hoverBack), f(s.focusText), f(s.focusBack)};
}

ButtonLook chooseLook(const ButtonSettings& s, const ButtonColours& c, const ButtonState& st, const ImageSlots& slots) {
    ButtonLook look;
    const bool standard = s.style == 1;
    const bool hovered = st.hovered && !standard;  // the standard style never hovers
    look.pressed = st.selected || (s.toggle && s.isChecked);
    look.blackFrame = standard && (st.focused || st.isDefault);

    if (!hovered && !look.pressed) {
        look.back = st.focused ? c.focusBack : c.normalBack;
    } else {
        look.back = c.hoverBack;
        if (s.style == 2) look.fill = Fill::Rounded;
    }

    if (look.pressed) {
        if (standard) look.edge = Edge::ShadowFrame;
        else if (s.style == 0 && s.hoverEdge) look.edge = Edge::ThinSunken;
    } else {
        if (standard) look.edge = Edge::Raised3D;
        else if (s.style == 0 && hovered && s.hoverEdge) look.edge = Edge::ThinRaised;
    }

    if (slots.image || slots.hoverImage) {
        ImageSlot chosen;
        if (st.disabled) chosen = slots.disabledImage ? ImageSlot::DisabledImage : ImageSlot::HoverImage;
        else chosen = look.pressed || (hovered && !s.toggle) ? ImageSlot::HoverImage : ImageSlot::Image;
        // An empty one of image and hover image falls back to the other.
        if (chosen == ImageSlot::HoverImage && !slots.hoverImage) chosen = ImageSlot::Image;
        else if (chosen == ImageSlot::Image && !slots.image) chosen = ImageSlot::HoverImage;
        look.image = chosen;
        look.embossImage = st.disabled && chosen != ImageSlot::DisabledImage;
    }

    if (look.pressed && !s.toggle) {
        look.dx = s.pressOffset == 1 ? 0 : 1;
        look.dy = s.pressOffset == 1 ? 2 : 1;
    }

    look.embossText = st.disabled;
    look.text = hovered || look.pressed ? c.hoverText : st.focused ? c.focusText : c.normalText;
    look.focusRect = st.focused && (standard || s.focusRect);
    return look;
}

Placement placeImage(const Rect& r0, int clientWidth, int w, int h, int align, bool hasCaption, int dx, int dy,
                     int margin) {
    const int m = margin;
    Placement p{{}, r0};
    auto centred = [&] {
        int left = r0.left + (r0.width() - w) / 2, top = r0.top + (r0.height() - h) / 2;
        return Rect::fromSize(left, top, w, h);
    };
    const int vcentre = r0.top + (r0.height() - h) / 2;
    if (align == 3) {
        p.image = Rect::fromSize(r0.left, r0.top, w, h);
    } else if (!hasCaption) {
        p.image = centred();
    } else if (align == 0) {
        p.image = Rect::fromSize(r0.left + m, vcentre, w, h);
        p.text.left += w + m;
    } else if (align == 1) {
        p.image = Rect::fromSize(r0.left + (r0.width() - w) / 2, r0.top + m, w, h);
        p.text.top += h;
    } else {
        p.image = Rect::fromSize(clientWidth - m - w, vcentre, w, h);
        p.text.right -= m + p.text.left + w;
        p.text.left = m;
    }
    p.image = p.image.moved(dx, dy);
    return p;
}

Rect centreBlock(const Rect& t, int w, int h) {
    return Rect::fromSize(t.left + (t.width() - w) / 2, t.top + (t.height() - h) / 2, w, h);
}
