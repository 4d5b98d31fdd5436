#include "ui/Dpi.h"

namespace {

template <typename F>
F systemFunction(const wchar_t* module, const char* name) {
    HMODULE m = ::GetModuleHandleW(module);
    if (!m) m = ::LoadLibraryW(module);  // shcore is not loaded by default; it stays loaded
    return m ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(m, name))) : nullptr;
}

}  // namespace

int systemDpi() {
    static const int dpi = [] {
        HDC screen = ::GetDC(nullptr);
        const int d = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
        if (screen) ::ReleaseDC(nullptr, screen);
        return d > 0 ? d : 96;
    }();
    return dpi;
}

int windowDpi(HWND hwnd) {
    using Fn = UINT(WINAPI*)(HWND);
    static const Fn getDpiForWindow = systemFunction<Fn>(L"user32.dll", "GetDpiForWindow");
    const UINT dpi = getDpiForWindow && hwnd ? getDpiForWindow(hwnd) : 0;
    return dpi ? static_cast<int>(dpi) : systemDpi();
}

int monitorDpi(HMONITOR monitor) {
    using Fn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    static const Fn getDpiForMonitor = systemFunction<Fn>(L"shcore.dll", "GetDpiForMonitor");
    UINT x = 0, y = 0;
    // MDT_EFFECTIVE_DPI (0): the DPI the system gives a per-monitor aware window there.
    if (getDpiForMonitor && monitor && SUCCEEDED(getDpiForMonitor(monitor, 0, &x, &y)) && y) return static_cast<int>(y);
    return systemDpi();
}

Rect outerSizeAt(int width, int height, DWORD style, DWORD exStyle, int dpi) {
    using Fn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const Fn adjustForDpi = systemFunction<Fn>(L"user32.dll", "AdjustWindowRectExForDpi");
    RECT r{0, 0, width, height};
    // Without the function every window has the system DPI, as the plain one assumes.
    if (!adjustForDpi || !adjustForDpi(&r, style, FALSE, exStyle, static_cast<UINT>(dpi)))
        ::AdjustWindowRectEx(&r, style, FALSE, exStyle);
    return {0, 0, r.right - r.left, r.bottom - r.top};
}

Rect monitorArea(HMONITOR monitor, bool workArea) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!monitor || !::GetMonitorInfoW(monitor, &info))
        return {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    const RECT& r = workArea ? info.rcWork : info.rcMonitor;
    return {r.left, r.top, r.right, r.bottom};
}

HMONITOR primaryMonitor() { return ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY); }

Rect primaryWorkArea() {
    RECT r;
    if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0)) return monitorArea(primaryMonitor(), true);
    return {r.left, r.top, r.right, r.bottom};
}

UniqueHfont scaledGuiFont(int dpi) {
    if (dpi == systemDpi()) return {};
    // The stock font is made for the system DPI.
    LOGFONTW lf{};
    if (!::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf)) return {};
    lf.lfHeight = ::MulDiv(lf.lfHeight, dpi, systemDpi());
    lf.lfWidth = ::MulDiv(lf.lfWidth, dpi, systemDpi());
    return UniqueHfont(::CreateFontIndirectW(&lf));
}

HFONT guiFontOr(const UniqueHfont& scaled) {
    return scaled ? scaled.get() : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
}
