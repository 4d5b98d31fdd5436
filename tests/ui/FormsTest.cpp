// Both windows built from their tables: layout, styles, properties,
// captions, list rows, bound events, program end, the fatal-error report
// and the release of every GDI and USER object.
#include "UiTestSupport.h"

#include "base/TextCodec.h"
#include "base/UniqueAny.h"
#include "ui/FatalError.h"
#include "ui/Forms.h"
#include "ui/Rect.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_log;
bool g_visibleWhenCreated = true;

void onMainCreated(int) {
    g_log.push_back("main created");
    g_visibleWhenCreated = ::IsWindowVisible(formWindow(FormId::Main)) != FALSE;
}
void onReminderCreated(int) { g_log.push_back("reminder created"); }
void onReminderDestroying(int) { g_log.push_back("reminder destroying"); }
void onMainDestroying(int) { g_log.push_back("main destroying"); }
void onDesktop(int) { g_log.push_back("桌面"); }
void onSafeOpen(int) { g_log.push_back("安全打开"); }
void onExtractCloses(int) { closeForm(FormId::Main); }
std::vector<std::wstring> g_dropped;
void onFilesDropped(int count) {
    g_dropped = droppedFiles();
    g_log.push_back("dropped " + std::to_string(count));
}

constexpr EventBinding kBindings[] = {
    {FormId::Main, nullptr, FormEvent::Created, onMainCreated},
    {FormId::Reminder, nullptr, FormEvent::Created, onReminderCreated},
    {FormId::Reminder, nullptr, FormEvent::Destroying, onReminderDestroying},
    {FormId::Main, nullptr, FormEvent::Destroying, onMainDestroying},
    {FormId::Main, "超级按钮2", FormEvent::Clicked, onDesktop},
    {FormId::Reminder, "超级按钮4", FormEvent::Clicked, onSafeOpen},
    {FormId::Main, "超级按钮4", FormEvent::Clicked, onExtractCloses},
    {FormId::Main, nullptr, FormEvent::FilesDropped, onFilesDropped},
};

// A drop as the shell hands it over: a global block of DROPFILES and wide paths.
HGLOBAL makeDrop(const std::vector<std::wstring>& paths) {
    size_t units = 1;
    for (const std::wstring& path : paths) units += path.size() + 1;
    HGLOBAL block = ::GlobalAlloc(GHND, sizeof(DROPFILES) + units * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(::GlobalLock(block));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    auto* text = reinterpret_cast<wchar_t*>(drop + 1);
    for (const std::wstring& path : paths) {
        std::copy(path.begin(), path.end(), text);
        text += path.size() + 1;
    }
    ::GlobalUnlock(block);
    return block;
}

class Forms : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveDisplay()) GTEST_SKIP() << "no X display: run through scripts/test.sh or set DISPLAY";
        g_log.clear();
        bindEvents(kBindings);
    }
    void TearDown() override {
        closeForm(FormId::Main);
        closeForm(FormId::Reminder);
        pumpPending();
    }
};

Rect windowRect(HWND hwnd) {
    RECT r;
    ::GetWindowRect(hwnd, &r);
    return {r.left, r.top, r.right, r.bottom};
}

LOGFONTW fontOf(HWND hwnd) {
    LOGFONTW lf{};
    ::GetObjectW(reinterpret_cast<HGDIOBJ>(::SendMessageW(hwnd, WM_GETFONT, 0, 0)), sizeof lf, &lf);
    return lf;
}

// Takes messages until WM_QUIT; returns its exit code, or nullopt.
std::optional<int> waitForQuit() {
    const ULONGLONG deadline = ::GetTickCount64() + 10000;
    while (::GetTickCount64() < deadline) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
            ::DispatchMessageW(&msg);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return std::nullopt;
}

void CALLBACK endWithThree(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    endProgram(3);
}

std::wstring g_fatalText;
int g_fatalExit = 0;
void recordFatal(std::wstring_view text) { g_fatalText = text; }
void recordExit(int code) { g_fatalExit = code; }

}  // namespace

