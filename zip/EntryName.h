// Entry names and the paths made from them: cleaning a stored name, telling
// absolute from relative names, splitting at separators and deciding whether
// a relative name may be written under the base folder. Extraction works on
// wide names (UTF-16 code units, whatever the width of wchar_t). The byte
// string forms are in the ANSI code page; a double-byte character's second
// byte may be 0x5C ("\") in GBK, so every search for a separator there walks
// the text character by character with a lead-byte predicate.
#pragma once

#include "base/PathText.h"

#include <cstddef>
#include <string>
#include <string_view>

// True when the byte starts a double-byte character.
using LeadBytePredicate = bool (*)(unsigned char);

// GBK (code page 936): lead bytes are 0x81 to 0xFE. The default for callers
// that do not ask the system, such as the host tests and the fuzz targets.
bool isGbkLeadByte(unsigned char byte);

// The longest path text the library writes: MAX_PATH less the NUL.
constexpr size_t kMaxPathBytes = 259;

inline bool isSeparator(char c) { return c == '\\' || c == '/'; }

// Strips drive prefixes, leading separators and everything up to a "..":
// see the rules in EntryName.cpp. Stops at an embedded NUL.
std::string cleanEntryName(std::string_view stored, LeadBytePredicate isLead = isGbkLeadByte);

// A name is absolute when it starts with a separator or a drive ("x:").
bool isAbsoluteName(std::string_view name);

// Position of the last "\" or "/" that is a character of its own, or npos.
size_t findLastSeparator(std::string_view text, LeadBytePredicate isLead = isGbkLeadByte);

// Whether the text's last character is a separator.
bool endsWithSeparator(std::string_view text, LeadBytePredicate isLead = isGbkLeadByte);

// The longest prefix of at most maxBytes that does not split a character.
size_t characterBoundary(std::string_view text, size_t maxBytes, LeadBytePredicate isLead = isGbkLeadByte);

// path with " (number)" put before the extension of its file part (the
// part after folderLength bytes): "a/名称.txt", 2 -> "a/名称 (2).txt". A
// leading dot does not start an extension.
std::string numberedName(std::string_view path, size_t folderLength, unsigned number);

enum class NameVerdict {
    safe,
    leavesBase,     // ".." climbs above the base folder, or a component of dots only
    deviceName,     // CON, NUL, COM1 ... in any component, also with an extension
    streamName,     // ":" would name an alternate data stream (byte string form only)
    tooLong,        // a component longer than kMaxComponentUnits
};

// Judges a relative name before it is joined to the base folder.
NameVerdict checkRelativeName(std::string_view name, LeadBytePredicate isLead = isGbkLeadByte);

// The longest name component Windows stores, in UTF-16 units.
constexpr size_t kMaxComponentUnits = 255;

inline bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }


// The wide forms. Rules as for byte strings; UTF-16 has no second byte that
// looks like a separator.
std::wstring cleanEntryName(std::wstring_view stored);
bool isAbsoluteName(std::wstring_view name);
std::wstring numberedName(std::wstring_view path, size_t folderLength, unsigned number);

// The relative name as it will be created below the base folder, judged on
// exactly that form: components joined with "\", "." and empty ones left
// out, ".." taking back the component before it; characters Windows cannot
// store (control characters and <>:"|?*) become "_" (so a ":" never opens
// a stream); trailing dots and spaces are dropped from every component, as
// Windows does when it resolves a path. Refused: a climb above the base, a
// component of dots and spaces only, a device name in any component (CON,
// PRN, AUX, NUL, COM0-9, LPT0-9 and their superscript-digit forms, CONIN$,
// CONOUT$, CLOCK$, with any extension), a component over 255 units. The
// prepared name is set only for a safe name; with none asked for, the name
// is only judged.
NameVerdict prepareRelativeName(std::wstring_view name, std::wstring* prepared);
inline NameVerdict checkRelativeName(std::wstring_view name) { return prepareRelativeName(name, nullptr); }
