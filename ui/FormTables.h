// The two windows described as data: one table per window with a row per
// control in stacking order, as the designer lays them out. Form.cpp builds
// any window from its table. Platform-free.
#pragma once

#include "ui/Colour.h"

#include <span>

enum class FormId { Reminder, Main };
constexpr int kFormCount = 2;

// A control of one of the windows (or a menu item, by its caption), by its
// designer name. Each name is written once, here; the tables and the
// application use these constants, so a misspelt name does not compile.
struct Control {
    FormId form;
    const char* name;
};

namespace ReminderControl {
inline constexpr Control kAccentBar{FormId::Reminder, "标签1"};
inline constexpr Control kStatus{FormId::Reminder, "标签2"};       // the verdict
inline constexpr Control kTitle{FormId::Reminder, "标签3"};        // the download's file title
inline constexpr Control kTitleMarker{FormId::Reminder, "标签4"};  // "..." after a title too wide to show
inline constexpr Control kSafeOpen{FormId::Reminder, "超级按钮4"};  // "安全打开"
inline constexpr Control kArchiveIcon{FormId::Reminder, "图片框1"};
inline constexpr Control kWaitingCount{FormId::Reminder, "标签5"};  // "还有N个" while more downloads wait
// The tray menu: its hidden top item and the items under it.
inline constexpr Control kTrayMenu{FormId::Reminder, "辅助"};
inline constexpr Control kOpenItem{FormId::Reminder, "打开压缩包…"};
inline constexpr Control kExitItem{FormId::Reminder, "退出"};
}  // namespace ReminderControl

namespace MainControl {
inline constexpr Control kTitle{FormId::Main, "标签1"};         // the archive's file title
inline constexpr Control kCountLine{FormId::Main, "标签2"};     // count, verdict, progress and result
inline constexpr Control kExtractTo{FormId::Main, "标签3"};     // "解压到"
inline constexpr Control kTitleMarker{FormId::Main, "标签5"};   // "..." after a title too wide to show
inline constexpr Control kEntryList{FormId::Main, "列表框1"};
inline constexpr Control kListHeader{FormId::Main, "按钮1"};    // " 文件列表"
inline constexpr Control kArchiveFolder{FormId::Main, "超级按钮1"};  // "当前文件夹"
inline constexpr Control kDesktop{FormId::Main, "超级按钮2"};        // "桌面"
inline constexpr Control kCustomFolder{FormId::Main, "超级按钮3"};   // "自定义"
inline constexpr Control kExtract{FormId::Main, "超级按钮4"};        // "立即解压" / "取消解压"
inline constexpr Control kArchiveComponent{FormId::Main, "ZIP压缩1"};
}  // namespace MainControl

enum class ControlKind { Label, SuperButton, ListBox, PushButton, PictureBox, Component, Edit };

// Zero height means the system's default GUI font; otherwise a logical font
// of that character height (negative, as in LOGFONT), this weight,
// character set GB2312 (134) and an empty face name.
struct FontSpec {
    int height = 0;
    int weight = 400;
    constexpr bool isDefault() const { return height == 0; }
};

struct Box {
    int left = 0, top = 0, width = 0, height = 0;
};

// The per-instance settings of a super button, as the window table lists
// them. Every other setting is shared by the program's buttons (see
// buttonSettingsFor in Form.cpp).
struct ButtonSpec {
    int style = 0;
    int imageResource = 0;  // 0 for no image
    ColourRef normalText = 0, normalBack = 0;
    ColourRef hoverText = 0, hoverBack = 0;
    ColourRef focusText = 0, focusBack = 0;
};

struct ControlSpec {
    const char* name = "";
    ControlKind kind = ControlKind::Label;
    Box box;
    bool visible = true;
    bool tabStop = false;
    const char* caption = "";  // UTF-8
    FontSpec font;
    ColourRef text = rgb(0, 0, 0);
    ColourRef back = rgb(255, 255, 255);
    const ButtonSpec* button = nullptr;  // super buttons
    int imageResource = 0;               // picture boxes
};

struct MenuItemSpec {
    const char* caption = "";  // "-" would be a separator
    int level = 0;
    bool visible = true;
    bool enabled = true;
    bool checked = false;
};

struct FormTable {
    FormId id;
    const char* name;
    const char* caption;
    int width, height;  // outer size, frame and title bar included
    bool topmost;
    bool visible;       // shown once the created event has run
    ColourRef background;
    int iconResource;   // the icon file's raw bytes (RCDATA)
    std::span<const ControlSpec> controls;  // first row is the top of the z-order and of the tab order
    std::span<const MenuItemSpec> menu;
    bool acceptsFiles = false;  // files dropped on it from the shell raise FilesDropped
};

const FormTable& formTable(FormId id);

// A modal dialog described as data like the windows: its caption, its
// client size at 96 DPI and its controls in tab order.
struct DialogTable {
    const char* caption;
    int clientWidth, clientHeight;
    std::span<const ControlSpec> controls;
};

// The password dialog's controls, by their designer names.
namespace PasswordControl {
inline constexpr char kQuestion[] = "标签1";   // "压缩包已加密，请输入密码：" or, after a wrong one, "密码错误，请重新输入："
inline constexpr char kPassword[] = "文本框1";  // the password, shown as dots
inline constexpr char kOk[] = "确定";           // also Enter
inline constexpr char kCancel[] = "取消";       // also Esc and the close box
}  // namespace PasswordControl

const DialogTable& passwordDialogTable();
