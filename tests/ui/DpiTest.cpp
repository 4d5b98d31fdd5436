// Both windows at 150 % and 200 %: the window and every control at the
// scaled design size, texts that fit their controls, and the accent stripe,
// button fills and hover looks where the scaled design puts them.
//
// In a prefix at 96 DPI the windows are moved to 144 and 192 DPI as the
// system does it, by WM_DPICHANGED. Run with QZ_EXPECT_DPI (the prefix's
// LogPixels, tests/ui/run-at-dpi.sh) the windows must come up at that DPI
// by themselves and are checked there.
#include "UiTestSupport.h"

#include "ui/ButtonLook.h"
#include "ui/Dpi.h"
#include "ui/Forms.h"
#include "ui/PasswordDialog.h"
#include "ui/Scaling.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr ColourRef kAccent = rgb(60, 202, 155), kHover = rgb(0, 224, 128), kPale = rgb(222, 234, 200);
constexpr ColourRef kWhite = rgb(255, 255, 255), kBlack = rgb(0, 0, 0);

int expectedNativeDpi() {
    const char* v = std::getenv("QZ_EXPECT_DPI");
    return v && *v ? std::atoi(v) : kDesignDpi;
}

Rect windowRect(HWND hwnd) {
    RECT r;
    ::GetWindowRect(hwnd, &r);
    return {r.left, r.top, r.right, r.bottom};
}

Rect clientRectOf(HWND form, HWND control) {
    RECT r;
    ::GetWindowRect(control, &r);
    ::MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right, r.bottom};
}

SIZE textExtent(HWND control, const std::wstring& text) {
    HDC dc = ::GetDC(control);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(control, dc);
    return size;
}

std::wstring textOf(HWND hwnd) {
    wchar_t buf[256] = {};
    ::GetWindowTextW(hwnd, buf, 256);
    return buf;
}

// Images beside the caption: 16 x 16 at 96 DPI, drawn at the scale picked for the DPI.
int imageWidth(const ControlSpec& c, int dpi) {
    return c.button && c.button->imageResource ? 16 * imageScaleFor(dpi) / 100 : 0;
}

class Dpi : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_DISPLAY();
        bindEvents({});
        moveMouseTo(2, 2);
    }
    void TearDown() override {
        closeForm(FormId::Main);
        closeForm(FormId::Reminder);
        pumpPending();
    }

    // The DPIs to check a loaded window at: its own, then another one it
    // is moved to by WM_DPICHANGED as the system does it (144, or 192 from
    // 144), then its own again.
    static std::vector<int> dpisToCheck(HWND hwnd) {
        const int native = windowDpi(hwnd);
        EXPECT_EQ(native, expectedNativeDpi()) << "the window's DPI (per-monitor awareness from the manifest)";
        return {native, native == 144 ? 192 : 144, native};
    }

    // Sends WM_DPICHANGED with the rectangle the system would suggest,
    // except for the first DPI, which is the window's own.
    static void moveToDpi(FormId form, int dpi, bool first) {
        if (first) return;
        HWND hwnd = formWindow(form);
        const FormTable& t = formTable(form);
        const Rect area = monitorArea(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), false);
        const Rect r = centreIn(area, scaleForDpi(t.width, dpi), scaleForDpi(t.height, dpi));
        RECT suggested = {r.left, r.top, r.right, r.bottom};
        ::SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        pumpPending();
    }

    // Window size, every control's rectangle, and captions that fit.
    static void expectScaledLayout(FormId form, int dpi) {
        SCOPED_TRACE(std::string(formTable(form).name) + " at " + std::to_string(dpi) + " DPI");
        HWND hwnd = formWindow(form);
        const FormTable& t = formTable(form);
        const Rect outer = windowRect(hwnd);
        EXPECT_NEAR(outer.width(), t.width * dpi / 96.0, 1.0);
        EXPECT_NEAR(outer.height(), t.height * dpi / 96.0, 1.0);
        // The whole window on the screen, as the user sees it.
        RECT shotRect{outer.left, outer.top, outer.right, outer.bottom};
        Image shot = captureScreen(shotRect);
        EXPECT_EQ(shot.width, outer.width());
        saveArtifact(shot, std::string(t.name) + "-" + std::to_string(dpi) + "dpi");

        for (const ControlSpec& c : t.controls) {
            HWND control = controlWindow(form, c.name);
            if (c.kind == ControlKind::Component) continue;
            ASSERT_NE(control, nullptr) << c.name;
            const Rect r = clientRectOf(hwnd, control);
            EXPECT_EQ(r, scaleBox(c.box, dpi)) << c.name;
            const std::wstring text = textOf(control);
            if (text.empty() || c.kind == ControlKind::ListBox) continue;
            const SIZE extent = textExtent(control, text);
            const int room = r.width() - (imageWidth(c, dpi) ? imageWidth(c, dpi) + scaleForDpi(kImageMargin, dpi) : 0);
            EXPECT_LE(extent.cx, room) << c.name << " cuts its caption";
            EXPECT_LE(extent.cy, r.height()) << c.name << " cuts its caption";
            // The 96-DPI fonts are at least 11 pixels high: an unscaled font stays below this.
            EXPECT_GE(extent.cy, scaleForDpi(11, dpi)) << c.name << " has a font of its DPI";
        }
    }
};

