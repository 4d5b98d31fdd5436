#include "ui/TrayTip.h"

std::string cutGbkText(std::string_view gbk, size_t maxBytes) {
    size_t end = 0;
    while (end < gbk.size()) {
        const auto b = static_cast<unsigned char>(gbk[end]);
        const size_t len = (b >= 0x81 && b <= 0xFE && end + 1 < gbk.size()) ? 2 : 1;
        if (end + len > maxBytes) break;
        end += len;
    }
    return std::string(gbk.substr(0, end));
}
