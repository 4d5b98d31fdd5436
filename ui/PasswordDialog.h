// The small modal dialog that asks for an archive's password: title
// "输入密码", a line, a password edit box, "确定" and "取消". Enter is 确定,
// Esc and the close box are 取消.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

// Shows the dialog over owner (disabled meanwhile) and returns the typed
// password, or nothing for 取消. again shows the line for a wrong password.
std::optional<std::wstring> askPassword(HWND owner, bool again);
