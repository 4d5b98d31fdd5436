#include "app/OpenRequest.h"

#include "base/PathText.h"

#include <algorithm>

namespace {

bool isExtractSwitch(std::wstring_view arg) {
    constexpr std::wstring_view kSwitch = L"/extract";
    if (arg.size() != kSwitch.size()) return false;
    for (size_t i = 0; i < arg.size(); ++i) {
        const wchar_t c = arg[i] >= L'A' && arg[i] <= L'Z' ? static_cast<wchar_t>(arg[i] - L'A' + L'a') : arg[i];
        if (c != kSwitch[i]) return false;
    }
    return true;
}

// UTF-16 units of a wide text: as they are where wchar_t is 16 bits; code
// points beyond the Basic Multilingual Plane as surrogate pairs where it
// holds whole code points.
void appendUnits(std::vector<uint16_t>& units, std::wstring_view text) {
    for (wchar_t c : text) {
        const auto code = static_cast<uint32_t>(c);
        if (code > 0xFFFF) {
            units.push_back(static_cast<uint16_t>(0xD800 + ((code - 0x10000) >> 10)));
            units.push_back(static_cast<uint16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<uint16_t>(code));
        }
    }
}

std::wstring fromUnits(std::span<const uint16_t> units) {
    std::wstring text;
    text.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        const uint16_t unit = units[i];
        if constexpr (sizeof(wchar_t) > 2) {
            // A pair is one code point here; a lone half stays as it is.
            if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
                units[i + 1] <= 0xDFFF) {
                text += static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00));
                ++i;
                continue;
            }
        }
        text += static_cast<wchar_t>(unit);
    }
    return text;
}

void putU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void putU32(std::vector<uint8_t>& out, uint32_t v) {
    putU16(out, static_cast<uint16_t>(v));
    putU16(out, static_cast<uint16_t>(v >> 16));
}

void putText(std::vector<uint8_t>& out, std::wstring_view text) {
    std::vector<uint16_t> units;
    appendUnits(units, text);
    putU32(out, static_cast<uint32_t>(units.size()));
    for (uint16_t unit : units) putU16(out, unit);
    putU16(out, 0);
}

// Reads the record front to back; every read is checked against what is left.
class RecordReader {
public:
    explicit RecordReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    bool u16(uint16_t& v) {
        if (bytes_.size() - pos_ < 2) return false;
        v = static_cast<uint16_t>(bytes_[pos_] | bytes_[pos_ + 1] << 8);
        pos_ += 2;
        return true;
    }
    bool u32(uint32_t& v) {
        uint16_t low, high;
        if (!u16(low) || !u16(high)) return false;
        v = static_cast<uint32_t>(high) << 16 | low;
        return true;
    }
    bool text(std::wstring& out) {
        uint32_t length;
        // The length is checked against the bytes left before anything is reserved.
        if (!u32(length) || length >= kMaxPathUnits || (bytes_.size() - pos_) / 2 < size_t{length} + 1) return false;
        std::vector<uint16_t> units(length);
        for (uint16_t& unit : units)
            if (!u16(unit) || unit == 0) return false;
        uint16_t terminator;
        if (!u16(terminator) || terminator != 0) return false;
        out = fromUnits(units);
        return true;
    }
    bool atEnd() const { return pos_ == bytes_.size(); }

private:
    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
};

}  // namespace

OpenRequest parseArguments(std::span<const std::wstring> args, std::wstring_view currentFolder) {
    OpenRequest request;
    for (const std::wstring& arg : args) {
        if (isExtractSwitch(arg)) {
            request.extract = true;
            continue;
        }
        std::wstring text = arg;
        std::erase(text, L'"');
        if (text.empty()) continue;
        if (std::wstring path = resolvePath(currentFolder, text); !path.empty()) request.paths.push_back(std::move(path));
    }
    return request;
}

std::vector<std::wstring> chosenFiles(std::wstring_view answer) {
    std::vector<std::wstring_view> parts;
    size_t pos = 0;
    while (pos < answer.size() && answer[pos] != L'\0') {
        const size_t end = std::min(answer.find(L'\0', pos), answer.size());
        parts.push_back(answer.substr(pos, end - pos));
        pos = end + 1;
    }
    if (parts.size() <= 1) return std::vector<std::wstring>(parts.begin(), parts.end());
    std::vector<std::wstring> files;
    for (size_t i = 1; i < parts.size(); ++i) files.push_back(withTrailingBackslash(parts[0]) + std::wstring(parts[i]));
    return files;
}

std::vector<uint8_t> encodeOpenRecord(std::wstring_view currentFolder, std::span<const std::wstring> args) {
    std::vector<uint8_t> out;
    putU16(out, kOpenRecordVersion);
    putU16(out, 0);
    putU32(out, static_cast<uint32_t>(args.size()));
    putText(out, currentFolder);
    for (const std::wstring& arg : args) putText(out, arg);
    return out;
}

std::optional<OpenRecord> decodeOpenRecord(std::span<const uint8_t> bytes) {
    RecordReader reader(bytes);
    uint16_t version, reserved;
    uint32_t count;
    if (!reader.u16(version) || version != kOpenRecordVersion || !reader.u16(reserved) || reserved != 0 ||
        !reader.u32(count) || count > kMaxRecordArguments)
        return std::nullopt;
    OpenRecord record;
    if (!reader.text(record.currentFolder)) return std::nullopt;
    record.args.resize(count);
    for (std::wstring& arg : record.args)
        if (!reader.text(arg)) return std::nullopt;
    if (!reader.atEnd()) return std::nullopt;
    return record;
}
