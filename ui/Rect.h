// A rectangle in the platform's convention (right and bottom exclusive),
// for the layout arithmetic that is tested without <windows.h>.
#pragma once

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;

    static constexpr Rect fromSize(int left, int top, int width, int height) {
        return {left, top, left + width, top + height};
    }
    constexpr int width() const { return right - left; }
    constexpr int height() const { return bottom - top; }
    constexpr Rect moved(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    constexpr Rect inflated(int d) const { return {left - d, top - d, right + d, bottom + d}; }
    constexpr bool operator==(const Rect&) const = default;
};
