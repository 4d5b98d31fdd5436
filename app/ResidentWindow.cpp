#include "app/ResidentWindow.h"

#include "app/OpenRequest.h"

#include <dbt.h>

#include <utility>

namespace {

constexpr UINT_PTR kPollTimer = 1;

// GUI thread only.
HWND resident = nullptr;
ResidentHandlers handlers;
int deferrals = 0;
bool quitHeldBack = false;

void quit() {
    if (deferrals > 0) {
        quitHeldBack = true;
        return;
    }
    if (handlers.quit) handlers.quit();
}

LRESULT onDeviceChange(WPARAM event, LPARAM data) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    const DWORD type = header ? header->dbch_devicetype : 0;
    switch (event) {
    case DBT_DEVICEQUERYREMOVE:
        // Let go of the drive so that it can be ejected safely.
        if (type == DBT_DEVTYP_HANDLE && handlers.releaseDevice)
            handlers.releaseDevice(reinterpret_cast<const DEV_BROADCAST_HANDLE*>(data)->dbch_hdevnotify);
        break;
    case DBT_DEVICEARRIVAL:
    case DBT_DEVICEREMOVECOMPLETE:
    case DBT_DEVICEQUERYREMOVEFAILED:
        if ((type == DBT_DEVTYP_VOLUME || type == DBT_DEVTYP_HANDLE) && handlers.drivesChanged) handlers.drivesChanged();
        break;
    default:
        break;
    }
    return TRUE;
}

LRESULT CALLBACK residentProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // No exception may cross the window procedure.
    try {
        switch (message) {
        case WM_CLOSE:
            quit();
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            // The process may end as soon as this returns: nothing is held back.
            if (wParam && handlers.quit) handlers.quit();
            return 0;
        case WM_TIMER:
            if (wParam == kPollTimer && handlers.poll) handlers.poll();
            return 0;
        case WM_DEVICECHANGE:
            return onDeviceChange(wParam, lParam);
        case WM_COPYDATA: {
            // Anyone may send this: only our tag is read, and the record is checked before use.
            const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            if (!data || data->dwData != kOpenRecordTag || !handlers.openRecord) return FALSE;
            if (data->cbData > 0 && !data->lpData) return FALSE;
            return handlers.openRecord({static_cast<const uint8_t*>(data->lpData), data->cbData}) ? TRUE : FALSE;
        }
        default:
            break;
        }
    } catch (...) {
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

bool openResidentWindow(const ResidentHandlers& h) {
    if (resident) return true;
    WNDCLASSW wc{};
    wc.lpfnWndProc = residentProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kResidentWindowClass;
    RegisterClassW(&wc);  // fails harmlessly when already registered
    // A pop-up that is never shown: on no taskbar, under no owner.
    resident = CreateWindowExW(WS_EX_TOOLWINDOW, kResidentWindowClass, L"QuilloZIP", WS_POPUP, 0, 0, 0, 0, nullptr,
                               nullptr, wc.hInstance, nullptr);
    if (!resident) return false;
    handlers = h;
    SetTimer(resident, kPollTimer, kDrivePollMs, nullptr);
    return true;
}

void closeResidentWindow() {
    if (!resident) return;
    KillTimer(resident, kPollTimer);
    DestroyWindow(std::exchange(resident, nullptr));
    handlers = {};
}

HWND residentWindow() { return resident; }

QuitDeferral::QuitDeferral() { ++deferrals; }

QuitDeferral::~QuitDeferral() {
    if (--deferrals > 0 || !quitHeldBack || !resident) return;
    quitHeldBack = false;
    // Carried out from the message loop, after the handler that held it back has returned.
    PostMessageW(resident, WM_CLOSE, 0, 0);
}
