#include "ui/PasswordDialog.h"

#include "base/UniqueAny.h"
#include "ui/Dpi.h"
#include "ui/Scaling.h"

namespace {

constexpr wchar_t kClassName[] = L"QuilloZIP.Password";
constexpr int kLineId = 101, kEditId = 100;
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU, kExStyle = WS_EX_DLGMODALFRAME;

struct DialogControl {
    DialogItem item;
    const wchar_t* cls;
    DWORD style;
    const wchar_t* caption;  // null: the line, which depends on the question
};
constexpr DialogControl kControls[] = {
    {{kLineId, {12, 12, 276, 18}}, L"STATIC", 0, nullptr},
    {{kEditId, {12, 36, 276, 24}}, L"EDIT", WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL, L""},
    {{IDOK, {120, 78, 80, 28}}, L"BUTTON", WS_TABSTOP | BS_DEFPUSHBUTTON, L"确定"},
    {{IDCANCEL, {208, 78, 80, 28}}, L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, L"取消"},
};
constexpr DialogItem kItems[] = {kControls[0].item, kControls[1].item, kControls[2].item, kControls[3].item};

struct DialogState {
    bool done = false;
    std::optional<std::wstring> answer;
    int dpi = kDesignDpi;
    UniqueHfont font;  // the GUI font at dpi; empty at the system DPI
};

DialogState* stateOf(HWND hwnd) { return reinterpret_cast<DialogState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)); }

// Every control at its scaled place with the font of that DPI.
void layOut(HWND hwnd, DialogState& state, int dpi) {
    UniqueHfont old = std::move(state.font);  // still set on the controls until they get the new one
    state.dpi = dpi;
    state.font = scaledGuiFont(dpi);
    for (const DialogControl& c : kControls) {
        HWND control = GetDlgItem(hwnd, c.item.id);
        const Rect r = scaleBox(c.item.box, dpi);
        SetWindowPos(control, nullptr, r.left, r.top, r.width(), r.height(), SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(guiFontOr(state.font)), TRUE);
    }
}

void finish(HWND hwnd, bool accepted) {
    DialogState* state = stateOf(hwnd);
    if (!state || state->done) return;
    if (accepted) {
        HWND edit = GetDlgItem(hwnd, kEditId);
        std::wstring text(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
        text.resize(static_cast<size_t>(GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
        state->answer = std::move(text);
    }
    state->done = true;
}

LRESULT handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) finish(hwnd, LOWORD(wParam) == IDOK);
        return 0;
    case WM_CLOSE:
        finish(hwnd, false);
        return 0;
    case WM_DESTROY:
        // Destroyed with its owner (a newer download rebuilds the main
        // window, the program ends): the question goes unanswered.
        finish(hwnd, false);
        return 0;
    case DM_GETDEFID:
        return MAKELRESULT(IDOK, DC_HASDEFID);
    case WM_DPICHANGED:
        // Moved to a monitor of another DPI: the controls are laid out for
        // it, then the window takes the rectangle the system suggests.
        if (DialogState* state = stateOf(hwnd); state && lParam && HIWORD(wParam) > 0) {
            layOut(hwnd, *state, HIWORD(wParam));
            const RECT& r = *reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
        }
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

LRESULT CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // No exception may cross the window procedure: the question ends unanswered.
    try {
        return handleMessage(hwnd, message, wParam, lParam);
    } catch (...) {
        if (DialogState* state = stateOf(hwnd)) state->done = true;
        return 0;
    }
}

// The dialog's window rectangle at dpi, centred over what owner covers (the
// work area without one).
Rect placeOver(HWND owner, int dpi) {
    RECT over{};
    if (owner) GetWindowRect(owner, &over);
    else SystemParametersInfoW(SPI_GETWORKAREA, 0, &over, 0);
    const Rect size = outerSizeAt(scaleForDpi(kPasswordDialogWidth, dpi), scaleForDpi(kPasswordDialogHeight, dpi),
                                  kStyle, kExStyle, dpi);
    return centreIn({over.left, over.top, over.right, over.bottom}, size.width(), size.height());
}

}  // namespace

std::span<const DialogItem> passwordDialogItems() { return kItems; }

std::optional<std::wstring> askPassword(HWND owner, bool again) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = dialogProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kClassName;
    RegisterClassW(&wc);  // fails harmlessly when already registered

    // Made at the owner's DPI; the system gives it the DPI of the monitor
    // it lands on, and then it is placed again at that one.
    const int ownerDpi = owner ? windowDpi(owner) : monitorDpi(primaryMonitor());
    Rect at = placeOver(owner, ownerDpi);
    HWND dialog = CreateWindowExW(kExStyle, kClassName, L"输入密码", kStyle, at.left, at.top, at.width(), at.height(),
                                  owner, nullptr, wc.hInstance, nullptr);
    if (!dialog) return std::nullopt;
    DialogState state;
    SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    for (const DialogControl& c : kControls) {
        const wchar_t* text = c.caption ? c.caption : again ? L"密码错误，请重新输入：" : L"压缩包已加密，请输入密码：";
        CreateWindowExW(c.item.id == kEditId ? WS_EX_CLIENTEDGE : 0, c.cls, text, WS_CHILD | WS_VISIBLE | c.style, 0, 0,
                        0, 0, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.item.id)), wc.hInstance, nullptr);
    }
    const int dpi = windowDpi(dialog);
    layOut(dialog, state, dpi);
    if (dpi != ownerDpi) {
        at = placeOver(owner, dpi);
        SetWindowPos(dialog, nullptr, at.left, at.top, at.width(), at.height(), SWP_NOZORDER | SWP_NOACTIVATE);
    }
    HWND edit = GetDlgItem(dialog, kEditId);

    // Modal: the owner takes no input until the dialog is answered.
    const bool ownerWasEnabled = owner && !EnableWindow(owner, FALSE);
    ShowWindow(dialog, SW_SHOW);
    SetForegroundWindow(dialog);
    SetFocus(edit);
    MSG msg;
    bool quit = false;
    while (!state.done) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            quit = got == 0;
            break;
        }
        if (!IsDialogMessageW(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (ownerWasEnabled) EnableWindow(owner, TRUE);
    SetWindowLongPtrW(dialog, GWLP_USERDATA, 0);
    DestroyWindow(dialog);
    if (owner) SetForegroundWindow(owner);
    if (quit) PostQuitMessage(static_cast<int>(msg.wParam));  // the program's own loop ends it
    return state.answer;
}
