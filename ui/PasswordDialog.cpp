#include "ui/PasswordDialog.h"

#include "base/TextCodec.h"
#include "base/UniqueAny.h"
#include "ui/Dpi.h"
#include "ui/Scaling.h"

#include <array>
#include <cstring>

namespace {

constexpr wchar_t kClassName[] = L"QuilloZIP.Password";
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU, kExStyle = WS_EX_DLGMODALFRAME;
constexpr wchar_t kFirstQuestion[] = L"压缩包已加密，请输入密码：";
constexpr wchar_t kAgainQuestion[] = L"密码错误，请重新输入：";

// A control's id: 确定 and 取消 are IDOK and IDCANCEL, so that Enter and Esc
// reach them through the dialog manager; the others are numbered.
int controlId(const ControlSpec& c, size_t index) {
    if (std::strcmp(c.name, PasswordControl::kOk) == 0) return IDOK;
    if (std::strcmp(c.name, PasswordControl::kCancel) == 0) return IDCANCEL;
    return 100 + static_cast<int>(index);
}

int idOf(const char* name) {
    const auto controls = passwordDialogTable().controls;
    for (size_t i = 0; i < controls.size(); ++i) {
        if (std::strcmp(controls[i].name, name) == 0) return controlId(controls[i], i);
    }
    return 0;
}

// The dialog's window: built from its table, laid out at its DPI and again
// on WM_DPICHANGED, ended by 确定, 取消, Esc, its close box or its owner's end.
class PasswordWindow {
public:
    bool create(HWND owner, bool again);
    bool done() const { return done_; }
    HWND hwnd() const { return hwnd_; }
    std::optional<std::wstring> answer() const { return answer_; }

private:
    static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void OnCommand(int id);
    void OnDpiChanged(int dpi, const RECT& suggested);
    void layOut(int dpi);
    void finish(bool accepted);

    HWND hwnd_ = nullptr;
    bool done_ = false;
    std::optional<std::wstring> answer_;
    UniqueHfont font_;  // the GUI font at the dialog's DPI; empty at the system DPI
};

// The dialog's window rectangle at dpi, centred over what owner covers (the
// work area without one).
Rect placeOver(HWND owner, int dpi) {
    RECT over{};
    if (owner) ::GetWindowRect(owner, &over);
    else ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &over, 0);
    const DialogTable& table = passwordDialogTable();
    const Rect size = outerSizeAt(scaleForDpi(table.clientWidth, dpi), scaleForDpi(table.clientHeight, dpi), kStyle,
                                  kExStyle, dpi);
    return centreIn({over.left, over.top, over.right, over.bottom}, size.width(), size.height());
}

bool PasswordWindow::create(HWND owner, bool again) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = StaticWndProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kClassName;
    ::RegisterClassW(&wc);  // fails harmlessly when already registered

    // Made at the owner's DPI; the system gives it the DPI of the monitor it
    // lands on, and then it is placed again at that one.
    const DialogTable& table = passwordDialogTable();
    const int ownerDpi = owner ? windowDpi(owner) : monitorDpi(primaryMonitor());
    Rect at = placeOver(owner, ownerDpi);
    if (!::CreateWindowExW(kExStyle, kClassName, utf8ToWide(table.caption).c_str(), kStyle, at.left, at.top,
                           at.width(), at.height(), owner, nullptr, wc.hInstance, this))
        return false;
    const auto controls = table.controls;
    for (size_t i = 0; i < controls.size(); ++i) {
        const ControlSpec& c = controls[i];
        const bool edit = c.kind == ControlKind::Edit, button = c.kind == ControlKind::PushButton;
        DWORD style = WS_CHILD | WS_VISIBLE | (c.tabStop ? WS_TABSTOP : 0);
        if (edit) style |= ES_PASSWORD | ES_AUTOHSCROLL;
        if (button) style |= std::strcmp(c.name, PasswordControl::kOk) == 0 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        const std::wstring text = std::strcmp(c.name, PasswordControl::kQuestion) == 0
                                      ? std::wstring(again ? kAgainQuestion : kFirstQuestion)
                                      : utf8ToWide(c.caption);
        ::CreateWindowExW(edit ? WS_EX_CLIENTEDGE : 0, edit ? L"EDIT" : button ? L"BUTTON" : L"STATIC", text.c_str(),
                          style, 0, 0, 0, 0, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId(c, i))),
                          wc.hInstance, nullptr);
    }
    const int dpi = windowDpi(hwnd_);
    layOut(dpi);
    if (dpi != ownerDpi) {
        at = placeOver(owner, dpi);
        ::SetWindowPos(hwnd_, nullptr, at.left, at.top, at.width(), at.height(), SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return true;
}

// Every control at its scaled place with the font of that DPI.
void PasswordWindow::layOut(int dpi) {
    UniqueHfont old = std::move(font_);  // still set on the controls until they get the new one
    font_ = scaledGuiFont(dpi);
    const auto controls = passwordDialogTable().controls;
    for (size_t i = 0; i < controls.size(); ++i) {
        HWND control = ::GetDlgItem(hwnd_, controlId(controls[i], i));
        const Rect r = scaleBox(controls[i].box, dpi);
        ::SetWindowPos(control, nullptr, r.left, r.top, r.width(), r.height(), SWP_NOZORDER | SWP_NOACTIVATE);
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(guiFontOr(font_)), TRUE);
    }
}

