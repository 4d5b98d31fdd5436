#include "zip/ArchiveVerdict.h"

#include <algorithm>
#include <array>

namespace {

// Extensions Windows runs on double-click, and those of the documents,
// pictures, sounds and films a program pretends to be.
constexpr std::array<std::string_view, 18> kRunnable = {"exe", "scr", "pif", "com", "bat", "cmd", "vbs", "vbe", "js",
                                                        "jse", "wsf", "wsh", "hta", "ps1", "msi", "cpl", "lnk", "url"};
constexpr std::array<std::string_view, 18> kDocument = {"pdf", "doc", "docx", "xls", "xlsx", "ppt", "pptx", "txt", "rtf",
                                                        "jpg", "jpeg", "png", "gif", "bmp", "mp3", "mp4", "avi", "wav"};

bool noLeadBytes(unsigned char) { return false; }

bool sameIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        if (x != b[i]) return false;
    }
    return true;
}

template <size_t N>
bool listed(const std::array<std::string_view, N>& list, std::string_view extension) {
    return std::any_of(list.begin(), list.end(), [&](std::string_view e) { return sameIgnoringAsciiCase(extension, e); });
}

// Characters that look like nothing at the end of a name. Windows drops
// trailing spaces and dots when it makes a file; the Unicode spaces and
// invisible characters only hide what follows them. U+2000 ... U+200F
// (spaces, zero widths, marks) are checked as a range.
constexpr std::array<std::string_view, 6> kInvisibleUtf8 = {
    "\xC2\xA0",      // no-break space
    "\xE2\x80\xAF",  // narrow no-break space
    "\xE2\x81\x9F",  // medium mathematical space
    "\xE3\x80\x80",  // ideographic space
    "\xEF\xBB\xBF",  // zero-width no-break space
    "\xE2\x81\xA0",  // word joiner
};

size_t invisibleSuffix(std::string_view text) {
    if (text.size() >= 3 && text.compare(text.size() - 3, 2, "\xE2\x80") == 0) {
        unsigned char last = static_cast<unsigned char>(text.back());
        if (last >= 0x80 && last <= 0x8F) return 3;
    }
    for (std::string_view s : kInvisibleUtf8) {
        if (text.size() >= s.size() && text.compare(text.size() - s.size(), s.size(), s) == 0) return s.size();
    }
    return 0;
}

std::string_view trimTrailingBlanks(std::string_view text, bool utf8) {
    for (;;) {
        if (!text.empty() && (text.back() == ' ' || text.back() == '.')) {
            text.remove_suffix(1);
        } else if (size_t n = utf8 ? invisibleSuffix(text) : 0) {
            text.remove_suffix(n);
        } else {
            return text;
        }
    }
}

// U+202A-U+202E and U+2066-U+2069 in UTF-8.
bool hasBidiControl(std::string_view utf8) {
    for (size_t i = 0; i + 2 < utf8.size(); i++) {
        if (utf8[i] != '\xE2') continue;
        unsigned char second = static_cast<unsigned char>(utf8[i + 1]), third = static_cast<unsigned char>(utf8[i + 2]);
        if ((second == 0x80 && third >= 0xAA && third <= 0xAE) || (second == 0x81 && third >= 0xA6 && third <= 0xA9))
            return true;
    }
    return false;
}

// The extension after the last dot, and what comes before that dot.
bool splitExtension(std::string_view name, std::string_view* stem, std::string_view* extension) {
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == name.size()) return false;
    *stem = name.substr(0, dot);
    *extension = name.substr(dot + 1);
    return true;
}

void mark(EntryVerdict& v, EntryFlag flag, EntryReason reason) {
    v.flags |= flag;
    if (v.reason == EntryReason::none || reason < v.reason) v.reason = reason;
}

int flagIndex(EntryFlag flag) {
    switch (flag) {
    case kEntryHostile: return 0;
    case kEntryDeceptive: return 1;
    case kEntryEncrypted: return 2;
    default: return 3;
    }
}

constexpr EntryFlag kAllFlags[] = {kEntryHostile, kEntryDeceptive, kEntryEncrypted, kEntryRunnable};

}  // namespace

namespace {

// A name too long for the file system is refused, but harms nothing.
bool refusedAsUnsafe(NameVerdict verdict) { return verdict != NameVerdict::safe && verdict != NameVerdict::tooLong; }

}  // namespace

bool storedNameLeaves(std::wstring_view unicodeName) {
    unicodeName = unicodeName.substr(0, unicodeName.find(L'\0'));
    if (isAbsoluteName(unicodeName) || refusedAsUnsafe(checkRelativeName(unicodeName))) return true;
    // Most names are clean already: the same name needs no second look.
    const std::wstring cleaned = cleanEntryName(unicodeName);
    return cleaned != unicodeName && refusedAsUnsafe(checkRelativeName(cleaned));
}

