// Opens both windows with stand-in handlers so they can be looked at and
// clicked before the application's own flow is bound: the reminder shows a
// sample download, "安全打开" opens the main window with sample rows, the
// tray icon's menu ends the demo.
#include "ui/Forms.h"

#include <string>

namespace {

void parkReminder() {
    const int w = getProperty(FormId::Reminder, nullptr, Property::Width);
    const int h = getProperty(FormId::Reminder, nullptr, Property::Height);
    setProperty(FormId::Reminder, nullptr, Property::Left, ::GetSystemMetrics(SM_CXSCREEN) - w - 10);
    setProperty(FormId::Reminder, nullptr, Property::Top, ::GetSystemMetrics(SM_CYSCREEN) - h - 50);
}

void onReminderCreated(int) {
    setTrayIcon(FormId::Reminder, programIconBytes(), L"QuilloZIP快速解压");
    setCaption(FormId::Reminder, "标签3", L"项目资料与设计稿合集2024年终版");
    setProperty(FormId::Reminder, "标签4", Property::Visible, 1);
    setCaption(FormId::Reminder, "标签2", L"下载完毕，压缩包安全");
}

void onReminderTray(int op) {
    if (op == tray::kLeftUp) popupMenu(FormId::Reminder, "辅助");
}

void onExitChosen(int) { endProgram(0); }

void onSafeOpen(int) {
    setProperty(FormId::Reminder, nullptr, Property::Visible, 0);
    loadForm(FormId::Main);
}

void onMainCreated(int) {
    const std::wstring title = caption(FormId::Reminder, "标签3");
    setCaption(FormId::Main, "标签1", title);
    setProperty(FormId::Main, "标签5", Property::Visible, title.size() > 13 ? 1 : 0);
    const wchar_t* rows[] = {L"设计稿/", L"设计稿/首页.png", L"设计稿/详情页.png", L"资料/", L"资料/需求说明.docx",
                             L"资料/预算表.xlsx", L"readme.txt", L"更新日志.md"};
    for (const wchar_t* row : rows) addListRow(FormId::Main, "列表框1", row);
    setCaption(FormId::Main, "标签2", L"共有" + std::to_wstring(std::size(rows)) + L"个文件，请放心解压");
}

void showDestination(int) { setCaption(FormId::Main, "标签3", L"已选择"); }

constexpr EventBinding kBindings[] = {
    {FormId::Reminder, nullptr, FormEvent::Created, onReminderCreated},
    {FormId::Reminder, nullptr, FormEvent::TrayIcon, onReminderTray},
    {FormId::Reminder, "退出", FormEvent::Clicked, onExitChosen},
    {FormId::Reminder, "超级按钮4", FormEvent::Clicked, onSafeOpen},
    {FormId::Main, nullptr, FormEvent::Created, onMainCreated},
    {FormId::Main, "超级按钮1", FormEvent::Clicked, showDestination},
    {FormId::Main, "超级按钮2", FormEvent::Clicked, showDestination},
    {FormId::Main, "超级按钮3", FormEvent::Clicked, showDestination},
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    bindEvents(kBindings);
    if (!loadForm(FormId::Reminder)) return 1;
    parkReminder();
    setProperty(FormId::Reminder, nullptr, Property::Visible, 1);
    return runMessageLoop();
}
