#include "ui/PasswordDialog.h"

#include <string_view>

namespace {

constexpr wchar_t kClassName[] = L"QuilloZIP.Password";
constexpr int kEditId = 100;

struct DialogState {
    bool done = false;
    std::optional<std::wstring> answer;
};

void finish(HWND hwnd, bool accepted) {
    auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!state || state->done) return;
    if (accepted) {
        HWND edit = GetDlgItem(hwnd, kEditId);
        std::wstring text(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
        text.resize(static_cast<size_t>(GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
        state->answer = std::move(text);
    }
    state->done = true;
}

LRESULT CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) finish(hwnd, LOWORD(wParam) == IDOK);
        return 0;
    case WM_CLOSE:
        finish(hwnd, false);
        return 0;
    case DM_GETDEFID:
        return MAKELRESULT(IDOK, DC_HASDEFID);
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

HWND addControl(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int id, RECT r, HFONT font) {
    HWND h = CreateWindowExW(cls == std::wstring_view(L"EDIT") ? WS_EX_CLIENTEDGE : 0, cls, text,
                             WS_CHILD | WS_VISIBLE | style, r.left, r.top, r.right, r.bottom, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return h;
}

}  // namespace

std::optional<std::wstring> askPassword(HWND owner, bool again) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = dialogProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kClassName;
    RegisterClassW(&wc);  // fails harmlessly when already registered

    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    RECT frame{0, 0, 300, 120};
    AdjustWindowRectEx(&frame, style, FALSE, WS_EX_DLGMODALFRAME);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    RECT over{};
    if (owner) GetWindowRect(owner, &over);
    else SystemParametersInfoW(SPI_GETWORKAREA, 0, &over, 0);
    HWND dialog = CreateWindowExW(WS_EX_DLGMODALFRAME, kClassName, L"输入密码", style,
                                  over.left + (over.right - over.left - width) / 2,
                                  over.top + (over.bottom - over.top - height) / 2, width, height, owner, nullptr,
                                  wc.hInstance, nullptr);
    if (!dialog) return std::nullopt;
    DialogState state;
    SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    const HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    addControl(dialog, L"STATIC", again ? L"密码错误，请重新输入：" : L"压缩包已加密，请输入密码：", 0, -1,
               {12, 12, 276, 18}, font);
    HWND edit = addControl(dialog, L"EDIT", L"", WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL, kEditId,
                           {12, 36, 276, 24}, font);
    addControl(dialog, L"BUTTON", L"确定", WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK, {120, 78, 80, 28}, font);
    addControl(dialog, L"BUTTON", L"取消", WS_TABSTOP | BS_PUSHBUTTON, IDCANCEL, {208, 78, 80, 28}, font);

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
