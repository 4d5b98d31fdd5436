#include "ui/ButtonSettings.h"

#include <algorithm>
#include <cstring>

void ButtonSettings::clamp() {
    style = std::clamp(style, 0, 2);
    imageAlign = std::clamp(imageAlign, 0, 3);
    pressOffset = std::clamp(pressOffset, 0, 1);
    isDefault = std::clamp(isDefault, 0, 1);
}

namespace {

class Reader {
public:
    explicit Reader(std::span<const uint8_t> data) : data_(data) {}

    bool int32(int32_t& out) {
        if (data_.size() - pos_ < 4) return false;
        uint32_t v = data_[pos_] | (data_[pos_ + 1] << 8) | (data_[pos_ + 2] << 16) | (uint32_t(data_[pos_ + 3]) << 24);
        pos_ += 4;
        out = static_cast<int32_t>(v);
        return true;
    }
    bool integer(int& out) {
        int32_t v;
        if (!int32(v)) return false;
        out = v;
        return true;
    }
    bool flag(bool& out) {
        int32_t v;
        if (!int32(v)) return false;
        out = v != 0;
        return true;
    }
    bool colour(ColourRef& out) {
        int32_t v;
        if (!int32(v)) return false;
        out = static_cast<ColourRef>(v);
        return true;
    }
    template <typename Container>
    bool bytes(Container& out) {
        int32_t n;
        if (!int32(n)) return false;
        if (n < 0 || static_cast<size_t>(n) > data_.size() - pos_) return false;
        out.assign(data_.begin() + pos_, data_.begin() + pos_ + n);
        pos_ += static_cast<size_t>(n);
        return true;
    }
private:
    std::span<const uint8_t> data_;
    size_t pos_ = 0;
};

class Writer {
public:
    void int32(int32_t v) {
        for (int i = 0; i < 4; i++) out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    }
    template <typename Container>
    void bytes(const Container& data) {
        int32(static_cast<int32_t>(data.size()));
        out.insert(out.end(), data.begin(), data.end());
    }
    Bytes out;
};

}  // namespace

std::optional<ButtonSettings> parseButtonSettings(std::span<const uint8_t> stored) {
    Reader r(stored);
    ButtonSettings s;
    int32_t version = 0;
    if (!r.int32(version) || version < 0 || version > kStoredVersion) return std::nullopt;
    bool read = r.integer(s.style) && r.flag(s.toggle) && r.flag(s.isChecked) && r.integer(s.imageAlign) &&
        r.integer(s.pressOffset) && r.flag(s.hoverEdge) && r.flag(s.focusRect) && r.colour(s.hoverImageKey) &&
        r.colour(s.imageKey) && r.flag(s.systemColours) && r.flag(s.builtinSound) && r.integer(s.isDefault) &&
        r.colour(s.normalText) && r.colour(s.normalBack) && r.colour(s.hoverText) && r.colour(s.hoverBack) &&
        r.colour(s.focusText) && r.colour(s.focusBack) && r.bytes(s.hoverImage) && r.bytes(s.image) &&
        r.bytes(s.font) && r.bytes(s.hoverSound) && r.bytes(s.clickSound) && r.bytes(s.caption) &&
        r.bytes(s.tooltip);
    if (read && version >= 2) read = r.colour(s.disabledImageKey) && r.bytes(s.disabledImage);
    if (!read) return std::nullopt;
    if (!s.font.empty() && s.font.size() != kLogFontSize) return std::nullopt;
    s.clamp();
    return s;
}

Bytes storeButtonSettings(const ButtonSettings& s) {
    Writer w;
    for (int32_t v : {kStoredVersion, int32_t(s.style), int32_t(s.toggle), int32_t(s.isChecked),
                      int32_t(s.imageAlign), int32_t(s.pressOffset), int32_t(s.hoverEdge), int32_t(s.focusRect),
                      int32_t(s.hoverImageKey), int32_t(s.imageKey), int32_t(s.systemColours),
                      int32_t(s.builtinSound), int32_t(s.isDefault), int32_t(s.normalText),
                      int32_t(s.normalBack), int32_t(s.hoverText), int32_t(s.hoverBack), int32_t(s.focusText),
                      int32_t(s.focusBack)})
        w.int32(v);
    w.bytes(s.hoverImage);
    w.bytes(s.image);
    w.bytes(s.font);
    w.bytes(s.hoverSound);
    w.bytes(s.clickSound);
    w.bytes(s.caption);
    w.bytes(s.tooltip);
    w.int32(static_cast<int32_t>(s.disabledImageKey));
    w.bytes(s.disabledImage);
    return std::move(w.out);
}
