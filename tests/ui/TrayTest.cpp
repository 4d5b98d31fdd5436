// The notification-area icon and its pop-up menu on the reminder window.
#include "UiTestSupport.h"

#include "ui/Forms.h"

#include <shellapi.h>

#include <string>
#include <vector>

namespace {

std::vector<int> g_ops;
int g_exitChosen = 0;

// What the application does with the icon: only a left click opens the menu.
void onTray(int op) {
    g_ops.push_back(op);
    if (op == tray::kLeftUp) popupMenu(FormId::Reminder, "辅助");
}
void onExit(int) { g_exitChosen++; }

constexpr EventBinding kBindings[] = {
    {FormId::Reminder, nullptr, FormEvent::TrayIcon, onTray},
    {FormId::Reminder, "退出", FormEvent::Clicked, onExit},
};

// Seen by a timer while the menu's own modal loop runs.
struct MenuSeen {
    int count = 0;
    std::vector<std::wstring> items;
    RECT rect{};
    HMENU menu = nullptr;
    bool choose = false;  // pick "退出" (the second item) with the keyboard, else just close
} g_menu;

BOOL CALLBACK matchMenuWindow(HWND hwnd, LPARAM lp) {
    wchar_t cls[16] = {};
    ::GetClassNameW(hwnd, cls, 16);
    if (std::wstring(cls) != L"#32768" || !::IsWindowVisible(hwnd)) return TRUE;
    *reinterpret_cast<HWND*>(lp) = hwnd;
    return FALSE;
}

// The pop-up menu window (class "#32768") while a menu is open.
HWND findMenuWindow() {
    HWND found = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), matchMenuWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

void CALLBACK inspectMenu(HWND, UINT, UINT_PTR id, DWORD) {
    HWND menuWindow = findMenuWindow();
    if (!menuWindow) return;  // not open yet: look again at the next tick
    ::KillTimer(nullptr, id);
    g_menu.count++;
    ::GetWindowRect(menuWindow, &g_menu.rect);
    HMENU menu = reinterpret_cast<HMENU>(::SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
    g_menu.menu = menu;
    for (int i = 0; menu && i < ::GetMenuItemCount(menu); i++) {
        wchar_t text[64] = {};
        ::GetMenuStringW(menu, UINT(i), text, 64, MF_BYPOSITION);
        g_menu.items.push_back(text);
    }
    if (g_menu.choose) {
        ::PostMessageW(menuWindow, WM_KEYDOWN, VK_DOWN, 0);
        ::PostMessageW(menuWindow, WM_KEYDOWN, VK_DOWN, 0);
        ::PostMessageW(menuWindow, WM_KEYDOWN, VK_RETURN, 0);
    } else {
        ::EndMenu();
    }
}

// Sends a tray callback; any menu it opens is inspected and closed.
void trayMessage(UINT mouseMessage, bool choose = false) {
    g_menu.choose = choose;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, inspectMenu);
    ::SendMessageW(formWindow(FormId::Reminder), tray::kCallbackMessage, tray::kIconId, mouseMessage);
    ::KillTimer(nullptr, timer);
    pumpPending();
}

class Tray : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveDisplay()) GTEST_SKIP() << "no X display: run through scripts/test.sh or set DISPLAY";
        g_ops.clear();
        g_exitChosen = 0;
        g_menu = {};
        bindEvents(kBindings);
        ASSERT_TRUE(loadForm(FormId::Reminder));
    }
    void TearDown() override {
        closeForm(FormId::Reminder);
        pumpPending();
    }
};

}  // namespace

TEST_F(Tray, IconIsAddedReplacedAndRemoved) {
    EXPECT_TRUE(setTrayIcon(FormId::Reminder, programIconBytes(), L"QuilloZIP快速解压"));
    EXPECT_TRUE(setTrayIcon(FormId::Reminder, programIconBytes(), std::wstring(40, L'长'))) << "replaced";
    const uint8_t junk[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(setTrayIcon(FormId::Reminder, junk, L"x")) << "bytes that are no icon";
    EXPECT_TRUE(setTrayIcon(FormId::Reminder, {}, L"")) << "no icon: removed";
    EXPECT_FALSE(setTrayIcon(FormId::Main, programIconBytes(), L"x")) << "window not loaded";

    // The icon belongs to its window: re-added when the taskbar restarts,
    // and gone with the window, after which the shell no longer knows it.
    ASSERT_TRUE(setTrayIcon(FormId::Reminder, programIconBytes(), L"QuilloZIP快速解压"));
    HWND hwnd = formWindow(FormId::Reminder);
    ::SendMessageW(hwnd, ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof nid;
    nid.hWnd = hwnd;
    nid.uID = tray::kIconId;
    EXPECT_TRUE(::Shell_NotifyIconW(NIM_MODIFY, &nid)) << "still present after TaskbarCreated";
    closeForm(FormId::Reminder);
    EXPECT_FALSE(::Shell_NotifyIconW(NIM_MODIFY, &nid)) << "removed when the window was destroyed";
}

TEST_F(Tray, MouseMessagesBecomeOperations) {
    for (UINT m : {UINT(WM_LBUTTONUP), UINT(WM_LBUTTONDBLCLK), UINT(WM_RBUTTONUP), UINT(WM_CONTEXTMENU),
                   UINT(WM_MOUSEMOVE), UINT(WM_LBUTTONDOWN), UINT(WM_RBUTTONDOWN)})
        trayMessage(m);
    EXPECT_EQ(g_ops, (std::vector<int>{1, 2, 3, 3}));
    ::SendMessageW(formWindow(FormId::Reminder), tray::kCallbackMessage, tray::kIconId + 1, WM_LBUTTONUP);
    EXPECT_EQ(g_ops.size(), 4u) << "another icon's message";
}

TEST_F(Tray, LeftClickOpensTheMenuAtTheCursorOthersOpenNothing) {
    ::SetCursorPos(300, 300);
    trayMessage(WM_LBUTTONUP);
    ASSERT_EQ(g_menu.count, 1);
    EXPECT_EQ(g_menu.items, (std::vector<std::wstring>{L"打开压缩包…", L"退出"}))
        << "the hidden top item \"辅助\" is not shown";
    POINT cursor;
    ::GetCursorPos(&cursor);
    EXPECT_EQ(g_menu.rect.left, cursor.x + 3);
    EXPECT_EQ(g_menu.rect.top, cursor.y + 3);
    EXPECT_EQ(g_exitChosen, 0) << "closing the menu chooses nothing";
    EXPECT_FALSE(findMenuWindow());
    EXPECT_FALSE(::IsMenu(g_menu.menu)) << "the menu is destroyed after use";

    trayMessage(WM_RBUTTONUP);
    trayMessage(WM_LBUTTONDBLCLK);
    EXPECT_EQ(g_menu.count, 1) << "right and double clicks open nothing";
}

TEST_F(Tray, ChoosingExitRaisesItsEvent) {
    trayMessage(WM_LBUTTONUP, /*choose*/ true);
    ASSERT_EQ(g_menu.count, 1);
    EXPECT_EQ(g_exitChosen, 1);
    EXPECT_FALSE(findMenuWindow()) << "the menu is gone";
    popupMenu(FormId::Reminder, "没有这个");  // an unknown top item shows nothing
    EXPECT_FALSE(findMenuWindow());
}
