// The settings of one super button and their stored form: the byte layout in
// which a window description keeps a button. Platform-free.
#pragma once

#include "ui/Colour.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct ButtonSettings {
    int style = 0;            // 0 flat, 1 standard 3-D, 2 flat with rounded highlight
    bool toggle = false;      // check-box behaviour
    bool isChecked = false;
    int imageAlign = 0;       // 0 left of the caption, 1 above, 2 right, 3 top-left corner
    int pressOffset = 0;      // 0: pressed content moves by (1, 1); 1: by (0, 2)
    bool hoverEdge = true;
    bool focusRect = false;

    Bytes image, hoverImage, disabledImage;  // PNG (or BMP) bytes; empty for none
    ColourRef imageKey = kAutoKey, hoverImageKey = kAutoKey, disabledImageKey = kAutoKey;

    Bytes font;               // a 60-byte LOGFONTA, or empty for the default GUI font
    std::string caption = "超级按钮";  // UTF-8
    bool systemColours = true;
    ColourRef normalText = 0, normalBack = kSystemFace;
    ColourRef hoverText = 0, hoverBack = kSystemFace;
    ColourRef focusText = 0, focusBack = kSystemFace;

    bool builtinSound = false;
    Bytes hoverSound, clickSound;  // RIFF wave bytes; empty for none
    std::string tooltip;           // UTF-8; empty for no tooltip
    int isDefault = 0;

    // Brings the ranged settings into their ranges (values outside are clamped).
    void clamp();
};

constexpr size_t kLogFontSize = 60;
constexpr int32_t kStoredVersion = 2;

// Reads the stored form. Fails on a version above 2 (or below 0), on a
// length that runs past the end, and on a font that is neither empty nor
// 60 bytes. Texts are stored as UTF-8.
std::optional<ButtonSettings> parseButtonSettings(std::span<const uint8_t> stored);
Bytes storeButtonSettings(const ButtonSettings& settings);
