// Decodes PNG bytes with libpng into a 32-bit image with straight alpha.
#pragma once

#include "ui/Image.h"

#include <cstdint>
#include <span>

// Any PNG colour type and bit depth is expanded to 8-bit RGBA. Bytes that
// are not a complete, valid PNG give an empty image.
Image decodePng(std::span<const uint8_t> bytes);
bool isPng(std::span<const uint8_t> bytes);
