// The small modal dialog that asks for an archive's password: title
// "输入密码", a line, a password edit box, "确定" and "取消". Enter is 确定,
// Esc and the close box are 取消; it ends unanswered when its owner goes.
// Like the other windows it is described as data (passwordDialogTable in
// ui/FormTables) and laid out from its 96-DPI design at its monitor's DPI,
// and again when that changes.
#pragma once

#include <windows.h>

#include <optional>
#include <span>
#include <string>

#include "ui/FormTables.h"

// The design at 96 DPI: the client area and each control, by its id.
struct DialogItem {
    int id;
    Box box;
};
constexpr int kPasswordDialogWidth = 300, kPasswordDialogHeight = 120;
std::span<const DialogItem> passwordDialogItems();

// Shows the dialog over owner (disabled meanwhile) and returns the typed
// password, or nothing for 取消. again shows the line for a wrong password.
std::optional<std::wstring> askPassword(HWND owner, bool again);
