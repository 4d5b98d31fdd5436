// The DPI of windows and monitors, their areas, and the default GUI font at
// a DPI. The per-monitor functions of newer systems are looked up at run
// time (Windows 7 has none of them); without them every window and monitor
// has the system DPI.
#pragma once

#include "base/UniqueAny.h"
#include "ui/Rect.h"

#include <windows.h>

int systemDpi();
int windowDpi(HWND hwnd);
int monitorDpi(HMONITOR monitor);

// The window size that gives a client area of width x height at this DPI,
// with the frame of the style as drawn at that DPI.
Rect outerSizeAt(int width, int height, DWORD style, DWORD exStyle, int dpi);

// The monitor's whole rectangle, or its work area (without the taskbar).
Rect monitorArea(HMONITOR monitor, bool workArea);
// The monitor that holds the taskbar's notification area, and its work area.
HMONITOR primaryMonitor();
Rect primaryWorkArea();

// The default GUI font at this DPI: empty at the system DPI, where the stock
// object itself is the font; otherwise a copy of it scaled to this DPI.
UniqueHfont scaledGuiFont(int dpi);
// The default GUI font for drawing at this DPI: `scaled` when there is one.
HFONT guiFontOr(const UniqueHfont& scaled);