TEST_F(Forms, MainWindowIsBuiltFromItsTable) {
    ASSERT_TRUE(loadForm(FormId::Main));
    HWND main = formWindow(FormId::Main);
    ASSERT_TRUE(main);
    EXPECT_EQ(g_log, std::vector<std::string>{"main created"});
    EXPECT_FALSE(g_visibleWhenCreated) << "created is raised before the window is shown";
    EXPECT_TRUE(::IsWindowVisible(main));

    const Rect r = windowRect(main);
    EXPECT_EQ(r.width(), 383);
    EXPECT_EQ(r.height(), 509);
    EXPECT_EQ(r.left, (::GetSystemMetrics(SM_CXSCREEN) - 383) / 2);
    EXPECT_EQ(r.top, (::GetSystemMetrics(SM_CYSCREEN) - 509) / 2);
    const LONG_PTR style = ::GetWindowLongPtrW(main, GWL_STYLE);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(::GetWindowLongPtrW(main, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(caption(FormId::Main, nullptr), L"QuilloZIP快速解压");
    EXPECT_TRUE(::SendMessageW(main, WM_GETICON, ICON_SMALL, 0));
    EXPECT_TRUE(::SendMessageW(main, WM_GETICON, ICON_BIG, 0));

    // Every control where the table puts it, stacked and tabbed in table order.
    HWND child = ::GetWindow(main, GW_CHILD);
    for (const ControlSpec& c : formTable(FormId::Main).controls) {
        if (c.kind == ControlKind::Component) {
            EXPECT_EQ(controlWindow(FormId::Main, c.name), nullptr);
            continue;
        }
        HWND hwnd = controlWindow(FormId::Main, c.name);
        ASSERT_TRUE(hwnd) << c.name;
        EXPECT_EQ(child, hwnd) << c.name << " out of stacking order";
        child = ::GetWindow(child, GW_HWNDNEXT);
        EXPECT_EQ(getProperty(FormId::Main, c.name, Property::Left), c.box.left) << c.name;
        EXPECT_EQ(getProperty(FormId::Main, c.name, Property::Top), c.box.top) << c.name;
        EXPECT_EQ(getProperty(FormId::Main, c.name, Property::Width), c.box.width) << c.name;
        EXPECT_EQ(getProperty(FormId::Main, c.name, Property::Height), c.box.height) << c.name;
        EXPECT_EQ(getProperty(FormId::Main, c.name, Property::Visible), c.visible ? 1 : 0) << c.name;
        EXPECT_EQ((::GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_TABSTOP) != 0, c.tabStop) << c.name;
    }
    EXPECT_EQ(child, nullptr);
    EXPECT_EQ(caption(FormId::Main, "按钮1"), L" 文件列表");
    EXPECT_EQ(caption(FormId::Main, "标签3"), L"解压到");

    LOGFONTW title = fontOf(controlWindow(FormId::Main, "标签1"));
    EXPECT_EQ(title.lfHeight, -16);
    EXPECT_EQ(title.lfWeight, 400);
    EXPECT_EQ(title.lfCharSet, GB2312_CHARSET);
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(::SendMessageW(controlWindow(FormId::Main, "标签3"), WM_GETFONT, 0, 0)),
              ::GetStockObject(DEFAULT_GUI_FONT));

    // The list's rows are one pixel taller than a plain list box's.
    HWND plain = ::CreateWindowExW(0, L"LISTBOX", L"", WS_CHILD | LBS_NOINTEGRALHEIGHT, 0, 0, 50, 50, main, nullptr,
                                   nullptr, nullptr);
    ::SendMessageW(plain, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    const LRESULT standardRow = ::SendMessageW(plain, LB_GETITEMHEIGHT, 0, 0);
    ::DestroyWindow(plain);
    EXPECT_EQ(::SendMessageW(controlWindow(FormId::Main, "列表框1"), LB_GETITEMHEIGHT, 0, 0), standardRow + 1);
    EXPECT_EQ(getProperty(FormId::Main, "列表框1", Property::Height), 281) << "not shrunk to whole rows";

    // Tab order follows the table: the tab stops, top row first.
    const char* tabOrder[] = {"超级按钮4", "超级按钮3", "超级按钮2", "超级按钮1", "列表框1", "按钮1", "超级按钮4"};
    for (size_t i = 0; i + 1 < std::size(tabOrder); i++)
        EXPECT_EQ(::GetNextDlgTabItem(main, controlWindow(FormId::Main, tabOrder[i]), FALSE),
                  controlWindow(FormId::Main, tabOrder[i + 1]))
            << "after " << tabOrder[i];

    // Loading again only brings it forward.
    ::ShowWindow(main, SW_MINIMIZE);
    EXPECT_TRUE(loadForm(FormId::Main));
    EXPECT_EQ(formWindow(FormId::Main), main);
    EXPECT_FALSE(::IsIconic(main));
    EXPECT_EQ(g_log.size(), 1u) << "no second created event";
}

TEST_F(Forms, ReminderIsTopmostHiddenAndCanBeParked) {
    ASSERT_TRUE(loadForm(FormId::Reminder));
    HWND reminder = formWindow(FormId::Reminder);
    EXPECT_EQ(g_log, std::vector<std::string>{"reminder created"});
    EXPECT_FALSE(::IsWindowVisible(reminder));
    EXPECT_TRUE(::GetWindowLongPtrW(reminder, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(getProperty(FormId::Reminder, nullptr, Property::Width), 300);
    EXPECT_EQ(getProperty(FormId::Reminder, nullptr, Property::Height), 117);
    EXPECT_EQ(getProperty(FormId::Reminder, nullptr, Property::Left), (::GetSystemMetrics(SM_CXSCREEN) - 300) / 2);
    EXPECT_EQ(getProperty(FormId::Reminder, nullptr, Property::Visible), 0);
    EXPECT_EQ(caption(FormId::Reminder, nullptr), L"QuilloZIP快速解压提醒您");

    const int left = ::GetSystemMetrics(SM_CXSCREEN) - 300 - 10, top = ::GetSystemMetrics(SM_CYSCREEN) - 117 - 50;
    setProperty(FormId::Reminder, nullptr, Property::Left, left);
    setProperty(FormId::Reminder, nullptr, Property::Top, top);
    setProperty(FormId::Reminder, nullptr, Property::Visible, 1);
    EXPECT_EQ(windowRect(reminder), Rect::fromSize(left, top, 300, 117));
    EXPECT_TRUE(::IsWindowVisible(reminder));
    setProperty(FormId::Reminder, nullptr, Property::Visible, 0);
    EXPECT_FALSE(::IsWindowVisible(reminder));
}

TEST_F(Forms, CaptionsPropertiesAndListRows) {
    ASSERT_TRUE(loadForm(FormId::Main));
    setCaption(FormId::Main, "标签1", L"资料 & 设计稿");
    EXPECT_EQ(caption(FormId::Main, "标签1"), L"资料 & 设计稿");
    setCaption(FormId::Main, "标签2", L"共有12个文件，请放心解压");
    EXPECT_EQ(caption(FormId::Main, "标签2"), L"共有12个文件，请放心解压");

    setProperty(FormId::Main, "标签5", Property::Visible, 1);
    EXPECT_EQ(getProperty(FormId::Main, "标签5", Property::Visible), 1);
    setProperty(FormId::Main, "标签3", Property::Left, 20);
    setProperty(FormId::Main, "标签3", Property::Width, 60);
    EXPECT_EQ(getProperty(FormId::Main, "标签3", Property::Left), 20);
    EXPECT_EQ(getProperty(FormId::Main, "标签3", Property::Top), 387);
    EXPECT_EQ(getProperty(FormId::Main, "标签3", Property::Width), 60);

    EXPECT_EQ(addListRow(FormId::Main, "列表框1", L"设计稿/"), 0);
    EXPECT_EQ(addListRow(FormId::Main, "列表框1", L"b.txt", 42), 1);
    EXPECT_EQ(addListRow(FormId::Main, "列表框1", L"a.txt"), 2) << "unsorted: appended";
    HWND list = controlWindow(FormId::Main, "列表框1");
    EXPECT_EQ(::SendMessageW(list, LB_GETITEMDATA, 1, 0), 42);
    wchar_t row[16] = {};
    ::SendMessageW(list, LB_GETTEXT, 2, reinterpret_cast<LPARAM>(row));
    EXPECT_EQ(std::wstring(row), L"a.txt");
    EXPECT_EQ(::SendMessageW(list, LB_GETCURSEL, 0, 0), LB_ERR) << "no selection";
    EXPECT_TRUE(setListRow(FormId::Main, "列表框1", 1, L"b.txt（数据损坏）"));
    ::SendMessageW(list, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(row));
    EXPECT_EQ(std::wstring(row), L"b.txt（数据损坏）");
    EXPECT_EQ(::SendMessageW(list, LB_GETITEMDATA, 1, 0), 42) << "the row keeps its value";
    EXPECT_EQ(::SendMessageW(list, LB_GETCOUNT, 0, 0), 3);
    EXPECT_FALSE(setListRow(FormId::Main, "列表框1", 3, L"x")) << "no such row";
    EXPECT_FALSE(setListRow(FormId::Main, "标签1", 0, L"x")) << "not a list box";
    EXPECT_EQ(addListRow(FormId::Main, "标签1", L"x"), -1) << "not a list box";
    EXPECT_EQ(addListRow(FormId::Main, "没有这个", L"x"), -1);
    EXPECT_EQ(getProperty(FormId::Main, "没有这个", Property::Left), 0);
}

TEST_F(Forms, EventsReachTheirBoundOperations) {
    ASSERT_TRUE(loadForm(FormId::Reminder));
    ASSERT_TRUE(loadForm(FormId::Main));
    ::SendMessageW(controlWindow(FormId::Main, "超级按钮2"), BM_CLICK, 0, 0);
    ::SendMessageW(controlWindow(FormId::Main, "超级按钮1"), BM_CLICK, 0, 0);  // nothing bound
    ::SendMessageW(controlWindow(FormId::Main, "按钮1"), BM_CLICK, 0, 0);      // reacts to nothing
    ::SendMessageW(controlWindow(FormId::Reminder, "超级按钮4"), BM_CLICK, 0, 0);
    EXPECT_EQ(g_log, (std::vector<std::string>{"reminder created", "main created", "桌面", "安全打开"}));

    // A handler may close the very window whose button raised it.
    ::SendMessageW(controlWindow(FormId::Main, "超级按钮4"), BM_CLICK, 0, 0);
    EXPECT_FALSE(isFormLoaded(FormId::Main));
    EXPECT_EQ(g_log.back(), "main destroying");

    ::SendMessageW(formWindow(FormId::Reminder), WM_CLOSE, 0, 0);
    EXPECT_FALSE(isFormLoaded(FormId::Reminder));
    EXPECT_EQ(g_log.back(), "reminder destroying");
    // Loaded again after closing: a new window and a new created event.
    ASSERT_TRUE(loadForm(FormId::Main));
    EXPECT_EQ(g_log.back(), "main created");
}

TEST_F(Forms, EndingTheProgramClosesEveryWindowWithItsExitCode) {
    ASSERT_TRUE(loadForm(FormId::Reminder));
    ASSERT_TRUE(loadForm(FormId::Main));
    endProgram(7);
    EXPECT_FALSE(isFormLoaded(FormId::Main));
    EXPECT_FALSE(isFormLoaded(FormId::Reminder));
    EXPECT_EQ(waitForQuit(), 7) << "not replaced by the last window's quit";
    EXPECT_NE(std::find(g_log.begin(), g_log.end(), "reminder destroying"), g_log.end());

    // Closing the last window ends the loop with 0.
    ASSERT_TRUE(loadForm(FormId::Main));
    closeForm(FormId::Main);
    EXPECT_EQ(waitForQuit(), 0);

    // The loop itself returns the code endProgram gives.
    ASSERT_TRUE(loadForm(FormId::Main));
    ::SetTimer(nullptr, 0, 50, endWithThree);
    EXPECT_EQ(runMessageLoop(), 3);
    EXPECT_EQ(runMessageLoop(), 0) << "no window: returns at once";
}

// Files dropped on a window reach its FilesDropped event, whole and in order,
// names beyond the code page included; the window frees the drop.
TEST_F(Forms, DroppedFilesReachTheirEvent) {
    ASSERT_TRUE(loadForm(FormId::Main));
    const std::vector<std::wstring> paths = {L"C:\\下载\\资料😀.zip", L"D:\\a b\\x.7z.001"};
    ::SendMessageW(formWindow(FormId::Main), WM_DROPFILES, reinterpret_cast<WPARAM>(makeDrop(paths)), 0);
    EXPECT_EQ(g_log.back(), "dropped 2");
    EXPECT_EQ(g_dropped, paths);
    EXPECT_TRUE(droppedFiles().empty()) << "kept only while the event runs";
}

TEST_F(Forms, PropertyOfAnUnloadedWindowIsFatal) {
    FatalHooks old = setFatalHooks({recordFatal, recordExit});
    struct Case {
        std::function<void()> call;
        const wchar_t* message;
    };
    const wchar_t* reading = L"读取组件属性时发现指定窗口尚未载入";
    const wchar_t* writing = L"修改组件属性时发现指定窗口尚未载入";
    const Case cases[] = {
        {[] { getProperty(FormId::Main, "标签1", Property::Left); }, reading},
        {[] { getProperty(FormId::Reminder, nullptr, Property::Width); }, reading},
        {[] { caption(FormId::Main, "标签1"); }, reading},
        {[] { setProperty(FormId::Reminder, "标签4", Property::Visible, 1); }, writing},
        {[] { setCaption(FormId::Main, "标签2", L"x"); }, writing},
        {[] { addListRow(FormId::Main, "列表框1", L"x"); }, writing},
    };
    for (const Case& c : cases) {
        g_fatalText.clear();
        g_fatalExit = 0;
        c.call();
        EXPECT_EQ(g_fatalText.rfind(L"运行时出错!", 0), 0u) << wideToUtf8(g_fatalText);
        EXPECT_NE(g_fatalText.find(std::wstring(L"错误信息：") + c.message), std::wstring::npos) << wideToUtf8(g_fatalText);
        EXPECT_EQ(g_fatalExit, -1);
    }
    EXPECT_EQ(fatalErrorText(L"数组成员引用下标超出定义范围", 5),
              L"运行时出错!\r\n\r\n错误代码：5\r\n错误信息：数组成员引用下标超出定义范围");
    setFatalHooks(old);
}

// Runs only inside the child process started by the next test.
TEST(FormsChild, DISABLED_ReadsAnUnloadedWindow) {
    setFatalHooks({[](std::wstring_view text) {
        std::ofstream out(std::getenv("QZ_FATAL_OUT"), std::ios::binary);
        out << wideToUtf8(text);
    }, nullptr});
    getProperty(FormId::Main, "标签1", Property::Left);
    ADD_FAILURE() << "still running after the fatal error";
}

TEST(FormsFatal, EndsTheProcessWithExitCodeMinusOne) {
    wchar_t exe[MAX_PATH];
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring out = std::wstring(temp) + L"qz-fatal-" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
    ::DeleteFileW(out.c_str());
    ::SetEnvironmentVariableW(L"QZ_FATAL_OUT", out.c_str());
    std::wstring cmd = L"\"" + std::wstring(exe) +
                       L"\" --gtest_also_run_disabled_tests --gtest_filter=FormsChild.DISABLED_ReadsAnUnloadedWindow";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    UniqueHandle process(pi.hProcess), thread(pi.hThread);
    ASSERT_EQ(::WaitForSingleObject(process.get(), 120000), WAIT_OBJECT_0);
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, 0xFFFFFFFFu);
    std::ifstream in(wideToUtf8(out).c_str(), std::ios::binary);
    std::string text{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(text.rfind("运行时出错!", 0), 0u) << text;
    EXPECT_NE(text.find("错误信息：读取组件属性时发现指定窗口尚未载入"), std::string::npos) << text;
    ::DeleteFileW(out.c_str());
}

TEST_F(Forms, OpeningAndClosingLeavesNoGdiOrUserObjects) {
    HICON icons[2] = {};
    HGDIOBJ titleFont = nullptr;
    auto openClose = [&] {
        if (!loadForm(FormId::Main)) return false;
        HWND main = formWindow(FormId::Main);
        setCaption(FormId::Main, "标签1", L"测试");
        addListRow(FormId::Main, "列表框1", L"row");
        ::SendMessageW(controlWindow(FormId::Main, "超级按钮2"), WM_MOUSEMOVE, 0, 0);
        ::UpdateWindow(main);
        icons[0] = reinterpret_cast<HICON>(::SendMessageW(main, WM_GETICON, ICON_SMALL, 0));
        icons[1] = reinterpret_cast<HICON>(::SendMessageW(main, WM_GETICON, ICON_BIG, 0));
        titleFont = reinterpret_cast<HGDIOBJ>(::SendMessageW(controlWindow(FormId::Main, "标签1"), WM_GETFONT, 0, 0));
        closeForm(FormId::Main);
        pumpPending();
        return !isFormLoaded(FormId::Main);
    };
    ASSERT_TRUE(openClose());  // anything made once per process exists now
    const long gdi = gdiObjectsInUse(), user = userObjectsInUse();
    for (int i = 0; i < 100; i++) ASSERT_TRUE(openClose()) << "round " << i;
    EXPECT_EQ(gdiObjectsInUse(), gdi);
    EXPECT_EQ(userObjectsInUse(), user);
    // What the last window held is gone with it.
    ICONINFO ii;
    EXPECT_FALSE(::GetIconInfo(icons[0], &ii)) << "small icon destroyed";
    EXPECT_FALSE(::GetIconInfo(icons[1], &ii)) << "large icon destroyed";
    EXPECT_EQ(::GetObjectType(titleFont), 0u) << "title font deleted";
}
