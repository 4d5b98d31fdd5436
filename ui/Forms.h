// What the application does with the two windows. Every function here runs
// on the GUI thread (the thread that loads the windows); a worker thread
// hands its work to that thread first.
//
// Controls are addressed by their designer names, named once beside the
// window tables (ReminderControl::kTitle is "标签3"); nullptr addresses the
// window itself. Texts are wide: texts from
// the system's ANSI code page are converted by the caller.
//
//     constexpr EventBinding kBindings[] = {
//         {FormId::Reminder, nullptr, FormEvent::Created, onReminderCreated},
//         {FormId::Reminder, nullptr, FormEvent::TrayIcon, onReminderTray},
//         onEvent(ReminderControl::kExitItem, FormEvent::Clicked, onExitChosen),
//         onEvent(ReminderControl::kSafeOpen, FormEvent::Clicked, onSafeOpen),
//         ...
//     };
//     bindEvents(kBindings);
//     loadForm(FormId::Reminder);   // its created event runs inside
//     return runMessageLoop();
//
// Executables that show the windows link qz_ui and qz_resources (images,
// program icon and manifest).
#pragma once

#include "ui/FormTables.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class Property { Left = 0, Top = 1, Width = 2, Height = 3, Visible = 5 };

enum class FormEvent {
    Created,     // the window and its controls exist; raised before it is shown
    Destroying,  // the window is about to be destroyed
    TrayIcon,    // notification-area icon: arg 1 left up, 2 left double click, 3 right up / context menu
    Clicked,     // a super button (source: its name) or a menu item (source: its caption)
    CloseBox,    // the close box (WM_CLOSE); when bound, it runs instead of closing the window
    FilesDropped,  // files dropped from the shell (tables with acceptsFiles): arg their number, see droppedFiles
};

namespace tray {
constexpr int kLeftUp = 1, kLeftDoubleClick = 2, kRightUp = 3;
constexpr UINT kCallbackMessage = WM_APP + 0x64;
constexpr UINT kIconId = 100;
}  // namespace tray

// Connects one event of a window (source nullptr), a super button or a menu
// item of that window to an operation of the application.
struct EventBinding {
    FormId form;
    const char* source;
    FormEvent event;
    void (*operation)(int arg);
};

// Replaces the binding table; the rows are copied.
void bindEvents(std::span<const EventBinding> bindings);

// Creates the window and its controls from the window table, raises the
// created event, then shows it if the table says so. A window that is
// already loaded is only restored and activated, without an event.
bool loadForm(FormId form);
bool isFormLoaded(FormId form);
HWND formWindow(FormId form);                        // nullptr when not loaded
HWND controlWindow(FormId form, const char* control);  // nullptr when not loaded or unknown
void closeForm(FormId form);                         // destroys it (the close box may be bound to hide instead)

// Left, top, width and height of a window are screen coordinates; of a
// control, client coordinates of its window. Visible is 1 or 0. Reading or
// writing on a window that is not loaded is a fatal error.
int getProperty(FormId form, const char* control, Property property);
void setProperty(FormId form, const char* control, Property property, int value);

// The text of a label (or of the window's title bar for nullptr).
std::wstring caption(FormId form, const char* control);
void setCaption(FormId form, const char* control, std::wstring_view text);

// Moves the window so that its bottom-right corner is `margin` pixels
// (designed at 96 DPI, scaled) from the right and bottom edges of the work
// area of the monitor that holds the taskbar's notification area.
void placeInWorkAreaCorner(FormId form, int margin);

// A label's text colour from now on; std::nullopt gives back the table's.
void setTextColour(FormId form, const char* control, std::optional<ColourRef> colour);

// Appends a row to a list box; returns its index, or -1.
int addListRow(FormId form, const char* control, std::wstring_view text,
               std::optional<intptr_t> itemValue = std::nullopt);
// Replaces a list box row's text in place, keeping its value; false when
// there is no such row.
bool setListRow(FormId form, const char* control, int row, std::wstring_view text);

// Pops up the sub-items of a top-level item of the window's menu at the
// cursor plus (3, 3); the chosen item raises its clicked event.
void popupMenu(FormId form, const char* topItem);

// The window's notification-area icon, made from .ico bytes, with a tooltip
// cut to 62 bytes of its code page 936 form. Empty bytes remove the icon.
// The icon goes when the window is destroyed.
bool setTrayIcon(FormId form, std::span<const uint8_t> ico, std::wstring_view tip);

// The program icon's .ico bytes, embedded in the executable.
std::span<const uint8_t> programIconBytes();

// The same operations on a named control (see ReminderControl and
// MainControl), which carries its window.
inline HWND controlWindow(Control c) { return controlWindow(c.form, c.name); }
inline int getProperty(Control c, Property p) { return getProperty(c.form, c.name, p); }
inline void setProperty(Control c, Property p, int value) { setProperty(c.form, c.name, p, value); }
inline std::wstring caption(Control c) { return caption(c.form, c.name); }
inline void setCaption(Control c, std::wstring_view text) { setCaption(c.form, c.name, text); }
inline void setTextColour(Control c, std::optional<ColourRef> colour) { setTextColour(c.form, c.name, colour); }
inline int addListRow(Control c, std::wstring_view text, std::optional<intptr_t> itemValue = std::nullopt) {
    return addListRow(c.form, c.name, text, itemValue);
}
inline bool setListRow(Control c, int row, std::wstring_view text) { return setListRow(c.form, c.name, row, text); }
inline void popupMenu(Control topItem) { popupMenu(topItem.form, topItem.name); }
// A binding of a control's (or menu item's) event.
constexpr EventBinding onEvent(Control c, FormEvent event, void (*operation)(int)) {
    return {c.form, c.name, event, operation};
}

// The full paths of the files whose drop raises FilesDropped, in the order
// the shell gave them; valid while that event runs.
const std::vector<std::wstring>& droppedFiles();

// Runs the message loop while any window is loaded; returns the exit code.
// The quit message is posted when the last window is destroyed.
int runMessageLoop();
// Destroys every window and ends the message loop with this exit code.
void endProgram(int exitCode);
