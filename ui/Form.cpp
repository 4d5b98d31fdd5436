// Builds a window from its table and runs it: one window class for both
// windows, `this` stored at WM_NCCREATE, typed OnXxx handlers, and the
// bound events raised to the application. The tables are designed at 96
// DPI; every length is scaled to the window's DPI, and laid out again when
// the window moves to a monitor of another DPI.
#include "ui/Forms.h"

#include "base/TextCodec.h"
#include "base/UniqueAny.h"
#include "resources/ResourceIds.h"
#include "ui/Dpi.h"
#include "ui/FatalError.h"
#include "ui/GdiImage.h"
#include "ui/Scaling.h"
#include "ui/SuperButton.h"
#include "ui/TrayTip.h"

#include <shellapi.h>
#include <windowsx.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr wchar_t kFormClass[] = L"QuilloZIP.Form";
constexpr int kFirstControlId = 1000;
constexpr UINT kCodePageGbk = 936;

std::vector<EventBinding> g_bindings;
bool g_ending = false;
std::vector<std::wstring> g_droppedFiles;  // the drop being raised

// True when a bound operation ran.
bool raise(FormId form, const char* source, FormEvent event, int arg = 0) {
    // Copied: an operation may bind events anew.
    const std::vector<EventBinding> bindings = g_bindings;
    bool ran = false;
    for (const EventBinding& b : bindings) {
        if (b.form != form || b.event != event || !b.operation) continue;
        const bool sameSource = (!b.source && !source) || (b.source && source && std::strcmp(b.source, source) == 0);
        if (sameSource) {
            b.operation(arg);
            ran = true;
        }
    }
    return ran;
}

UniqueHfont createLogicalFont(const FontSpec& f, int dpi) {
    return UniqueHfont(::CreateFontW(scaleForDpi(f.height, dpi), 0, 0, 0, f.weight, FALSE, FALSE, FALSE, GB2312_CHARSET,
                                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                     DEFAULT_PITCH | FF_DONTCARE, L""));
}

// The settings the program's super buttons share; the table gives the rest.
// The image is the one drawn nearest to the DPI.
ButtonSettings buttonSettingsFor(const ControlSpec& c, int dpi) {
    ButtonSettings s;
    const ButtonSpec& b = *c.button;
    s.style = b.style;
    s.caption = c.caption;
    s.systemColours = false;
    s.normalText = b.normalText;
    s.normalBack = b.normalBack;
    s.hoverText = b.hoverText;
    s.hoverBack = b.hoverBack;
    s.focusText = b.focusText;
    s.focusBack = b.focusBack;
    if (b.imageResource) {
        std::span<const uint8_t> bytes = resourceBytes(imageResourceFor(b.imageResource, dpi));
        s.image.assign(bytes.begin(), bytes.end());
    }
    return s;
}

std::wstring windowText(HWND hwnd) {
    const int len = ::GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<size_t>(len) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(hwnd, text.data(), len + 1)));
    return text;
}

class Form {
public:
    explicit Form(const FormTable& spec) : spec_(spec) {}

    static Form* get(FormId id) { return forms()[static_cast<int>(id)].get(); }
    static bool load(FormId id);
    static void destroyed(Form* form);
    // Empties the form's slot; frees it now, or when the last Hold ends.
    static void unload(Form* form);

    // Keeps the form alive while its code runs. Its window may go meanwhile:
    // while this thread waits in a send to another thread (showing or
    // activating a window does), it handles the messages others send it, a
    // WM_CLOSE among them. The form then leaves its slot at once and is
    // freed when the outermost hold ends.
    class Hold {
    public:
        explicit Hold(Form* form) : form_(form) { ++form_->holds_; }
        ~Hold() {
            if (--form_->holds_ == 0 && form_->closed_) delete form_;
        }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        Form* form_;
    };
    static bool anyLoaded() {
        for (auto& f : forms())
            if (f) return true;
        return false;
    }

