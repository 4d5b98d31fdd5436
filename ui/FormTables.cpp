// The window tables. Rectangles are client coordinates; rows are in
// stacking order, top first, and the tab order follows them.
#include "resources/ResourceIds.h"
#include "ui/FormTables.h"

// Rows name only what differs from a control's defaults; GCC warns about
// every member a designated initializer leaves out.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

constexpr ColourRef kWhite = rgb(255, 255, 255);
constexpr ColourRef kBlack = rgb(0, 0, 0);
constexpr ColourRef kAccentGreen = rgb(60, 202, 155);
constexpr ColourRef kHoverGreen = rgb(0, 224, 128);
constexpr ColourRef kPaleGreen = rgb(222, 234, 200);

constexpr FontSpec kTitleFont{-16, 400};
constexpr FontSpec kStatusFont{-14, 700};

// "立即解压" and "安全打开": white on accent green, hover green when the mouse is on it.
constexpr ButtonSpec kActionButton{.style = 0,
                                   .normalText = kWhite, .normalBack = kAccentGreen,
                                   .hoverText = kWhite, .hoverBack = kHoverGreen,
                                   .focusText = kWhite, .focusBack = kAccentGreen};

// The destination buttons: a glyph and black text; pale green rounded highlight.
constexpr ButtonSpec destinationButton(int image) {
    return {.style = 2, .imageResource = image,
            .normalText = kBlack, .normalBack = kWhite,
            .hoverText = kBlack, .hoverBack = kPaleGreen,
            .focusText = kBlack, .focusBack = kPaleGreen};
}
constexpr ButtonSpec kArchiveFolderButton = destinationButton(QZ_IDR_FOLDER_PNG);
constexpr ButtonSpec kDesktopButton = destinationButton(QZ_IDR_SCREEN_PNG);
constexpr ButtonSpec kCustomButton = destinationButton(QZ_IDR_FOLDER_OPEN_PNG);

constexpr ControlSpec kMainControls[] = {
    {.name = MainControl::kTitleMarker.name, .kind = ControlKind::Label, .box = {234, 12, 22, 24}, .visible = false,
     .caption = "...", .font = kTitleFont},
    {.name = MainControl::kExtract.name, .kind = ControlKind::SuperButton, .box = {262, 432, 97, 32}, .tabStop = true,
     .caption = "立即解压", .button = &kActionButton},
    {.name = MainControl::kCustomFolder.name, .kind = ControlKind::SuperButton, .box = {225, 387, 61, 25}, .tabStop = true,
     .caption = "自定义", .button = &kCustomButton},
    {.name = MainControl::kDesktop.name, .kind = ControlKind::SuperButton, .box = {161, 387, 56, 25}, .tabStop = true,
     .caption = "桌面", .button = &kDesktopButton},
    {.name = MainControl::kArchiveFolder.name, .kind = ControlKind::SuperButton, .box = {65, 387, 88, 25}, .tabStop = true,
     .caption = "当前文件夹", .button = &kArchiveFolderButton},
    {.name = MainControl::kExtractTo.name, .kind = ControlKind::Label, .box = {13, 387, 80, 24}, .caption = "解压到",
     .text = rgb(128, 128, 128)},
    {.name = MainControl::kEntryList.name, .kind = ControlKind::ListBox, .box = {6, 99, 364, 281}, .tabStop = true},
    {.name = MainControl::kListHeader.name, .kind = ControlKind::PushButton, .box = {-1, 67, 380, 26}, .tabStop = true,
     .caption = " 文件列表"},
    {.name = MainControl::kCountLine.name, .kind = ControlKind::Label, .box = {21, 40, 235, 15}, .caption = "标签", .text = kAccentGreen},
    {.name = MainControl::kTitle.name, .kind = ControlKind::Label, .box = {21, 12, 235, 24}, .font = kTitleFont},
    {.name = MainControl::kArchiveComponent.name, .kind = ControlKind::Component},
};

constexpr ControlSpec kReminderControls[] = {
    // Above "安全打开", clear of the title and the verdict.
    {.name = ReminderControl::kWaitingCount.name, .kind = ControlKind::Label, .box = {182, 20, 97, 18}, .visible = false,
     .text = rgb(128, 128, 128)},
    {.name = ReminderControl::kTitleMarker.name, .kind = ControlKind::Label, .box = {158, 50, 16, 24}, .visible = false, .caption = "..."},
    {.name = ReminderControl::kSafeOpen.name, .kind = ControlKind::SuperButton, .box = {182, 42, 97, 32}, .tabStop = true,
     .caption = "安全打开", .button = &kActionButton},
    {.name = ReminderControl::kTitle.name, .kind = ControlKind::Label, .box = {54, 50, 120, 24}},
    {.name = ReminderControl::kStatus.name, .kind = ControlKind::Label, .box = {19, 18, 155, 24}, .font = kStatusFont,
     .text = rgb(96, 96, 96)},
    {.name = ReminderControl::kArchiveIcon.name, .kind = ControlKind::PictureBox, .box = {20, 50, 24, 24},
     .imageResource = QZ_IDR_ARCHIVE_PNG},
    {.name = ReminderControl::kAccentBar.name, .kind = ControlKind::Label, .box = {-1, -3, 6, 107}, .back = kAccentGreen},
};

// Never shown as a menu bar (its top item is hidden): popped up from the tray icon.
constexpr MenuItemSpec kReminderMenu[] = {
    {.caption = ReminderControl::kTrayMenu.name, .level = 0, .visible = false},
    {.caption = ReminderControl::kOpenItem.name, .level = 1},
    {.caption = ReminderControl::kExitItem.name, .level = 1},
};

constexpr FormTable kForms[kFormCount] = {
    {FormId::Reminder, "ReminderWindow", "QuilloZIP快速解压提醒您", 300, 117, /*topmost*/ true,
     /*visible*/ false, kWhite, QZ_IDR_PROGRAM_ICO, kReminderControls, kReminderMenu, /*acceptsFiles*/ true},
    {FormId::Main, "MainWindow", "QuilloZIP快速解压", 383, 509, /*topmost*/ false, /*visible*/ true, kWhite,
     QZ_IDR_PROGRAM_ICO, kMainControls, {}, /*acceptsFiles*/ true},
};

constexpr ControlSpec kPasswordControls[] = {
    {.name = PasswordControl::kQuestion, .kind = ControlKind::Label, .box = {12, 12, 276, 18}},
    {.name = PasswordControl::kPassword, .kind = ControlKind::Edit, .box = {12, 36, 276, 24}, .tabStop = true},
    {.name = PasswordControl::kOk, .kind = ControlKind::PushButton, .box = {120, 78, 80, 28}, .tabStop = true,
     .caption = "确定"},
    {.name = PasswordControl::kCancel, .kind = ControlKind::PushButton, .box = {208, 78, 80, 28}, .tabStop = true,
     .caption = "取消"},
};

constexpr DialogTable kPasswordDialog{"输入密码", 300, 120, kPasswordControls};

}  // namespace

const FormTable& formTable(FormId id) { return kForms[static_cast<int>(id)]; }

const DialogTable& passwordDialogTable() { return kPasswordDialog; }
