// The WinZip AES primitives from Windows' CNG: PBKDF2-HMAC-SHA1, AES-ECB
// for the counter blocks and HMAC-SHA1.
#pragma once

#include <memory>

#include "zip/WinZipAes.h"

std::unique_ptr<AesCrypto> makeCngAesCrypto();