    HWND hwnd() const { return hwnd_; }
    const FormTable& spec() const { return spec_; }
    HWND control(const char* name) const {
        const Control* c = find(name);
        return c ? c->hwnd : nullptr;
    }
    void setTextColour(const char* name, std::optional<ColourRef> colour) {
        for (Control& c : controls_) {
            if (!name || std::strcmp(c.spec->name, name) != 0) continue;
            c.textColour = colour;
            ::InvalidateRect(c.hwnd, nullptr, TRUE);
        }
    }
    bool setTrayIcon(UniqueHicon icon, std::wstring_view tip);
    bool removeTrayIcon();
    bool showTrayIcon();
    void popupMenu(const char* topItem);

private:
    struct Control {
        const ControlSpec* spec = nullptr;
        HWND hwnd = nullptr;
        std::unique_ptr<SuperButton> button;
        UniqueHfont font;
        UniqueHbitmap picture;
        UniqueHbrush back;
        std::optional<ColourRef> textColour;  // a label's colour set at run time, over the table's
    };

    static std::unique_ptr<Form> (&forms())[kFormCount] {
        static std::unique_ptr<Form> all[kFormCount];
        return all;
    }
    static bool registerClass();
    static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);

    bool create();
    HMONITOR homeMonitor() const;
    void createControl(const ControlSpec& spec, int index, HWND& previous);
    void fitControl(Control& c);
    HFONT guiFont() const { return guiFontOr(guiFont_); }
    const Control* find(const char* name) const;
    const Control* findHwnd(HWND hwnd) const;
    bool notifyTray(DWORD op);

    BOOL OnEraseBkgnd(HDC dc);
    void OnDrawItem(const DRAWITEMSTRUCT* dis);
    HBRUSH OnCtlColorListBox(HDC dc, HWND list);
    void OnActivate(UINT state);
    void OnDpiChanged(int dpi, const RECT& suggested);
    void OnTrayMessage(UINT mouseMessage);
    void OnDropFiles(HDROP drop);
    void OnDestroy();

    const FormTable& spec_;
    HWND hwnd_ = nullptr;
    int dpi_ = kDesignDpi;
    UniqueHfont guiFont_;  // the default GUI font scaled to dpi_; empty at the system DPI
    std::vector<Control> controls_;
    UniqueHbrush background_;
    UniqueHicon bigIcon_, smallIcon_;
    UniqueHicon trayIcon_;
    std::wstring trayTip_;
    bool trayShown_ = false;
    int holds_ = 0;        // Holds on the stack
    bool closed_ = false;  // out of its slot, freed by the last Hold
};

UINT taskbarCreatedMessage() {
    static const UINT msg = ::RegisterWindowMessageW(L"TaskbarCreated");
    return msg;
}

bool Form::registerClass() {
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = StaticWndProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512) /* IDC_ARROW */);
        wc.lpszClassName = kFormClass;
        return ::RegisterClassExW(&wc) != 0;
    }();
    return registered;
}

bool Form::load(FormId id) {
    if (Form* existing = get(id)) {
        if (::IsIconic(existing->hwnd_)) ::ShowWindow(existing->hwnd_, SW_RESTORE);
        ::SetForegroundWindow(existing->hwnd_);
        return true;
    }
    auto& slot = forms()[static_cast<int>(id)];
    slot = std::make_unique<Form>(formTable(id));
    Form* form = slot.get();
    const Hold hold(form);
    if (!form->create()) {
        if (form->hwnd_) ::DestroyWindow(form->hwnd_);  // WM_NCDESTROY empties the slot
        else unload(form);
        return false;
    }
    raise(id, nullptr, FormEvent::Created);
    // The created handler may have closed the window again.
    if (get(id) != form) return false;
    if (form->spec_.visible) {
        ::ShowWindow(form->hwnd_, SW_SHOW);
        ::UpdateWindow(form->hwnd_);
    }
    return true;
}