// The password dialog at dpi: its client area and every control at the
// scaled design, captions that fit in a font of that DPI; a screenshot of it.
void expectDialogLayout(HWND dialog, int dpi) {
    SCOPED_TRACE("the password dialog at " + std::to_string(dpi) + " DPI");
    // A frame only the system redraws at another DPI: the client area is
    // the design's at the window's own DPI, where the frame is that DPI's.
    if (dpi == windowDpi(dialog)) {
        RECT client;
        ::GetClientRect(dialog, &client);
        EXPECT_NEAR(client.right, scaleForDpi(kPasswordDialogWidth, dpi), 1);
        EXPECT_NEAR(client.bottom, scaleForDpi(kPasswordDialogHeight, dpi), 1);
    }
    for (const DialogItem& item : passwordDialogItems()) {
        HWND control = ::GetDlgItem(dialog, item.id);
        ASSERT_NE(control, nullptr) << item.id;
        const Rect r = clientRectOf(dialog, control);
        EXPECT_EQ(r, scaleBox(item.box, dpi)) << item.id;
        const std::wstring text = textOf(control);
        if (text.empty()) continue;
        const SIZE extent = textExtent(control, text);
        EXPECT_LE(extent.cx, r.width()) << item.id << " cuts its caption";
        EXPECT_GE(extent.cy, scaleForDpi(11, dpi)) << item.id << " has a font of its DPI";
    }
    ::RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
    const Rect outer = windowRect(dialog);
    saveArtifact(captureScreen({outer.left, outer.top, outer.right, outer.bottom}),
                 "PasswordDialog-" + std::to_string(dpi) + "dpi");
}

int dialogChecks = 0, dialogLooks = 0;

// Runs inside the dialog's own message loop: checks it at its DPI, moved to
// another by WM_DPICHANGED and back, then answers 取消.
VOID CALLBACK checkPasswordDialog(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = ::FindWindowW(L"QuilloZIP.Password", L"输入密码");
    if (!dialog || !::IsWindowVisible(dialog)) {
        if (++dialogLooks < 200) return;
        // No dialog after ten seconds: its loop is ended instead of hanging.
        ::KillTimer(nullptr, timer);
        ADD_FAILURE() << "no password dialog came up";
        ::PostQuitMessage(0);
        return;
    }
    ::KillTimer(nullptr, timer);
    const int native = windowDpi(dialog);
    EXPECT_EQ(native, expectedNativeDpi());
    const Rect area = monitorArea(::MonitorFromWindow(dialog, MONITOR_DEFAULTTOPRIMARY), false);
    for (int dpi : {native, native == 144 ? 192 : 144, native}) {
        if (dialogChecks > 0) {
            const Rect size = outerSizeAt(scaleForDpi(kPasswordDialogWidth, dpi),
                                          scaleForDpi(kPasswordDialogHeight, dpi), WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                          WS_EX_DLGMODALFRAME, dpi);
            const Rect r = centreIn(area, size.width(), size.height());
            RECT suggested = {r.left, r.top, r.right, r.bottom};
            ::SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        }
        expectDialogLayout(dialog, dpi);
        dialogChecks++;
    }
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
}

Rect scaled(const Box& b, int dpi) { return scaleBox(b, dpi); }
POINT at(const Rect& r, int dx, int dy) { return {r.left + dx, r.top + dy}; }

}  // namespace