void PasswordWindow::finish(bool accepted) {
    if (done_) return;
    if (accepted) {
        HWND edit = ::GetDlgItem(hwnd_, idOf(PasswordControl::kPassword));
        std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(edit)) + 1, L'\0');
        text.resize(static_cast<size_t>(::GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
        answer_ = std::move(text);
    }
    done_ = true;
}

LRESULT CALLBACK PasswordWindow::StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<PasswordWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<PasswordWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    // No exception may cross the window procedure: the question ends unanswered.
    try {
        return self->HandleMessage(msg, wParam, lParam);
    } catch (...) {
        self->done_ = true;
        return 0;
    }
}

LRESULT PasswordWindow::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND:
        OnCommand(LOWORD(wParam));
        return 0;
    case WM_CLOSE:
        finish(false);
        return 0;
    case WM_DESTROY:
        // Destroyed with its owner (a newer download rebuilds the main
        // window, the program ends): the question goes unanswered.
        finish(false);
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        hwnd_ = nullptr;
        return 0;
    case DM_GETDEFID:
        return MAKELRESULT(IDOK, DC_HASDEFID);
    case WM_DPICHANGED:
        if (lParam && HIWORD(wParam) > 0) OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    default:
        return ::DefWindowProcW(hwnd_, msg, wParam, lParam);
    }
}

void PasswordWindow::OnCommand(int id) {
    if (id == IDOK || id == IDCANCEL) finish(id == IDOK);
}

// Moved to a monitor of another DPI: the controls are laid out for it, then
// the window takes the rectangle the system suggests.
void PasswordWindow::OnDpiChanged(int dpi, const RECT& suggested) {
    layOut(dpi);
    ::SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                   suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

std::span<const DialogItem> passwordDialogItems() {
    static const auto items = [] {
        const auto controls = passwordDialogTable().controls;
        std::array<DialogItem, 4> out{};
        for (size_t i = 0; i < controls.size() && i < out.size(); ++i) out[i] = {controlId(controls[i], i), controls[i].box};
        return out;
    }();
    return items;
}

std::optional<std::wstring> askPassword(HWND owner, bool again) {
    PasswordWindow dialog;
    if (!dialog.create(owner, again)) return std::nullopt;
    HWND window = dialog.hwnd();

    // Modal: the owner takes no input until the dialog is answered.
    const bool ownerWasEnabled = owner && !::EnableWindow(owner, FALSE);
    ::ShowWindow(window, SW_SHOW);
    ::SetForegroundWindow(window);
    ::SetFocus(::GetDlgItem(window, idOf(PasswordControl::kPassword)));
    MSG msg;
    bool quit = false;
    while (!dialog.done()) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            quit = got == 0;
            break;
        }
        if (!dialog.hwnd() || !::IsDialogMessageW(dialog.hwnd(), &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    if (ownerWasEnabled && ::IsWindow(owner)) ::EnableWindow(owner, TRUE);
    if (dialog.hwnd()) ::DestroyWindow(dialog.hwnd());
    if (owner && ::IsWindow(owner)) ::SetForegroundWindow(owner);
    if (quit) ::PostQuitMessage(static_cast<int>(msg.wParam));  // the program's own loop ends it
    return dialog.answer();
}