bool Form::create() {
    if (!registerClass()) return false;
    taskbarCreatedMessage();
    background_.reset(::CreateSolidBrush(spec_.background));

    // Centred on its monitor, at the size the monitor's DPI gives.
    HMONITOR monitor = homeMonitor();
    const Rect area = monitorArea(monitor, false);
    auto outerAt = [&](int dpi) {
        return centreIn(area, scaleForDpi(spec_.width, dpi), scaleForDpi(spec_.height, dpi));
    };
    Rect outer = outerAt(monitorDpi(monitor));
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_CONTROLPARENT | (spec_.topmost ? WS_EX_TOPMOST : 0);
    HWND hwnd = ::CreateWindowExW(exStyle, kFormClass, utf8ToWide(spec_.caption).c_str(), style, outer.left, outer.top,
                                  outer.width(), outer.height(), nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
    if (!hwnd) return false;
    // Stored at WM_NCCREATE; set here too in case creation went another way.
    hwnd_ = hwnd;
    dpi_ = windowDpi(hwnd_);
    guiFont_ = scaledGuiFont(dpi_);
    outer = outerAt(dpi_);

    RECT wr;
    ::GetWindowRect(hwnd_, &wr);
    if (wr.left != outer.left || wr.top != outer.top || wr.right - wr.left != outer.width() ||
        wr.bottom - wr.top != outer.height())
        ::SetWindowPos(hwnd_, nullptr, outer.left, outer.top, outer.width(), outer.height(),
                       SWP_NOZORDER | SWP_NOACTIVATE);
    if (spec_.topmost) ::SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    std::span<const uint8_t> ico = resourceBytes(spec_.iconResource);
    bigIcon_ = iconFromIco(ico, ::GetSystemMetrics(SM_CXICON));
    smallIcon_ = iconFromIco(ico, ::GetSystemMetrics(SM_CXSMICON));
    ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
    ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
    ::SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(guiFont()), FALSE);

    controls_.reserve(spec_.controls.size());
    HWND previous = nullptr;
    for (size_t i = 0; i < spec_.controls.size(); i++) createControl(spec_.controls[i], static_cast<int>(i), previous);
    if (spec_.acceptsFiles) ::DragAcceptFiles(hwnd_, TRUE);
    return true;
}

// A window opens on the monitor of the program's other window, so the main
// window comes up where the reminder was; else on the primary monitor.
HMONITOR Form::homeMonitor() const {
    for (auto& other : forms())
        if (other && other.get() != this && other->hwnd_) return ::MonitorFromWindow(other->hwnd_, MONITOR_DEFAULTTOPRIMARY);
    return primaryMonitor();
}

void Form::createControl(const ControlSpec& spec, int index, HWND& previous) {
    Control c;
    c.spec = &spec;
    if (spec.kind == ControlKind::Component) {  // placed on the window, never drawn
        controls_.push_back(std::move(c));
        return;
    }
    const int id = kFirstControlId + index;
    const Rect b = scaleBox(spec.box, dpi_);

    if (spec.kind == ControlKind::SuperButton) {
        ButtonWindow where{b, id, spec.visible, false, spec.tabStop, dpi_};
        c.button = SuperButton::create(hwnd_, where, buttonSettingsFor(spec, dpi_));
        if (!c.button) return;
        c.hwnd = c.button->hwnd();
        const FormId formId = spec_.id;
        const char* name = spec.name;
        c.button->setClickHandler([formId, name] { raise(formId, name, FormEvent::Clicked); });
    } else {
        const wchar_t* cls = L"STATIC";
        DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (spec.visible ? WS_VISIBLE : 0) | (spec.tabStop ? WS_TABSTOP : 0);
        switch (spec.kind) {
        case ControlKind::Label:
        case ControlKind::PictureBox:
            style |= SS_OWNERDRAW;  // drawn by OnDrawItem
            break;
        case ControlKind::ListBox:
            cls = L"LISTBOX";
            style |= WS_VSCROLL | LBS_NOTIFY | LBS_USETABSTOPS | LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS;
            c.back.reset(::CreateSolidBrush(spec.back));
            break;
        case ControlKind::PushButton:
            cls = L"BUTTON";
            style |= BS_PUSHBUTTON | BS_LEFT | BS_VCENTER | BS_MULTILINE;
            break;
        default:
            break;
        }
        c.hwnd = ::CreateWindowExW(0, cls, utf8ToWide(spec.caption).c_str(), style, b.left, b.top, b.width(),
                                   b.height(), hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   ::GetModuleHandleW(nullptr), nullptr);
        if (!c.hwnd) return;
        fitControl(c);
    }
    // Stacking order is table order: each control goes below the one before.
    ::SetWindowPos(c.hwnd, previous ? previous : HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    previous = c.hwnd;
    controls_.push_back(std::move(c));
}

// The font, picture and row height of a control other than a super button,
// for the window's DPI.
void Form::fitControl(Control& c) {
    const ControlSpec& spec = *c.spec;
    UniqueHfont font = spec.font.isDefault() ? UniqueHfont() : createLogicalFont(spec.font, dpi_);
    ::SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font ? font.get() : guiFont()), FALSE);
    c.font = std::move(font);  // the old one only now: the control held it until here
    if (spec.kind == ControlKind::ListBox) {
        // One pixel (scaled) more than the font's standard row height, which
        // the list measures anew whenever it is given a font.
        LRESULT rowHeight = ::SendMessageW(c.hwnd, LB_GETITEMHEIGHT, 0, 0);
        if (rowHeight > 0)
            ::SendMessageW(c.hwnd, LB_SETITEMHEIGHT, 0, MAKELPARAM(rowHeight + scaleForDpi(1, dpi_), 0));
    }
    if (spec.kind == ControlKind::PictureBox && spec.imageResource) {
        Image image = decodeImage(resourceBytes(imageResourceFor(spec.imageResource, dpi_)));
        compositeOver(image, spec.back);
        c.picture = createDib(image);
    }
}

