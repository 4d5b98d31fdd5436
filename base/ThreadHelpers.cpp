#include "base/ThreadHelpers.h"

#include <mutex>

// The one routine of GDI+ the program needs, declared here from its flat API:
// the library's C++ headers pull in far more than this file wants.
struct GdiplusStartupInputV1 {
    UINT32 GdiplusVersion = 1;
    void* DebugEventCallback = nullptr;
    BOOL SuppressBackgroundThread = FALSE;
    BOOL SuppressExternalCodecs = FALSE;
};

extern "C" int WINAPI GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInputV1* input, void* output);

UniqueHandle startThread(LPTHREAD_START_ROUTINE entry, void* parameter, DWORD flags) {
    return UniqueHandle(::CreateThread(nullptr, 0, entry, parameter, flags, nullptr));
}

bool startGdiPlus() {
    static std::mutex startLock;
    static ULONG_PTR token = 0;
    std::lock_guard<std::mutex> guard(startLock);
    if (token != 0) return true;
    GdiplusStartupInputV1 input;
    ULONG_PTR started = 0;
    // Status Ok is 0; anything else leaves GDI+ down and the token at 0.
    if (GdiplusStartup(&started, &input, nullptr) != 0) return false;
    token = started;
    return token != 0;
}
