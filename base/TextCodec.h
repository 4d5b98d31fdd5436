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

// The code page names without the UTF-8 flag are read in: the system's ANSI
// code page, unless that is UTF-8 (the "beta: UTF-8 for worldwide language
// support" option), when names in it would be UTF-8 already and rule out
// nothing; the legacy names such systems receive are then taken as GBK (936),
// the code page of the people this program is for.
UINT legacyNameCodePage();

// Bytes in a code page to UTF-16, checked character by character: a byte
// that starts no valid character there (a lone lead byte, a lead byte with an
// invalid second byte, an unassigned byte) becomes "_" instead of being
// dropped or guessed, so the name that is checked is the name that is made.
std::wstring legacyToWide(std::string_view text, UINT codePage);

// UTF-16 to the ANSI code page with "_" for every character it cannot hold.
std::string wideToAnsiName(std::wstring_view text);