const Form::Control* Form::find(const char* name) const {
    if (!name) return nullptr;
    for (const Control& c : controls_)
        if (std::strcmp(c.spec->name, name) == 0) return &c;
    return nullptr;
}

const Form::Control* Form::findHwnd(HWND hwnd) const {
    for (const Control& c : controls_)
        if (c.hwnd && c.hwnd == hwnd) return &c;
    return nullptr;
}

void Form::unload(Form* form) {
    for (auto& slot : forms()) {
        if (slot.get() != form) continue;
        if (form->holds_ > 0) {
            form->closed_ = true;
            slot.release();  // the last Hold frees it
        } else {
            slot.reset();
        }
    }
}

void Form::destroyed(Form* form) {
    unload(form);
    // The program ends with its last window, unless endProgram is already
    // ending it with its own exit code.
    if (!anyLoaded() && !g_ending) ::PostQuitMessage(0);
}

LRESULT CALLBACK Form::StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Form* self = nullptr;
    if (msg == WM_NCCREATE) {
        self = static_cast<Form*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<Form*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (!self) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        LRESULT result = ::DefWindowProcW(hwnd, msg, wParam, lParam);
        self->hwnd_ = nullptr;
        destroyed(self);  // frees the form: fonts, bitmaps, brushes and icons
        return result;
    }
    try {
        const Hold hold(self);
        return self->HandleMessage(msg, wParam, lParam);
    } catch (...) {
        // An operation that throws must not unwind through the system.
        return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

LRESULT Form::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    // Super buttons draw themselves and handle their own clicks. Nothing of
    // `this` is touched after this call: a click handler may close the window.
    if (SuperButton::forwardFromParent(msg, wParam, lParam, result)) return result;
    switch (msg) {
    case WM_ERASEBKGND:
        return OnEraseBkgnd(reinterpret_cast<HDC>(wParam));
    case WM_DRAWITEM:
        OnDrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_CTLCOLORLISTBOX:
        return reinterpret_cast<LRESULT>(OnCtlColorListBox(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
    case WM_ACTIVATE:
        OnActivate(LOWORD(wParam));
        break;
    case WM_DPICHANGED:
        if (lParam) OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case tray::kCallbackMessage:
        if (wParam == tray::kIconId) OnTrayMessage(LOWORD(lParam));
        return 0;
    case WM_CLOSE:
        if (raise(spec_.id, nullptr, FormEvent::CloseBox)) return 0;
        break;
    case WM_DROPFILES:
        OnDropFiles(reinterpret_cast<HDROP>(wParam));
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    default:
        if (msg == taskbarCreatedMessage() && trayIcon_) {
            // Explorer restarted: its notification area is new and empty.
            trayShown_ = false;
            showTrayIcon();
            return 0;
        }
        break;
    }
    return ::DefWindowProcW(hwnd_, msg, wParam, lParam);
}

BOOL Form::OnEraseBkgnd(HDC dc) {
    RECT rc;
    ::GetClientRect(hwnd_, &rc);
    ::FillRect(dc, &rc, background_.get());
    return TRUE;
}

void Form::OnDrawItem(const DRAWITEMSTRUCT* dis) {
    const Control* c = dis ? findHwnd(dis->hwndItem) : nullptr;
    if (!c) return;
    HDC dc = dis->hDC;
    RECT rc = dis->rcItem;
    UniqueHbrush back(::CreateSolidBrush(c->spec->back));
    ::FillRect(dc, &rc, back.get());
    if (c->spec->kind == ControlKind::PictureBox) {
        // The image was composited over the box's background when loaded;
        // it is drawn at natural size at the top-left corner.
        BITMAP bm{};
        if (c->picture && ::GetObjectW(c->picture.get(), sizeof bm, &bm)) {
            UniqueHdc mem(::CreateCompatibleDC(dc));
            SelectGuard sel(mem.get(), c->picture.get());
            ::BitBlt(dc, rc.left, rc.top, bm.bmWidth, bm.bmHeight, mem.get(), 0, 0, SRCCOPY);
        }
        return;
    }
    // A label: one line, left-aligned, vertically centred, cut at its edges;
    // "&" is shown as itself.
    SelectGuard font(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(c->hwnd, WM_GETFONT, 0, 0)));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, c->textColour.value_or(c->spec->text));
    std::wstring text = windowText(c->hwnd);
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rc, DT_SINGLELINE | DT_LEFT | DT_VCENTER | DT_NOPREFIX);
}

