#include "zip/NameEncoding.h"

namespace {

// The code point starting at text[i] and its length; 0 for a length when the
// sequence is not strictly valid.
size_t readCodePoint(std::string_view text, size_t i, uint32_t* codePoint) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char first = byte(i);
    if (first < 0x80) {
        *codePoint = first;
        return 1;
    }
    size_t length;
    uint32_t value, least;
    if (first >= 0xC2 && first <= 0xDF) {
        length = 2, value = first & 0x1Fu, least = 0x80;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3, value = first & 0x0Fu, least = 0x800;
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4, value = first & 0x07u, least = 0x10000;
    } else {
        return 0;  // a continuation byte, C0/C1 (always overlong) or F5 and above
    }
    if (text.size() - i < length) return 0;
    for (size_t k = 1; k < length; k++) {
        unsigned char next = byte(i + k);
        if ((next & 0xC0) != 0x80) return 0;
        value = value << 6 | (next & 0x3Fu);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *codePoint = value;
    return length;
}

}  // namespace

bool isAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

bool isStrictUtf8(std::string_view text) {
    uint32_t ignored;
    for (size_t i = 0; i < text.size();) {
        size_t n = readCodePoint(text, i, &ignored);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::optional<std::wstring> decodeUtf8(std::string_view text) {
    // Never more units than bytes: written in place, then cut to size.
    std::wstring out(text.size(), L'\0');
    size_t n = 0;
    for (size_t i = 0; i < text.size();) {
        const auto first = static_cast<unsigned char>(text[i]);
        if (first < 0x80) {
            out[n++] = static_cast<wchar_t>(first);
            i++;
            continue;
        }
        uint32_t c = 0;
        size_t length = readCodePoint(text, i, &c);
        if (length == 0) return std::nullopt;
        i += length;
        if (c < 0x10000) {
            out[n++] = static_cast<wchar_t>(c);
        } else {
            c -= 0x10000;
            out[n++] = static_cast<wchar_t>(0xD800 + (c >> 10));
            out[n++] = static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
        }
    }
    out.resize(n);
    return out;
}

std::string encodeUtf8(std::wstring_view utf16) {
    // At most three bytes a unit (a surrogate pair makes four from two).
    std::string out(3 * utf16.size(), '\0');
    size_t n = 0;
    for (size_t i = 0; i < utf16.size(); i++) {
        uint32_t c = static_cast<uint32_t>(utf16[i]) & 0xFFFF;
        if (c < 0x80) {
            out[n++] = static_cast<char>(c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size()) {
            uint32_t low = static_cast<uint32_t>(utf16[i + 1]) & 0xFFFF;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i++;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
        if (c < 0x800) {
            out[n++] = static_cast<char>(0xC0 | c >> 6);
            out[n++] = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out[n++] = static_cast<char>(0xE0 | c >> 12);
            out[n++] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out[n++] = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out[n++] = static_cast<char>(0xF0 | c >> 18);
            out[n++] = static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out[n++] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out[n++] = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    out.resize(n);
    return out;
}

NameSource chooseNameSource(uint16_t flags, std::string_view stored, const std::optional<std::string>& unicodePath,
                            bool plainUtf8) {
    stored = stored.substr(0, stored.find('\0'));
    if ((flags & kUtf8NameFlag) && isStrictUtf8(stored)) return {stored, true};
    if (unicodePath && !unicodePath->empty()) {
        std::string_view path(*unicodePath);
        path = path.substr(0, path.find('\0'));
        if (!path.empty() && isStrictUtf8(path)) return {path, true};
    }
    // Rule 3 never reads a name flagged UTF-8 whose bytes are not: the flag
    // says what the maker meant, and it was not UTF-8.
    return {stored, plainUtf8 && !(flags & kUtf8NameFlag)};
}

void PlainNameVote::add(uint16_t versionMadeBy, uint16_t flags, std::string_view stored,
                        const std::optional<std::string>& unicodePath) {
    if (sawOther_) return;
    stored = stored.substr(0, stored.find('\0'));
    if (isAscii(stored)) return;
    NameSource decided = chooseNameSource(flags, stored, unicodePath, false);
    if (decided.utf8) return;
    if (!madeOnUnix(versionMadeBy) || !isStrictUtf8(stored)) sawOther_ = true;
}
