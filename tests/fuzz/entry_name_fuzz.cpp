// Name cleaning and the relative-name safety check on arbitrary bytes, with
// GBK lead bytes and with none, and on the same bytes as a wide name (UTF-8
// when they are strictly valid, else one unit a byte).
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "zip/EntryName.h"
#include "zip/NameEncoding.h"

namespace {

bool noLeadBytes(unsigned char) { return false; }

void check(bool condition) {
    if (!condition) std::abort();
}

void exercise(std::string_view input, LeadBytePredicate isLead) {
    std::string_view untilNul = input.substr(0, input.find('\0'));
    std::string cleaned = cleanEntryName(input, isLead);
    // What is left is the end of the stored name, and cleaning it again
    // changes nothing; it never names a drive, a root or a climb out.
    check(cleaned.size() <= untilNul.size());
    check(untilNul.substr(untilNul.size() - cleaned.size()) == cleaned);
    check(cleanEntryName(cleaned, isLead) == cleaned);
    check(!isAbsoluteName(cleaned));
    check(cleaned.rfind("../", 0) != 0 && cleaned.rfind("..\\", 0) != 0);

    NameVerdict verdict = checkRelativeName(cleaned, isLead);
    if (verdict == NameVerdict::safe) check(cleaned.find(':') == std::string::npos);
    checkRelativeName(untilNul, isLead);

    size_t sep = findLastSeparator(untilNul, isLead);
    if (sep != std::string_view::npos) check(isSeparator(untilNul[sep]));
    check(characterBoundary(untilNul, 259, isLead) <= 259);
}

void exerciseWide(std::string_view input) {
    std::optional<std::wstring> decoded = decodeUtf8(input);
    check(decoded.has_value() == isStrictUtf8(input));
    if (decoded) check(encodeUtf8(*decoded) == input);
    std::wstring wide;
    if (decoded) wide = *decoded;
    else for (char c : input) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    std::wstring cleaned = cleanEntryName(wide);
    check(cleanEntryName(cleaned) == cleaned);
    check(!isAbsoluteName(cleaned));

    // A prepared name is what the system will create as it is: "\\" between
    // components, none empty, "." or "..", none ending in a dot or a space,
    // none longer than 255 units, no character Windows cannot store; and
    // preparing it again changes nothing.
    std::wstring prepared;
    if (prepareRelativeName(cleaned, &prepared) != NameVerdict::safe) return;
    size_t start = 0;
    for (size_t i = 0; i <= prepared.size(); i++) {
        if (i < prepared.size() && prepared[i] != L'\\') {
            wchar_t c = prepared[i];
            check(c >= 0x20 && std::wstring_view(L"<>:\"|?*/").find(c) == std::wstring_view::npos);
            continue;
        }
        std::wstring_view component(prepared.data() + start, i - start);
        check(prepared.empty() || !component.empty());
        check(component.size() <= kMaxComponentUnits);
        if (!component.empty()) check(component.back() != L'.' && component.back() != L' ');
        start = i + 1;
    }
    std::wstring again;
    check(prepareRelativeName(prepared, &again) == NameVerdict::safe && again == prepared);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    exercise(input, isGbkLeadByte);
    exercise(input, noLeadBytes);
    exerciseWide(input);
    return 0;
}
