// Deflate64 (ZIP method 9): deflate with a 64 KiB window, length code 285
// taking 16 extra bits (lengths 3 to 65538) and distance codes 30 and 31
// (distances up to 65536). No Debian package ships a decoder of it as a
// library, so this library has its own, table-driven in the manner of a fast
// inflate. It holds the 64 KiB window and 27 KiB of tables (fixed and dynamic).
#pragma once

#include <memory>

#include "zip/MethodDecoder.h"

std::unique_ptr<MethodDecoder> makeDeflate64Decoder();
