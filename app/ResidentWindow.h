// The program's own hidden top-level window, of window class
// "QuilloZIP.Resident" (never shown, not message-only, so that FindWindow
// finds it and the system's device broadcasts reach it):
// - WM_CLOSE sent to it by another process (the installer, the uninstaller)
//   ends the program as "退出" does: an extraction in progress is cancelled
//   and waited for, so no partial file stays behind. While a modal folder
//   browser is open the request waits until it closes (QuitDeferral).
// - WM_ENDSESSION (log-off, shut-down) ends the program the same way at
//   once, before the system ends the process; WM_QUERYENDSESSION says yes.
// - WM_DEVICECHANGE tells it about drives that come and go, and a timer
//   gives the drive list a cheap look every few seconds for drives that
//   announce nothing (a network drive mapped by another program).
// - WM_COPYDATA with the open record's tag carries a later start's
//   arguments (see OpenRequest); the bytes are handed on only while the
//   message lasts, and the sender is told whether they were taken.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>

constexpr wchar_t kResidentWindowClass[] = L"QuilloZIP.Resident";

struct ResidentHandlers {
    void (*quit)() = nullptr;              // WM_CLOSE and WM_ENDSESSION: end the program
    void (*poll)() = nullptr;              // every kDrivePollMs
    void (*drivesChanged)() = nullptr;     // a volume arrived or went, a removal was cancelled or completed
    void (*releaseDevice)(HDEVNOTIFY) = nullptr;  // a registered handle's device is about to be removed
    bool (*openRecord)(std::span<const uint8_t>) = nullptr;  // WM_COPYDATA from a later start: taken?
};

constexpr UINT kDrivePollMs = 2000;

// Made and destroyed on the GUI thread; the handlers run on it.
bool openResidentWindow(const ResidentHandlers& handlers);
void closeResidentWindow();
HWND residentWindow();  // nullptr when not open

// While one of these lives, a request to end the program is held back; the
// last one to go carries it out.
class QuitDeferral {
public:
    QuitDeferral();
    ~QuitDeferral();
    QuitDeferral(const QuitDeferral&) = delete;
    QuitDeferral& operator=(const QuitDeferral&) = delete;
};
