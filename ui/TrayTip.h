// The notification-area tooltip is limited to 62 bytes of its ANSI
// (code page 936) form. Cutting inside a double-byte character would leave
// a stray lead byte, so the cut falls on a character boundary.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

constexpr size_t kTrayTipBytes = 62;

// `gbk` is text in code page 936: a byte 0x81...0xFE starts a two-byte
// character. Returns the longest prefix of whole characters that fits.
std::string cutGbkText(std::string_view gbk, size_t maxBytes);
