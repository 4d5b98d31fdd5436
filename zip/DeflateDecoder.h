// Deflate (ZIP method 8) and Deflate64 (method 9), one table-driven decoder
// in the manner of a fast inflate, streaming through buffers of any size.
// Deflate64 is deflate with a 64 KiB window, length code 285 taking 16 extra
// bits (lengths 3 to 65538) and distance codes 30 and 31 (distances up to
// 65536); no Debian package ships a decoder of it as a library. For deflate
// it takes what zlib's inflate takes and refuses what zlib refuses, and is
// faster: the bit buffer is refilled 8 bytes at a time and three literals
// are taken per refill. Either holds the 64 KiB window and 27 KiB of tables
// (fixed and dynamic).
#pragma once

#include <memory>

#include "zip/MethodDecoder.h"

std::unique_ptr<MethodDecoder> makeDeflateDecoder();
std::unique_ptr<MethodDecoder> makeDeflate64Decoder();
