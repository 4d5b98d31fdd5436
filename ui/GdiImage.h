// Turns decoded images into GDI objects: 32-bit DIBs, 1-bit masks and
// icons; and finds the images embedded in the executable.
#pragma once

#include "base/UniqueAny.h"
#include "ui/Image.h"

#include <cstdint>
#include <span>

// A top-down 32-bit DIB section holding the pixels as they are.
UniqueHbitmap createDib(const Image& image);
// A monochrome bitmap from buildKeyMask: white (1) where transparent.
UniqueHbitmap createKeyMask(const Image& image, ColourRef key);
// An icon of the image's size with per-pixel alpha.
UniqueHicon createIcon(const Image& image);
// An icon of size x size from .ico bytes: the best image of the file
// (PNG-compressed or a DIB), scaled down by area averaging.
UniqueHicon iconFromIco(std::span<const uint8_t> ico, int size);
// Decodes image bytes (PNG, or a BMP file) into an Image; empty on failure.
Image decodeImage(std::span<const uint8_t> bytes);

// The bytes of an RCDATA resource of this executable; empty when missing.
std::span<const uint8_t> resourceBytes(int id);