HBRUSH Form::OnCtlColorListBox(HDC dc, HWND list) {
    const Control* c = findHwnd(list);
    if (!c || !c->back) return reinterpret_cast<HBRUSH>(::DefWindowProcW(hwnd_, WM_CTLCOLORLISTBOX, (WPARAM)dc, (LPARAM)list));
    ::SetTextColor(dc, c->spec->text);
    ::SetBkColor(dc, c->spec->back);
    return c->back.get();
}

void Form::OnActivate(UINT state) {
    if (state != WA_INACTIVE) return;
    for (Control& c : controls_)
        if (c.button) c.button->clearHover();
}

// Moved to a monitor of another DPI (or its scaling changed): every control
// is laid out again from the table, then the window takes the rectangle the
// system suggests for it.
void Form::OnDpiChanged(int dpi, const RECT& suggested) {
    if (dpi <= 0) return;
    dpi_ = dpi;
    UniqueHfont oldGuiFont = std::move(guiFont_);  // still set on controls until they get the new one
    guiFont_ = scaledGuiFont(dpi_);
    ::SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(guiFont()), FALSE);
    for (Control& c : controls_) {
        if (!c.hwnd) continue;
        const Rect r = scaleBox(c.spec->box, dpi_);
        if (c.button) {
            c.button->setDpi(dpi_, r);
            c.button->setSettings(buttonSettingsFor(*c.spec, dpi_));
            continue;
        }
        ::SetWindowPos(c.hwnd, nullptr, r.left, r.top, r.width(), r.height(), SWP_NOZORDER | SWP_NOACTIVATE);
        fitControl(c);
    }
    ::SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                   suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    // Controls that grew in place would keep their old pixels.
    ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

void Form::OnTrayMessage(UINT mouseMessage) {
    int op = 0;
    switch (mouseMessage) {
    case WM_LBUTTONUP: op = tray::kLeftUp; break;
    case WM_LBUTTONDBLCLK: op = tray::kLeftDoubleClick; break;
    case WM_RBUTTONUP:
    case WM_CONTEXTMENU: op = tray::kRightUp; break;
    default: return;  // other mouse messages raise nothing
    }
    raise(spec_.id, nullptr, FormEvent::TrayIcon, op);
}

