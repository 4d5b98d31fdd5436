// What a super button looks like in a given state, and where its image and
// caption go: the decisions of the drawing code, kept free of the platform
// so they are tested on the host. SuperButton.cpp carries them out with GDI.
#pragma once

#include "ui/ButtonSettings.h"
#include "ui/Colour.h"
#include "ui/Rect.h"

// The six colours after the system colours have been applied.
struct ButtonColours {
    ColourRef normalText, normalBack, hoverText, hoverBack, focusText, focusBack;
};
ButtonColours resolveColours(const ButtonSettings& s, ColourRef systemFace, ColourRef systemText);

// State as the owner-draw request and the hover tracking report it.
struct ButtonState {
    bool hovered = false;
    bool selected = false;  // the platform draws the button pushed
    bool focused = false;
    bool disabled = false;
    bool isDefault = false;  // the default push button of its window
};

enum class Fill { Square, Rounded };
enum class Edge { None, ThinRaised, ThinSunken, Raised3D, ShadowFrame };
enum class ImageSlot { None, Image, HoverImage, DisabledImage };

struct ButtonLook {
    bool pressed = false;
    bool blackFrame = false;    // standard style, focused or default: 1-pixel black frame, then shrink
    Fill fill = Fill::Square;
    ColourRef back = 0;
    Edge edge = Edge::None;
    ImageSlot image = ImageSlot::None;
    bool embossImage = false;   // disabled without its own disabled image
    bool embossText = false;    // disabled: caption in the system's embossed look
    ColourRef text = 0;
    int dx = 0, dy = 0;         // where image and caption move while pressed
    bool focusRect = false;
};

struct ImageSlots {
    bool image = false, hoverImage = false, disabledImage = false;
};

ButtonLook chooseLook(const ButtonSettings& s, const ButtonColours& colours, const ButtonState& state,
                      const ImageSlots& slots);

struct Placement {
    Rect image;  // empty when there is no image
    Rect text;
};

constexpr int kImageMargin = 3;  // at 96 DPI; scaled with the button's DPI

// Places an image of w x h in the item rectangle r0 (client coordinates,
// clientWidth wide), `margin` from the edges it keeps to, and gives the
// rectangle left for the caption.
Placement placeImage(const Rect& r0, int clientWidth, int w, int h, int align, bool hasCaption, int dx, int dy,
                     int margin = kImageMargin);

// A measured text block of w x h centred both ways in t.
Rect centreBlock(const Rect& t, int w, int h);