TEST_F(Dpi, ReminderAtEachScale) {
    ASSERT_TRUE(loadForm(FormId::Reminder));
    HWND hwnd = formWindow(FormId::Reminder);
    setCaption(FormId::Reminder, "标签2", L"下载完毕，压缩包安全");
    setCaption(FormId::Reminder, "标签3", L"项目资料与设计稿");
    setProperty(FormId::Reminder, nullptr, Property::Visible, 1);
    const std::vector<int> dpis = dpisToCheck(hwnd);
    for (size_t i = 0; i < dpis.size(); i++) {
        const int dpi = dpis[i];
        moveToDpi(FormId::Reminder, dpi, i == 0);
        SCOPED_TRACE(std::to_string(dpi) + " DPI");
        const int s = scaleForDpi(1, dpi);
        const Rect stripe = scaled({-1, -3, 6, 107}, dpi), button = scaled({182, 42, 97, 32}, dpi);
        const Rect picture = scaled({20, 50, 24, 24}, dpi);
        EXPECT_EQ(colourText(waitForClientPixel(hwnd, stripe.right - s, scaleForDpi(50, dpi), kAccent)),
                  colourText(kAccent)) << "accent stripe, right edge";
        EXPECT_EQ(colourText(waitForClientPixel(hwnd, stripe.right, scaleForDpi(50, dpi), kWhite)), colourText(kWhite))
            << "background right of the stripe";
        EXPECT_EQ(colourText(waitForClientPixel(hwnd, button.left, button.top, kAccent)), colourText(kAccent))
            << "\"安全打开\" top-left";
        EXPECT_EQ(colourText(waitForClientPixel(hwnd, button.right - 1, button.bottom - 1, kAccent)),
                  colourText(kAccent)) << "\"安全打开\" bottom-right";
        // The archive symbol fills its scaled box: orange near its far corner.
        const ColourRef archive =
            waitForClientPixel(hwnd, picture.right - 5 * s, picture.bottom - 5 * s, rgb(232, 120, 12));
        EXPECT_GT(redOf(archive), 200) << "archive symbol drawn at its scale: " << colourText(archive);
        EXPECT_LT(blueOf(archive), 80) << colourText(archive);
        expectScaledLayout(FormId::Reminder, dpi);
    }
}

TEST_F(Dpi, MainWindowAndHoverLooksAtEachScale) {
    ASSERT_TRUE(loadForm(FormId::Main));
    HWND hwnd = formWindow(FormId::Main);
    setCaption(FormId::Main, "标签1", L"项目资料与设计稿");
    setCaption(FormId::Main, "标签2", L"共有3个文件，请放心解压");
    for (const wchar_t* row : {L"设计稿/", L"设计稿/首页.png", L"readme.txt"}) addListRow(FormId::Main, "列表框1", row);
    const std::vector<int> dpis = dpisToCheck(hwnd);
    for (size_t i = 0; i < dpis.size(); i++) {
        const int dpi = dpis[i];
        moveToDpi(FormId::Main, dpi, i == 0);
        SCOPED_TRACE(std::to_string(dpi) + " DPI");
        moveMouseTo(2, 2);
        const int line = scaleForDpi(1, dpi);
        const Rect extract = scaled({262, 432, 97, 32}, dpi), desktop = scaled({161, 387, 56, 25}, dpi);
        // Inside the edge a hovered flat button draws.
        const POINT fill = at(extract, scaleForDpi(4, dpi), scaleForDpi(4, dpi));
        EXPECT_EQ(colourText(waitForClientPixel(hwnd, fill.x, fill.y, kAccent)), colourText(kAccent)) << "\"立即解压\"";
        EXPECT_EQ(colourText(waitForClientPixel(hwnd, desktop.left + desktop.width() / 2, desktop.top, kWhite)),
                  colourText(kWhite)) << "\"桌面\" at rest";
        const LRESULT row = ::SendMessageW(controlWindow(FormId::Main, "列表框1"), LB_GETITEMHEIGHT, 0, 0);
        EXPECT_GE(row, scaleForDpi(13, dpi)) << "list rows as high as their scaled font";

        POINT p = clientToScreen(hwnd, extract.left + extract.width() / 2, extract.top + extract.height() / 2);
        moveMouseTo(p.x, p.y);
        EXPECT_EQ(colourText(waitForClientPixel(hwnd, fill.x, fill.y, kHover)), colourText(kHover))
            << "hovered \"立即解压\"";

        // The rounded highlight: a black outline `line` pixels wide along the
        // top, pale green inside it, the corner left white.
        p = clientToScreen(hwnd, desktop.left + desktop.width() / 2, desktop.top + desktop.height() / 2);
        moveMouseTo(p.x, p.y);
        const int midX = desktop.left + desktop.width() / 2;
        EXPECT_EQ(colourText(waitForClientPixel(hwnd, midX, desktop.top + line + 1, kPale)), colourText(kPale))
            << "pale-green fill";
        for (int y = desktop.top; y < desktop.top + line; y++)
            EXPECT_EQ(colourText(waitForClientPixel(hwnd, midX, y, kBlack)), colourText(kBlack)) << "outline row " << y;
        EXPECT_EQ(colourText(waitForClientPixel(hwnd, desktop.left, desktop.top, kWhite)), colourText(kWhite))
            << "rounded corner";
        Image shot = captureClient(hwnd);
        saveArtifact(shot, "MainWindow-hover-" + std::to_string(dpi) + "dpi");
        moveMouseTo(2, 2);
        expectScaledLayout(FormId::Main, dpi);
    }
}

