// Colours as the platform stores them (0x00BBGGRR, the layout of COLORREF)
// and the colour arithmetic of the owner-drawn controls. No <windows.h> here,
// so the arithmetic is tested on the host.
#pragma once

#include <cstdint>

using ColourRef = uint32_t;

// In a button's six colours this value stands for the system button-face
// colour; as an image's key colour it means "the image's top-left pixel".
constexpr ColourRef kSystemFace = 0xFF000000u;
constexpr ColourRef kAutoKey = 0xFF000000u;

constexpr ColourRef rgb(int r, int g, int b) {
    return static_cast<ColourRef>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int redOf(ColourRef c) { return static_cast<int>(c & 0xFF); }
constexpr int greenOf(ColourRef c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int blueOf(ColourRef c) { return static_cast<int>((c >> 16) & 0xFF); }

// Moves all three channels by the same step, the largest that keeps every
// channel inside 0...255, so the hue is kept. A step outside -255...255
// leaves the colour as it is.
ColourRef brighten(ColourRef colour, int step);

// The colour itself, or `face` where it is the system-face placeholder.
constexpr ColourRef resolveFace(ColourRef colour, ColourRef face) { return colour == kSystemFace ? face : colour; }
