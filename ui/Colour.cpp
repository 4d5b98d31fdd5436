#include "ui/Colour.h"

#include <algorithm>

ColourRef brighten(ColourRef colour, int step) {
    if (step < -255 || step > 255) return colour;
    const int channels[3] = {redOf(colour), greenOf(colour), blueOf(colour)};
    int s = step;
    for (int c : channels) {
        // Each channel allows the full step, or what is left up to its limit.
        int allowed = step >= 0 ? (c + step <= 255 ? step : 255 - c) : (c + step >= 0 ? step : -c);
        s = step >= 0 ? std::min(s, allowed) : std::max(s, allowed);
    }
    return rgb(channels[0] + s, channels[1] + s, channels[2] + s);
}