TEST_F(Dpi, PasswordDialogAtEachScale) {
    ASSERT_TRUE(loadForm(FormId::Main));
    dialogChecks = dialogLooks = 0;
    ASSERT_NE(::SetTimer(nullptr, 0, 50, checkPasswordDialog), 0u);
    EXPECT_FALSE(askPassword(formWindow(FormId::Main), false));
    EXPECT_EQ(dialogChecks, 3);
}

// The main window opens centred on the monitor the reminder is on; with one
// monitor, centred on the screen.
TEST_F(Dpi, MainWindowCentredOnTheReminderMonitor) {
    ASSERT_TRUE(loadForm(FormId::Reminder));
    ASSERT_TRUE(loadForm(FormId::Main));
    const Rect screen = monitorArea(::MonitorFromWindow(formWindow(FormId::Reminder), MONITOR_DEFAULTTOPRIMARY), false);
    const Rect main = windowRect(formWindow(FormId::Main));
    EXPECT_EQ(main, centreIn(screen, main.width(), main.height()));
}

// The reminder's corner in the work area: 10 pixels (scaled) from its right
// and bottom edges, whatever the taskbar takes: at the bottom, on the right,
// on the top.
TEST_F(Dpi, ReminderPlacedInTheWorkArea) {
    ASSERT_TRUE(loadForm(FormId::Reminder));
    HWND hwnd = formWindow(FormId::Reminder);
    RECT saved;
    ASSERT_TRUE(::SystemParametersInfoW(SPI_GETWORKAREA, 0, &saved, 0));
    const Rect screen = monitorArea(primaryMonitor(), false);
    const RECT taskbars[] = {{saved.left, saved.top, saved.right, saved.bottom},
                             {screen.left, screen.top, screen.right - 62, screen.bottom},
                             {screen.left, screen.top + 48, screen.right, screen.bottom}};
    for (RECT taskbar : taskbars) {
        ::SystemParametersInfoW(SPI_SETWORKAREA, 0, &taskbar, 0);
        placeInWorkAreaCorner(FormId::Reminder, 10);
        const Rect work = primaryWorkArea();
        EXPECT_EQ(work, (Rect{taskbar.left, taskbar.top, taskbar.right, taskbar.bottom})) << "the system took the work area";
        const Rect r = windowRect(hwnd);
        const int dpi = windowDpi(hwnd), m = scaleForDpi(10, dpi);
        SCOPED_TRACE("work area " + std::to_string(work.left) + "," + std::to_string(work.top) + " - " +
                     std::to_string(work.right) + "," + std::to_string(work.bottom));
        EXPECT_EQ(r.right, work.right - m);
        EXPECT_EQ(r.bottom, work.bottom - m);
        EXPECT_EQ(r.width(), scaleForDpi(formTable(FormId::Reminder).width, dpi));
    }
    ::SystemParametersInfoW(SPI_SETWORKAREA, 0, &saved, 0);
}
