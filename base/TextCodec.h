// The one place where text crosses between the program's byte strings and
// the wide-character API. Byte strings are either UTF-8 (the program's own
// literals) or a Windows ANSI code page (file names, entry names).
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

std::wstring toWide(std::string_view text, UINT codePage);
std::string fromWide(std::wstring_view text, UINT codePage);

inline std::wstring utf8ToWide(std::string_view text) { return toWide(text, CP_UTF8); }
inline std::string wideToUtf8(std::wstring_view text) { return fromWide(text, CP_UTF8); }
inline std::wstring ansiToWide(std::string_view text) { return toWide(text, CP_ACP); }
inline std::string wideToAnsi(std::wstring_view text) { return fromWide(text, CP_ACP); }
inline std::string utf8ToAnsi(std::string_view text) { return wideToAnsi(utf8ToWide(text)); }
inline std::string ansiToUtf8(std::string_view text) { return wideToUtf8(ansiToWide(text)); }
