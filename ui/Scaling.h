// Layout arithmetic for a window shown at any DPI: the windows are designed
// at 96 DPI and every length is scaled by the window's DPI with MulDiv's
// rounding. Platform-free.
#pragma once

#include "ui/FormTables.h"
#include "ui/Rect.h"

constexpr int kDesignDpi = 96;

// value * dpi / 96 rounded to the nearest integer, halves away from zero:
// what MulDiv(value, dpi, 96) gives.
int scaleForDpi(int value, int dpi);

// A designer rectangle at this DPI. The edges are scaled, not the size, so
// controls that touch at 96 DPI still touch.
Rect scaleBox(const Box& box, int dpi);

// The drawn sizes of the images: 1x, 1.5x and 2x, as percentages.
constexpr int kImageScales[] = {100, 150, 200};
// The drawn size nearest to this DPI (a tie goes to the smaller, which
// still fits its scaled box); images are never stretched.
int imageScaleFor(int dpi);
// The resource of an image drawn at the size imageScaleFor picks; `resource`
// is the 1x one. 0 stays 0 (no image).
int imageResourceFor(int resource, int dpi);

// Where a window of width x height goes so that its bottom-right corner is
// `margin` design pixels (scaled) from the work area's right and bottom
// edges; a window larger than the work area keeps its top-left corner in it.
Rect placeInCorner(const Rect& workArea, int width, int height, int margin, int dpi);
// A window of width x height centred in `area`.
Rect centreIn(const Rect& area, int width, int height);
