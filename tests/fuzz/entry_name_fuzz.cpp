// Name cleaning and the relative-name safety check on arbitrary bytes, with
// GBK lead bytes and with none.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "zip/EntryName.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    exercise(input, isGbkLeadByte);
    exercise(input, noLeadBytes);
    return 0;
}
