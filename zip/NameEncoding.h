// How an archive's stored names are read. Each archive is judged once, from
// all its central records, so that one archive never mixes encodings:
//  1. bit 11 set and the bytes strictly valid UTF-8: UTF-8 (some tools set
//     the flag on names in a legacy code page; those fall through);
//  2. a Unicode path block (0x7075) whose CRC matches the stored name and
//     whose text is strictly valid UTF-8: that name;
//  3. made on Unix or OS X (host byte 3 or 19) and every other non-ASCII
//     name of the archive strictly valid UTF-8: UTF-8, as Linux and macOS
//     write names without the flag;
//  4. otherwise the legacy ANSI code page.
// Wide text here is UTF-16 code units, whatever the width of wchar_t.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// No overlong forms, no surrogates, nothing above U+10FFFF, nothing cut.
bool isStrictUtf8(std::string_view text);
bool isAscii(std::string_view text);

// Strictly valid UTF-8 to UTF-16; nothing for any other text.
std::optional<std::wstring> decodeUtf8(std::string_view text);
// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string encodeUtf8(std::wstring_view utf16);

constexpr uint16_t kUtf8NameFlag = 0x800;

// Host byte 3 (Unix) or 19 (OS X) of "version made by".
inline bool madeOnUnix(uint16_t versionMadeBy) {
    unsigned host = versionMadeBy >> 8;
    return host == 3 || host == 19;
}

// What one entry's name is read from.
struct NameSource {
    std::string_view bytes;  // the stored name or the Unicode path block's text
    bool utf8 = false;       // false: the legacy code page
};

// Rules 1, 2 and, when plainUtf8 says so, 3. The stored name ends at its
// first NUL; unicodePath is the matching block's text, if any.
NameSource chooseNameSource(uint16_t flags, std::string_view stored, const std::optional<std::string>& unicodePath,
                            bool plainUtf8);

// Collects rule 3 over an archive's central records.
class PlainNameVote {
public:
    void add(uint16_t versionMadeBy, uint16_t flags, std::string_view stored,
             const std::optional<std::string>& unicodePath);
    // Whether names that neither the flag nor a block decide are UTF-8.
    bool plainNamesAreUtf8() const { return !sawOther_; }

private:
    bool sawOther_ = false;
};
