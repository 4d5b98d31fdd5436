#include "app/extract/ZoneMarkText.h"

#include <cstdint>

namespace {

// The stream's characters as bytes: UTF-16 units outside ASCII become '?',
// which is never part of a section name, key or ZoneId.
std::string asNarrowText(std::string_view bytes) {
    auto byteAt = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
    bool wide = false, bigEndian = false;
    size_t start = 0;
    if (bytes.size() >= 3 && byteAt(0) == 0xEF && byteAt(1) == 0xBB && byteAt(2) == 0xBF) {
        start = 3;
    } else if (bytes.size() >= 2 && byteAt(0) == 0xFF && byteAt(1) == 0xFE) {
        wide = true;
        start = 2;
    } else if (bytes.size() >= 2 && byteAt(0) == 0xFE && byteAt(1) == 0xFF) {
        wide = bigEndian = true;
        start = 2;
    } else if (bytes.size() >= 2 && byteAt(0) != 0 && byteAt(1) == 0) {
        wide = true;  // UTF-16 without a mark: "[" then a zero byte
    }
    if (!wide) return std::string(bytes.substr(start));
    std::string text;
    text.reserve(bytes.size() / 2);
    for (size_t i = start; i + 1 < bytes.size(); i += 2) {
        const unsigned unit = bigEndian ? (byteAt(i) << 8 | byteAt(i + 1)) : (byteAt(i + 1) << 8 | byteAt(i));
        text.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return text;
}

std::string_view trimmed(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

bool sameWord(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// A zone number: decimal digits alone, at most nine of them.
std::optional<int> zoneNumber(std::string_view value) {
    if (value.empty() || value.size() > 9) return std::nullopt;
    int n = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

}  // namespace

std::optional<int> streamZone(std::string_view stream) {
    const std::string text = asNarrowText(stream);
    bool inSection = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos) end = text.size();
        const std::string_view line = trimmed(std::string_view(text).substr(at, end - at));
        at = end + 1;
        if (line.empty()) continue;
        if (line.front() == '[') {
            inSection = line.back() == ']' && sameWord(trimmed(line.substr(1, line.size() - 2)), "ZoneTransfer");
            continue;
        }
        const size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos || !sameWord(trimmed(line.substr(0, equals)), "ZoneId"))
            continue;
        return zoneNumber(trimmed(line.substr(equals + 1)));
    }
    return std::nullopt;
}

std::string referrerText(const std::optional<std::string>& ansiPath, std::string_view utf8Path) {
    if (ansiPath) return *ansiPath;
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (char c : utf8Path) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '%') {
            text.push_back(c);
            continue;
        }
        text += {'%', kHex[byte >> 4], kHex[byte & 15]};
    }
    return text;
}

std::optional<std::string> inheritedZoneMark(std::string_view archiveStream, std::string_view referrer) {
    const std::optional<int> zone = streamZone(archiveStream);
    if (!zone || !zonePassesOn(*zone)) return std::nullopt;
    std::string mark = "[ZoneTransfer]\r\nZoneId=";
    mark += std::to_string(*zone);
    mark += "\r\nReferrerUrl=";
    mark += referrer;
    mark += "\r\n";
    return mark;
}