EntryVerdict judgeName(std::string_view ansiName, std::optional<std::string_view> utf8Name, LeadBytePredicate isLead,
                       std::optional<std::wstring_view> unicodeName) {
    EntryVerdict v;
    ansiName = ansiName.substr(0, ansiName.find('\0'));
    // The application extracts the cleaned name; the stored one shows what
    // the archive tried: both must stay below the destination.
    bool leaves;
    if (unicodeName) {
        leaves = storedNameLeaves(*unicodeName);
    } else {
        std::string cleaned = cleanEntryName(ansiName, isLead);
        leaves = isAbsoluteName(ansiName) || checkRelativeName(ansiName, isLead) != NameVerdict::safe ||
                 checkRelativeName(cleaned, isLead) != NameVerdict::safe;
    }
    if (leaves) mark(v, kEntryHostile, EntryReason::leavesDestination);

    const bool utf8 = utf8Name.has_value();
    std::string_view name = utf8 ? utf8Name->substr(0, utf8Name->find('\0')) : ansiName;
    if (utf8 && hasBidiControl(name)) mark(v, kEntryDeceptive, EntryReason::disguisedProgram);
    // Only the last component has an extension; a folder entry ends in a
    // separator and has none. UTF-8 has no byte that looks like a separator
    // inside a character.
    size_t separator = findLastSeparator(name, utf8 ? noLeadBytes : isLead);
    std::string_view last = separator == std::string_view::npos ? name : name.substr(separator + 1);
    std::string_view stem, extension, innerStem, innerExtension;
    if (!splitExtension(trimTrailingBlanks(last, utf8), &stem, &extension) || !listed(kRunnable, extension)) return v;
    mark(v, kEntryRunnable, EntryReason::program);
    if (splitExtension(trimTrailingBlanks(stem, utf8), &innerStem, &innerExtension) && listed(kDocument, innerExtension))
        mark(v, kEntryDeceptive, EntryReason::disguisedProgram);
    return v;
}

void ArchiveVerdict::add(const EntryFacts& facts, LeadBytePredicate isLead) {
    Stored s;
    EntryVerdict& v = s.verdict;
    v = judgeName(facts.ansiName, facts.utf8Name, isLead, facts.unicodeName);
    if (!facts.fitsItsRoom) mark(v, kEntryHostile, EntryReason::zipBomb);
    // A folder entry has no data to decrypt, whatever its flag says.
    std::string_view name = facts.ansiName.substr(0, facts.ansiName.find('\0'));
    if (facts.encrypted && !endsWithSeparator(name, isLead)) mark(v, kEntryEncrypted, EntryReason::encrypted);

    uint64_t u = facts.uncompressedSize, c = facts.compressedSize;
    s.inflated = c <= UINT64_MAX / kBombRatio ? u > c * kBombRatio : false;
    total_ = u > UINT64_MAX - total_ ? UINT64_MAX : total_ + u;
    if (u > largestSize_) {
        largestSize_ = u;
        largest_ = entries_.size();
    }
    for (EntryFlag f : kAllFlags)
        if (v.has(f)) counts_[flagIndex(f)]++;
    if (v.risky()) risky_++;
    entries_.push_back(s);
}

void ArchiveVerdict::addUnread() { entries_.push_back(Stored{}); }

void ArchiveVerdict::finish(uint64_t archiveSize) {
    bool outOfProportion = total_ > kBombFloor && archiveSize <= UINT64_MAX / kBombRatio && total_ > archiveSize * kBombRatio;
    if (!outOfProportion) return;
    // The entries that inflate beyond the ratio carry the blame; when the
    // total is made up of many modest ones, the largest does.
    bool any = std::any_of(entries_.begin(), entries_.end(), [](const Stored& s) { return s.inflated; });
    for (size_t i = 0; i < entries_.size(); i++) {
        if (!(any ? entries_[i].inflated : i == largest_)) continue;
        EntryVerdict& v = entries_[i].verdict;
        bool wasRisky = v.risky(), wasHostile = v.has(kEntryHostile);
        mark(v, kEntryHostile, EntryReason::zipBomb);
        if (!wasHostile) counts_[flagIndex(kEntryHostile)]++;
        if (!wasRisky) risky_++;
    }
}

EntryVerdict ArchiveVerdict::entry(size_t index) const {
    return index < entries_.size() ? entries_[index].verdict : EntryVerdict{};
}

size_t ArchiveVerdict::count(EntryFlag flag) const { return counts_[flagIndex(flag)]; }
