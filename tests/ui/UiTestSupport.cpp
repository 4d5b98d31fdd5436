#include "UiTestSupport.h"

#include "ui/SuperButton.h"

#include <png.h>

#include <cstdlib>
#include <cstring>
#include <vector>

bool haveDisplay() {
    const char* d = std::getenv("DISPLAY");
    return d && *d;
}

void pumpPending() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
        pumpPending();
        if (done()) return true;
        if (::GetTickCount64() >= deadline) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

long gdiObjectsInUse() {
    if (DWORD n = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS)) return static_cast<long>(n);
    std::vector<HBRUSH> brushes;
    brushes.reserve(70000);
    while (brushes.size() < 200000) {
        HBRUSH b = ::CreateSolidBrush(RGB(1, 2, 3));
        if (!b) break;
        brushes.push_back(b);
    }
    for (HBRUSH b : brushes) ::DeleteObject(b);
    return -static_cast<long>(brushes.size());  // fewer free slots: more objects in use
}

namespace {
BOOL CALLBACK countWindow(HWND hwnd, LPARAM lp) {
    ++*reinterpret_cast<long*>(lp);
    ::EnumChildWindows(hwnd, countWindow, lp);
    return TRUE;
}
}  // namespace

long userObjectsInUse() {
    if (DWORD n = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS)) return static_cast<long>(n);
    long windows = 0;
    ::EnumThreadWindows(::GetCurrentThreadId(), countWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

Image captureScreen(const RECT& r) {
    Image out;
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return out;
    HDC screen = ::GetDC(nullptr);
    HDC mem = ::CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP dib = ::CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(mem, dib);
    ::BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    ::GdiFlush();
    out.width = w;
    out.height = h;
    out.pixels.assign(static_cast<const uint32_t*>(bits), static_cast<const uint32_t*>(bits) + size_t(w) * h);
    for (uint32_t& p : out.pixels) p |= 0xFF000000u;
    ::SelectObject(mem, old);
    ::DeleteObject(dib);
    ::DeleteDC(mem);
    ::ReleaseDC(nullptr, screen);
    return out;
}

POINT clientToScreen(HWND hwnd, int x, int y) {
    POINT pt{x, y};
    ::ClientToScreen(hwnd, &pt);
    return pt;
}

Image captureClient(HWND hwnd) {
    RECT rc;
    ::GetClientRect(hwnd, &rc);
    ::MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&rc), 2);
    return captureScreen(rc);
}

ColourRef pixelAt(const Image& image, int x, int y) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return kAutoKey;
    return colourOfPixel(image.at(x, y));
}

ColourRef waitForClientPixel(HWND hwnd, int x, int y, ColourRef expected, int timeoutMs) {
    ColourRef seen = kAutoKey;
    pumpUntil(
        [&] {
            POINT pt = clientToScreen(hwnd, x, y);
            RECT one{pt.x, pt.y, pt.x + 1, pt.y + 1};
            seen = pixelAt(captureScreen(one), 0, 0);
            return seen == expected;
        },
        timeoutMs);
    return seen;
}

Image readDib(HBITMAP dib) {
    Image out;
    ::GdiFlush();
    DIBSECTION ds{};
    if (::GetObjectW(dib, sizeof ds, &ds) != sizeof ds || !ds.dsBm.bmBits || ds.dsBm.bmBitsPixel != 32) return out;
    out.width = ds.dsBm.bmWidth;
    out.height = ds.dsBm.bmHeight;
    const auto* bits = static_cast<const uint32_t*>(ds.dsBm.bmBits);
    out.pixels.assign(bits, bits + size_t(out.width) * out.height);
    return out;
}

std::string colourText(ColourRef c) {
    return "RGB(" + std::to_string(redOf(c)) + "," + std::to_string(greenOf(c)) + "," + std::to_string(blueOf(c)) + ")";
}

std::string saveArtifact(const Image& image, const std::string& name) {
    const char* bin = std::getenv("QZ_BINARY_DIR");
    std::string dir = std::string(bin ? bin : ".") + "/artifacts";
    // QZ_BINARY_DIR is a Unix path; Wine sees the Unix root as drive Z:.
    std::string winDir = (dir.size() && dir[0] == '/' ? "Z:" : "") + dir;
    ::CreateDirectoryA(winDir.c_str(), nullptr);
    std::string path = winDir + "/" + name + ".png";
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    img.width = static_cast<png_uint_32>(image.width);
    img.height = static_cast<png_uint_32>(image.height);
    img.format = PNG_FORMAT_BGRA;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return {};
    png_image_write_to_stdio(&img, f, 0, image.pixels.data(), 0, nullptr);
    std::fclose(f);
    return path;
}

void moveMouseTo(int x, int y) {
    // Absolute input coordinates span 0...65535 over the primary screen.
    const int w = ::GetSystemMetrics(SM_CXSCREEN), h = ::GetSystemMetrics(SM_CYSCREEN);
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dx = static_cast<LONG>((x * 65535LL + w / 2) / (w - 1));
    in.mi.dy = static_cast<LONG>((y * 65535LL + h / 2) / (h - 1));
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    ::SendInput(1, &in, sizeof in);
    ::SetCursorPos(x, y);
}

void mouseButton(bool down) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    ::SendInput(1, &in, sizeof in);
}

namespace {
LRESULT CALLBACK parentProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    LRESULT result = 0;
    if (SuperButton::forwardFromParent(msg, wp, lp, result)) return result;
    if (msg == WM_ERASEBKGND) {
        RECT rc;
        ::GetClientRect(hwnd, &rc);
        ::FillRect(reinterpret_cast<HDC>(wp), &rc, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        return 1;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}
}  // namespace

TestParent::TestParent(int x, int y, int w, int h) {
    static const ATOM cls = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = parentProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
        wc.lpszClassName = L"QZ.TestParent";
        return ::RegisterClassW(&wc);
    }();
    (void)cls;
    hwnd_ = ::CreateWindowExW(WS_EX_TOPMOST, L"QZ.TestParent", L"test", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, x, y,
                              w, h, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SetForegroundWindow(hwnd_);
    pumpPending();
}

TestParent::~TestParent() {
    if (hwnd_) ::DestroyWindow(hwnd_);
    pumpPending();
}