void Form::OnDropFiles(HDROP drop) {
    std::vector<std::wstring> paths;
    const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = ::DragQueryFileW(drop, i, nullptr, 0);
        if (length == 0) continue;
        std::wstring path(length + 1, L'\0');
        path.resize(::DragQueryFileW(drop, i, path.data(), length + 1));
        if (!path.empty()) paths.push_back(std::move(path));
    }
    ::DragFinish(drop);
    if (paths.empty()) return;
    // Kept for droppedFiles while the event runs; a drop raised meanwhile has its own.
    std::vector<std::wstring> outer = std::exchange(g_droppedFiles, std::move(paths));
    raise(spec_.id, nullptr, FormEvent::FilesDropped, static_cast<int>(g_droppedFiles.size()));
    g_droppedFiles = std::move(outer);
}

void Form::OnDestroy() {
    raise(spec_.id, nullptr, FormEvent::Destroying);
    removeTrayIcon();
}

bool Form::notifyTray(DWORD op) {
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof nid;
    nid.hWnd = hwnd_;
    nid.uID = tray::kIconId;
    if (op != NIM_DELETE) {
        nid.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
        nid.uCallbackMessage = tray::kCallbackMessage;
        nid.hIcon = trayIcon_.get();
        trayTip_.copy(nid.szTip, std::size(nid.szTip) - 1);
    }
    return ::Shell_NotifyIconW(op, &nid) != FALSE;
}

bool Form::setTrayIcon(UniqueHicon icon, std::wstring_view tip) {
    // The tip is limited to 62 bytes of its ANSI form, cut between characters.
    std::wstring cut = toWide(cutGbkText(fromWide(tip, kCodePageGbk), kTrayTipBytes), kCodePageGbk);
    UniqueHicon old = std::move(trayIcon_);
    trayIcon_ = std::move(icon);
    trayTip_ = std::move(cut);
    return showTrayIcon();  // `old` is destroyed only now, after the shell took the new one
}

bool Form::showTrayIcon() {
    // Adding an icon the shell still holds fails, and so does changing one it
    // lost: when the first way fails, try the other.
    const bool ok = notifyTray(trayShown_ ? NIM_MODIFY : NIM_ADD) || notifyTray(trayShown_ ? NIM_ADD : NIM_MODIFY);
    trayShown_ = ok;
    return ok;
}

bool Form::removeTrayIcon() {
    if (!trayIcon_) return true;
    const bool ok = notifyTray(NIM_DELETE);
    trayShown_ = false;
    trayIcon_.reset();
    return ok;
}

size_t appendMenuItems(HMENU menu, std::span<const MenuItemSpec> items, size_t i, int level, std::vector<const char*>& ids) {
    while (i < items.size() && items[i].level >= level) {
        const MenuItemSpec& item = items[i];
        const bool hasChildren = i + 1 < items.size() && items[i + 1].level > item.level;
        std::wstring text = utf8ToWide(item.caption);
        UINT flags = (item.enabled ? MF_ENABLED : MF_GRAYED) | (item.checked ? MF_CHECKED : MF_UNCHECKED);
        if (hasChildren) {
            UniqueHmenu sub(::CreatePopupMenu());
            i = appendMenuItems(sub.get(), items, i + 1, item.level + 1, ids);
            if (item.visible && sub && ::AppendMenuW(menu, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(sub.get()), text.c_str()))
                sub.release();  // now owned by the parent menu
            continue;
        }
        if (item.visible) {
            if (std::strcmp(item.caption, "-") == 0) {
                ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            } else {
                ids.push_back(item.caption);
                ::AppendMenuW(menu, flags | MF_STRING, ids.size(), text.c_str());
            }
        }
        i++;
    }
    return i;
}

