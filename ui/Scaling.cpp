#include "ui/Scaling.h"

#include "resources/ResourceIds.h"

#include <algorithm>
#include <cstdint>

int scaleForDpi(int value, int dpi) {
    const int64_t product = int64_t{value} * dpi;
    const int64_t half = kDesignDpi / 2;
    return static_cast<int>(product >= 0 ? (product + half) / kDesignDpi : -((-product + half) / kDesignDpi));
}

Rect scaleBox(const Box& box, int dpi) {
    return {scaleForDpi(box.left, dpi), scaleForDpi(box.top, dpi), scaleForDpi(box.left + box.width, dpi),
            scaleForDpi(box.top + box.height, dpi)};
}

int imageScaleFor(int dpi) {
    // The midpoints between the drawn sizes: 120 DPI (125 %) and 168 DPI (175 %).
    if (dpi <= 120) return 100;
    if (dpi <= 168) return 150;
    return 200;
}

int imageResourceFor(int resource, int dpi) {
    if (resource == 0) return 0;
    switch (imageScaleFor(dpi)) {
    case 150: return resource + QZ_IDR_STEP_150;
    case 200: return resource + QZ_IDR_STEP_200;
    default: return resource;
    }
}

Rect placeInCorner(const Rect& workArea, int width, int height, int margin, int dpi) {
    const int m = scaleForDpi(margin, dpi);
    const int left = std::max(workArea.left, workArea.right - m - width);
    const int top = std::max(workArea.top, workArea.bottom - m - height);
    return Rect::fromSize(left, top, width, height);
}

Rect centreIn(const Rect& area, int width, int height) {
    return Rect::fromSize(area.left + (area.width() - width) / 2, area.top + (area.height() - height) / 2, width, height);
}
