#include "zip/EntryName.h"

#include <array>
#include <cstdint>
#include <cstring>

bool isGbkLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

namespace {

// Steps over one character: two bytes for a lead byte that has a second byte.
size_t nextCharacter(std::string_view text, size_t pos, LeadBytePredicate isLead) {
    if (isLead(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size()) return pos + 2;
    return pos + 1;
}

// First occurrence of a four-byte ASCII pattern that starts on a character
// boundary. Its bytes are ASCII, so a match found at a boundary is whole.
size_t findOnBoundary(std::string_view text, std::string_view pattern, LeadBytePredicate isLead) {
    for (size_t i = 0; i + pattern.size() <= text.size(); i = nextCharacter(text, i, isLead)) {
        if (text.compare(i, pattern.size(), pattern) == 0) return i;
    }
    return std::string_view::npos;
}

// An ASCII upper-case pattern against text of either width.
template <class Char>
bool equalsIgnoreAsciiCase(std::basic_string_view<Char> text, std::string_view upper) {
    if (text.size() != upper.size()) return false;
    for (size_t i = 0; i < text.size(); i++) {
        Char c = text[i];
        if (c >= Char('a') && c <= Char('z')) c = static_cast<Char>(c - 'a' + 'A');
        if (c != Char(upper[i])) return false;
    }
    return true;
}

// Windows opens a device for these names whatever follows the first dot,
// and ignores trailing spaces before it ("nul .txt"). COM and LPT take a
// digit 0 to 9 or a superscript 1, 2 or 3.
template <class Char>
bool isDeviceName(std::basic_string_view<Char> component) {
    std::basic_string_view<Char> stem = component.substr(0, component.find(Char('.')));
    while (!stem.empty() && stem.back() == Char(' ')) stem.remove_suffix(1);
    static constexpr std::array<std::string_view, 7> kFixed = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (std::string_view device : kFixed) {
        if (equalsIgnoreAsciiCase(stem, device)) return true;
    }
    if (stem.size() != 4) return false;
    const auto digit = static_cast<uint32_t>(stem[3]);
    const bool ported = (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    return ported && (equalsIgnoreAsciiCase(stem.substr(0, 3), "COM") || equalsIgnoreAsciiCase(stem.substr(0, 3), "LPT"));
}

// Control characters and <>:"|?*, which Windows does not store in a name.
bool cannotBeStored(wchar_t c) {
    switch (c) {
        case L'<': case L'>': case L':': case L'"': case L'|': case L'?': case L'*': return true;
        default: return static_cast<uint32_t>(c) < 0x20;
    }
}

}  // namespace

// Rules, tried in order; the first that matches is applied and the rules
// start again:
//  1. a drive prefix ("x:") is skipped;
//  2./3. a leading "\" or "/" is skipped;
//  4.-7. after the first "\..\", "\../", "/../" or "/..\" (each pattern in
//        that order, searched on character boundaries) the name continues;
//  8. a leading "../" or "..\" is skipped, so no cleaned name starts by
//     climbing out of the folder it is extracted to.
namespace {

// The rules for either width; find looks for a climb pattern on character
// boundaries.
template <class Char, class Find>
std::basic_string<Char> cleanName(std::basic_string_view<Char> stored, const Find& find) {
    std::basic_string_view<Char> name = stored.substr(0, stored.find(Char(0)));
    static constexpr const char* kClimbs[] = {"\\..\\", "\\../", "/../", "/..\\"};
    for (;;) {
        if (name.size() >= 2 && name[1] == Char(':')) {
            name.remove_prefix(2);
            continue;
        }
        if (!name.empty() && isSeparator(name[0])) {
            name.remove_prefix(1);
            continue;
        }
        bool climbed = false;
        for (const char* climb : kClimbs) {
            const Char pattern[4] = {Char(climb[0]), Char(climb[1]), Char(climb[2]), Char(climb[3])};
            size_t at = find(name, std::basic_string_view<Char>(pattern, 4));
            if (at != std::basic_string_view<Char>::npos) {
                name.remove_prefix(at + 4);
                climbed = true;
                break;
            }
        }
        if (climbed) continue;
        if (name.size() >= 3 && name[0] == Char('.') && name[1] == Char('.') && isSeparator(name[2])) {
            name.remove_prefix(3);
            continue;
        }
        return std::basic_string<Char>(name);
    }
}

}  // namespace

std::string cleanEntryName(std::string_view stored, LeadBytePredicate isLead) {
    return cleanName<char>(stored, [isLead](std::string_view name, std::string_view pattern) {
        return findOnBoundary(name, pattern, isLead);
    });
}

std::wstring cleanEntryName(std::wstring_view stored) {
    return cleanName<wchar_t>(stored, [](std::wstring_view name, std::wstring_view pattern) { return name.find(pattern); });
}

bool isAbsoluteName(std::string_view name) {
    if (name.empty()) return false;
    return isSeparator(name[0]) || (name.size() >= 2 && name[0] != '\0' && name[1] == ':');
}

size_t findLastSeparator(std::string_view text, LeadBytePredicate isLead) {
    size_t last = std::string_view::npos;
    for (size_t i = 0; i < text.size(); i = nextCharacter(text, i, isLead)) {
        if (isSeparator(text[i])) last = i;
    }
    return last;
}

bool endsWithSeparator(std::string_view text, LeadBytePredicate isLead) {
    size_t last = findLastSeparator(text, isLead);
    return last != std::string_view::npos && last + 1 == text.size();
}

size_t characterBoundary(std::string_view text, size_t maxBytes, LeadBytePredicate isLead) {
    if (text.size() <= maxBytes) return text.size();
    size_t i = 0;
    for (;;) {
        size_t next = nextCharacter(text, i, isLead);
        if (next > maxBytes) return i;
        i = next;
    }
}

std::string numberedName(std::string_view path, size_t folderLength, unsigned number) {
    // "." is below GBK's range of second bytes, so any "." byte is a dot.
    size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || dot <= folderLength) dot = path.size();
    std::string out(path.substr(0, dot));
    out += " (" + std::to_string(number) + ")";
    out += path.substr(dot);
    return out;
}

NameVerdict checkRelativeName(std::string_view name, LeadBytePredicate isLead) {
    // ":" is below GBK's range of second bytes, so any ":" byte is a colon.
    if (name.find(':') != std::string_view::npos) return NameVerdict::streamName;
    int depth = 0;
    size_t start = 0;
    for (size_t i = 0;; i = nextCharacter(name, i, isLead)) {
        bool end = i >= name.size();
        if (!end && !isSeparator(name[i])) continue;
        std::string_view component = name.substr(start, i - start);
        start = i + 1;
        if (component.empty() || component == ".") {
            // "a//b" and "a/./b" stay where they are.
        } else if (component == "..") {
            if (--depth < 0) return NameVerdict::leavesBase;
        } else {
            // Windows drops trailing dots and spaces, so "..." or ". ." would
            // become a name of its own choosing; refuse them outright.
            size_t kept = component.find_last_not_of(". ");
            if (kept == std::string_view::npos) return NameVerdict::leavesBase;
            if (isDeviceName<char>(component)) return NameVerdict::deviceName;
            depth++;
        }
        if (end) break;
    }
    return NameVerdict::safe;
}

bool isAbsoluteName(std::wstring_view name) {
    if (name.empty()) return false;
    return isSeparator(name[0]) || (name.size() >= 2 && name[0] != L'\0' && name[1] == L':');
}

std::wstring numberedName(std::wstring_view path, size_t folderLength, unsigned number) {
    size_t dot = path.rfind(L'.');
    if (dot == std::wstring_view::npos || dot <= folderLength) dot = path.size();
    std::wstring out(path.substr(0, dot));
    for (char c : " (" + std::to_string(number) + ")") out += static_cast<wchar_t>(c);
    out += path.substr(dot);
    return out;
}

NameVerdict prepareRelativeName(std::wstring_view name, std::wstring* prepared) {
    // A climb or a device further on outweighs a long component.
    bool tooLong = false;
    size_t depth = 0;  // components kept
    std::wstring out, component;
    if (prepared) out.reserve(name.size());
    size_t start = 0;
    for (size_t i = 0;; i++) {
        bool end = i >= name.size();
        if (!end && !isSeparator(name[i])) continue;
        std::wstring_view stored = name.substr(start, i - start);
        start = i + 1;
        if (stored.empty() || stored == L".") {
            // "a//b" and "a/./b" stay where they are.
        } else if (stored == L"..") {
            if (depth == 0) return NameVerdict::leavesBase;
            depth--;
            if (prepared) {
                size_t sep = out.rfind(L'\\');
                out.resize(sep == std::wstring::npos ? 0 : sep);
            }
        } else {
            // The characters that become "_" are no dots, spaces or part of
            // a device name: a name only judged is judged on them as stored.
            std::wstring_view kept = stored;
            if (prepared) {
                component.assign(stored);
                for (wchar_t& c : component) {
                    if (cannotBeStored(c)) c = L'_';
                }
                kept = component;
            }
            size_t last = kept.find_last_not_of(L". ");
            // "..." or ". ." would become a name of the system's choosing.
            if (last == std::wstring_view::npos) return NameVerdict::leavesBase;
            kept = kept.substr(0, last + 1);
            if (isDeviceName<wchar_t>(kept)) return NameVerdict::deviceName;
            tooLong = tooLong || kept.size() > kMaxComponentUnits;
            depth++;
            if (prepared) {
                if (!out.empty()) out += L'\\';
                out += kept;
            }
        }
        if (end) break;
    }
    if (tooLong) return NameVerdict::tooLong;
    if (prepared) *prepared = std::move(out);
    return NameVerdict::safe;
}