void Form::popupMenu(const char* topItem) {
    std::span<const MenuItemSpec> items = spec_.menu;
    size_t top = 0;
    while (top < items.size() && !(items[top].level == 0 && std::strcmp(items[top].caption, topItem) == 0)) top++;
    if (top == items.size()) return;
    UniqueHmenu menu(::CreatePopupMenu());
    if (!menu) return;
    std::vector<const char*> ids;  // command id n is ids[n - 1]
    appendMenuItems(menu.get(), items, top + 1, 1, ids);

    POINT pt;
    ::GetCursorPos(&pt);
    // Without the foreground the menu would not close when clicking elsewhere.
    ::SetForegroundWindow(hwnd_);
    const HWND hwnd = hwnd_;
    const FormId id = spec_.id;
    const UINT cmd = static_cast<UINT>(::TrackPopupMenuEx(menu.get(),
        TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, pt.x + 3, pt.y + 3, hwnd, nullptr));
    ::PostMessageW(hwnd, WM_NULL, 0, 0);
    menu.reset();
    if (cmd >= 1 && cmd <= ids.size()) raise(id, ids[cmd - 1], FormEvent::Clicked);
}

Form* loadedForm(FormId form, bool writing) {
    Form* f = Form::get(form);
    if (!f) fatalError(writing ? L"修改组件属性时发现指定窗口尚未载入" : L"读取组件属性时发现指定窗口尚未载入");
    return f;
}

HWND target(Form* f, const char* control) { return control ? f->control(control) : f->hwnd(); }

}  // namespace

void bindEvents(std::span<const EventBinding> bindings) { g_bindings.assign(bindings.begin(), bindings.end()); }

bool loadForm(FormId form) { return Form::load(form); }
bool isFormLoaded(FormId form) { return Form::get(form) != nullptr; }
HWND formWindow(FormId form) {
    Form* f = Form::get(form);
    return f ? f->hwnd() : nullptr;
}
HWND controlWindow(FormId form, const char* control) {
    Form* f = Form::get(form);
    return f && control ? f->control(control) : nullptr;
}
void closeForm(FormId form) {
    if (Form* f = Form::get(form)) ::DestroyWindow(f->hwnd());
}

int getProperty(FormId form, const char* control, Property property) {
    Form* f = loadedForm(form, false);
    HWND hwnd = f ? target(f, control) : nullptr;
    if (!hwnd) return 0;
    if (property == Property::Visible) return (::GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_VISIBLE) ? 1 : 0;
    RECT r;
    ::GetWindowRect(hwnd, &r);
    if (control) ::MapWindowPoints(nullptr, f->hwnd(), reinterpret_cast<POINT*>(&r), 2);
    switch (property) {
    case Property::Left: return r.left;
    case Property::Top: return r.top;
    case Property::Width: return r.right - r.left;
    case Property::Height: return r.bottom - r.top;
    default: return 0;
    }
}

void setProperty(FormId form, const char* control, Property property, int value) {
    Form* f = loadedForm(form, true);
    HWND hwnd = f ? target(f, control) : nullptr;
    if (!hwnd) return;
    if (property == Property::Visible) {
        // A window shown by the program does not take the keyboard from
        // whatever the user is doing; a control simply appears.
        ::ShowWindow(hwnd, value ? (control ? SW_SHOW : SW_SHOWNA) : SW_HIDE);
        return;
    }
    RECT r;
    ::GetWindowRect(hwnd, &r);
    if (control) ::MapWindowPoints(nullptr, f->hwnd(), reinterpret_cast<POINT*>(&r), 2);
    int x = r.left, y = r.top, w = r.right - r.left, h = r.bottom - r.top;
    switch (property) {
    case Property::Left: x = value; break;
    case Property::Top: y = value; break;
    case Property::Width: w = value; break;
    case Property::Height: h = value; break;
    default: return;
    }
    ::SetWindowPos(hwnd, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

std::wstring caption(FormId form, const char* control) {
    Form* f = loadedForm(form, false);
    HWND hwnd = f ? target(f, control) : nullptr;
    return hwnd ? windowText(hwnd) : std::wstring();
}

void setCaption(FormId form, const char* control, std::wstring_view text) {
    Form* f = loadedForm(form, true);
    HWND hwnd = f ? target(f, control) : nullptr;
    if (!hwnd) return;
    ::SetWindowTextW(hwnd, std::wstring(text).c_str());
    ::InvalidateRect(hwnd, nullptr, TRUE);  // owner-drawn labels do not repaint by themselves
}

void setTextColour(FormId form, const char* control, std::optional<ColourRef> colour) {
    if (Form* f = loadedForm(form, true)) f->setTextColour(control, colour);
}

namespace {

// The control if it is a list box, else nullptr.
HWND listBox(FormId form, const char* control) {
    Form* f = loadedForm(form, true);
    HWND list = f ? f->control(control) : nullptr;
    if (!list) return nullptr;
    wchar_t cls[16] = {};
    ::GetClassNameW(list, cls, 16);
    return _wcsicmp(cls, L"ListBox") == 0 ? list : nullptr;
}

}  // namespace

int addListRow(FormId form, const char* control, std::wstring_view text, std::optional<intptr_t> itemValue) {
    HWND list = listBox(form, control);
    if (!list) return -1;
    LRESULT index = ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::wstring(text).c_str()));
    if (index < 0) return -1;  // LB_ERR or LB_ERRSPACE
    if (itemValue) ::SendMessageW(list, LB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(*itemValue));
    return static_cast<int>(index);
}

