// Helpers for the tests that open real windows under Wine: waiting for
// messages with a deadline, reading the screen, saving screenshots, moving
// the mouse, and a plain parent window for loose super buttons.
#pragma once

#include "ui/Colour.h"
#include "ui/Image.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

bool haveDisplay();
#define REQUIRE_DISPLAY() \
    if (!haveDisplay()) GTEST_SKIP() << "no X display: run through scripts/test.sh or set DISPLAY"

// Dispatches messages until `done` holds or the deadline passes (generous:
// Wine and Xvfb can be slow on a loaded machine). WM_QUIT is dropped: the
// forms post it when their last window closes.
bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 10000);
// Dispatches what is queued now, without waiting for more.
void pumpPending();

// Objects this process holds, comparable between two calls. The system's
// own count (GetGuiResources) where it keeps one; Wine answers 0 there, so
// GDI objects are then counted by filling the free handle slots, and USER
// objects by the windows of this thread.
long gdiObjectsInUse();
long userObjectsInUse();

// Screen pixels of a rectangle in screen coordinates.
Image captureScreen(const RECT& screenRect);
// The client area of a window, as it is on the screen.
Image captureClient(HWND hwnd);
// Waits until the client pixel at (x, y) has the colour; returns the last colour seen.
ColourRef waitForClientPixel(HWND hwnd, int x, int y, ColourRef expected, int timeoutMs = 10000);
ColourRef pixelAt(const Image& image, int x, int y);
// The pixels of a top-down 32-bit DIB section, after GDI has finished drawing.
Image readDib(HBITMAP dib);
std::string colourText(ColourRef c);

// Writes a PNG under $QZ_BINARY_DIR/artifacts/ and returns its path.
std::string saveArtifact(const Image& image, const std::string& name);

// Moves the pointer through the input queue, as the user would.
void moveMouseTo(int screenX, int screenY);
void mouseButton(bool down);
POINT clientToScreen(HWND hwnd, int x, int y);

// A visible top-level window that forwards to its super buttons.
class TestParent {
public:
    TestParent(int x = 60, int y = 60, int w = 320, int h = 200);
    ~TestParent();
    HWND hwnd() const { return hwnd_; }

private:
    HWND hwnd_ = nullptr;
};
