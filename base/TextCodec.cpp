#include "base/TextCodec.h"

#include <climits>

std::wstring toWide(std::string_view text, UINT codePage) {
    if (text.empty() || text.size() > INT_MAX) return {};
    int n = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string fromWide(std::wstring_view text, UINT codePage) {
    if (text.empty() || text.size() > INT_MAX) return {};
    int n = ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                  nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                          nullptr);
    return out;
}

UINT legacyNameCodePage() {
    UINT acp = ::GetACP();
    return acp == CP_UTF8 ? 936 : acp;
}

std::wstring legacyToWide(std::string_view text, UINT codePage) {
    if (text.size() > INT_MAX) return {};
    std::wstring out;
    out.reserve(text.size());
    bool ascii = true;
    for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        for (char c : text) out += static_cast<wchar_t>(c);
        return out;
    }
    const int size = static_cast<int>(text.size());
    int n = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (n > 0) {
        out.resize(static_cast<size_t>(n));
        ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, out.data(), n);
        return out;
    }
    // Some byte is invalid: one character at a time, one or two bytes.
    for (size_t i = 0; i < text.size();) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        const size_t length = ::IsDBCSLeadByteEx(codePage, byte) && i + 1 < text.size() ? 2 : 1;
        wchar_t decoded[2];
        int got = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data() + i, static_cast<int>(length),
                                        decoded, 2);
        if (got > 0) {
            out.append(decoded, static_cast<size_t>(got));
            i += length;
        } else {
            // The byte alone is refused; the one after it starts afresh.
            out += L'_';
            i++;
        }
    }
    return out;
}

std::string wideToAnsiName(std::wstring_view text) {
    if (text.empty() || text.size() > INT_MAX) return {};
    // UTF-8 holds every character and takes no default character.
    const bool utf8 = ::GetACP() == CP_UTF8;
    const char* fallback = utf8 ? nullptr : "_";
    int n = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, fallback, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, fallback, nullptr);
    return out;
}