bool setListRow(FormId form, const char* control, int row, std::wstring_view text) {
    HWND list = listBox(form, control);
    if (!list || row < 0 || row >= ::SendMessageW(list, LB_GETCOUNT, 0, 0)) return false;
    const LRESULT value = ::SendMessageW(list, LB_GETITEMDATA, static_cast<WPARAM>(row), 0);
    ::SendMessageW(list, LB_DELETESTRING, static_cast<WPARAM>(row), 0);
    const LRESULT index =
        ::SendMessageW(list, LB_INSERTSTRING, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(std::wstring(text).c_str()));
    if (index < 0) return false;
    ::SendMessageW(list, LB_SETITEMDATA, static_cast<WPARAM>(index), value);
    return true;
}

void popupMenu(FormId form, const char* topItem) {
    if (Form* f = Form::get(form); f && topItem) f->popupMenu(topItem);
}

bool setTrayIcon(FormId form, std::span<const uint8_t> ico, std::wstring_view tip) {
    Form* f = Form::get(form);
    if (!f) return false;
    if (ico.empty()) return f->removeTrayIcon();
    UniqueHicon icon = iconFromIco(ico, ::GetSystemMetrics(SM_CXSMICON));
    if (!icon) return false;
    return f->setTrayIcon(std::move(icon), tip);
}

std::span<const uint8_t> programIconBytes() { return resourceBytes(QZ_IDR_PROGRAM_ICO); }

void placeInWorkAreaCorner(FormId form, int margin) {
    Form* f = loadedForm(form, true);
    HWND hwnd = f ? f->hwnd() : nullptr;
    if (!hwnd) return;
    const Rect work = primaryWorkArea();
    const FormTable& spec = formTable(form);
    // Twice at most: moving onto a monitor of another DPI rescales the
    // window, and then its corner is placed again at its new size.
    for (int pass = 0; pass < 2; pass++) {
        const int dpi = windowDpi(hwnd);
        RECT now;
        ::GetWindowRect(hwnd, &now);
        const Rect r = placeInCorner(work, scaleForDpi(spec.width, dpi), scaleForDpi(spec.height, dpi), margin, dpi);
        if (now.left != r.left || now.top != r.top || now.right != r.right || now.bottom != r.bottom)
            ::SetWindowPos(hwnd, nullptr, r.left, r.top, r.width(), r.height(), SWP_NOZORDER | SWP_NOACTIVATE);
        if (windowDpi(hwnd) == dpi) break;
    }
}

const std::vector<std::wstring>& droppedFiles() { return g_droppedFiles; }

int runMessageLoop() {
    if (!Form::anyLoaded()) return 0;
    MSG msg{};
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // Tab and arrow keys move between the controls of either window.
        HWND root = msg.hwnd ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
        bool isForm = false;
        for (int i = 0; i < kFormCount; i++) isForm = isForm || (root && root == formWindow(static_cast<FormId>(i)));
        if (isForm && ::IsDialogMessageW(root, &msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

void endProgram(int exitCode) {
    g_ending = true;
    for (int i = 0; i < kFormCount; i++) closeForm(static_cast<FormId>(i));
    ::PostQuitMessage(exitCode);
    g_ending = false;  // the windows are gone: closing happens synchronously
}
