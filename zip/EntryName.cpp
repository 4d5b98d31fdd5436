#include "zip/EntryName.h"

#include <array>
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

bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

// Windows opens a device for these names whatever follows the first dot,
// and ignores trailing spaces before it ("nul .txt").
bool isDeviceName(std::string_view component) {
    std::string_view stem = component.substr(0, component.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    static constexpr std::array<std::string_view, 7> kFixed = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (std::string_view device : kFixed) {
        if (equalsIgnoreAsciiCase(stem, device)) return true;
    }
    if (stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9') {
        std::string_view prefix = stem.substr(0, 3);
        return equalsIgnoreAsciiCase(prefix, "COM") || equalsIgnoreAsciiCase(prefix, "LPT");
    }
    return false;
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
std::string cleanEntryName(std::string_view stored, LeadBytePredicate isLead) {
    std::string_view name = stored.substr(0, stored.find('\0'));
    static constexpr std::array<std::string_view, 4> kClimbs = {"\\..\\", "\\../", "/../", "/..\\"};
    for (;;) {
        if (name.size() >= 2 && name[1] == ':') {
            name.remove_prefix(2);
            continue;
        }
        if (!name.empty() && isSeparator(name[0])) {
            name.remove_prefix(1);
            continue;
        }
        bool climbed = false;
        for (std::string_view climb : kClimbs) {
            size_t at = findOnBoundary(name, climb, isLead);
            if (at != std::string_view::npos) {
                name.remove_prefix(at + climb.size());
                climbed = true;
                break;
            }
        }
        if (climbed) continue;
        if (name.size() >= 3 && name[0] == '.' && name[1] == '.' && isSeparator(name[2])) {
            name.remove_prefix(3);
            continue;
        }
        return std::string(name);
    }
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
            if (isDeviceName(component)) return NameVerdict::deviceName;
            depth++;
        }
        if (end) break;
    }
    return NameVerdict::safe;
}
