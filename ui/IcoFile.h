// Reads the directory of an icon file (.ico bytes) and picks the image to
// make icons from. The bytes may come from anywhere, so every offset is
// checked against the data. Platform-free.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

struct IcoImage {
    int width = 0, height = 0;  // 256 where the directory stores 0
    int bitCount = 0;
    std::span<const uint8_t> data;  // the image's bytes inside the file
    bool png = false;               // PNG-compressed image (else a DIB)
};

// The largest image with the most colours; nullopt when the bytes are not a
// well-formed icon file.
std::optional<IcoImage> pickIcoImage(std::span<const uint8_t> ico);
