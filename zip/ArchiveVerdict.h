// What an archive holds, judged from its central directory alone when it is
// opened: entries that would harm (names that leave the destination, data
// that overlaps, a total size out of all proportion), entries dressed up to
// look like something they are not, encrypted entries, and programs. No
// entry data is read; the extraction still checks every entry exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "zip/EntryName.h"

// Why an entry was flagged, the gravest reason first.
enum class EntryReason : uint8_t {
    none,
    leavesDestination,  // the extraction refuses its name as unsafe
    zipBomb,            // overlapping data, data past its room, or the archive's size is out of proportion
    disguisedProgram,   // a program behind a document's name or a bidirectional control character
    encrypted,          // needs a password
    program,            // runs on double-click
};

enum EntryFlag : uint8_t {
    kEntryHostile = 1,
    kEntryDeceptive = 2,
    kEntryEncrypted = 4,
    kEntryRunnable = 8,
};

struct EntryVerdict {
    uint8_t flags = 0;  // EntryFlag bits
    EntryReason reason = EntryReason::none;
    bool has(EntryFlag flag) const { return (flags & flag) != 0; }
    // Hostile or deceptive: what the windows count as a risk.
    bool risky() const { return has(kEntryHostile) || has(kEntryDeceptive); }
};

// What the reader knows of one entry from its central record.
struct EntryFacts {
    // The stored name in the ANSI code page, before cleaning (as the reader
    // converts it); the cleaned form of it is what the extraction writes.
    std::string_view ansiName;
    // The name in UTF-8 when the archive gives it (the UTF-8 flag or a
    // Unicode path block): the ANSI form loses characters such as U+202E.
    std::optional<std::string_view> utf8Name;
    // The decoded name (UTF-16) as extraction will read it: when given, the
    // name safety is judged on it rather than on the ANSI form.
    std::optional<std::wstring_view> unicodeName;
    bool encrypted = false;       // general-purpose bit 0
    bool fitsItsRoom = true;      // its data can lie between its header and the next entry
    uint64_t compressedSize = 0;  // as declared
    uint64_t uncompressedSize = 0;
};

// The name rules alone (hostile names, disguised and runnable programs),
// for an entry named so; tested apart from the sizes.
EntryVerdict judgeName(std::string_view ansiName, std::optional<std::string_view> utf8Name,
                       LeadBytePredicate isLead = isGbkLeadByte, std::optional<std::wstring_view> unicodeName = {});

// Whether extraction refuses a stored name below the destination as unsafe:
// absolute, or leaving it or naming a device before or after cleaning (a
// component too long to store is refused too, but is no danger).
bool storedNameLeaves(std::wstring_view unicodeName);

class ArchiveVerdict {
public:
    // Ratio and floor of the size rule: an archive declaring more than 1,000
    // times its own size, and more than 1 GiB, in total is a bomb.
    static constexpr uint64_t kBombRatio = 1000;
    static constexpr uint64_t kBombFloor = uint64_t{1} << 30;

    // Entries are added in archive order; finish() applies the size rule.
    void add(const EntryFacts& facts, LeadBytePredicate isLead = isGbkLeadByte);
    // An entry the reader could not read: judged as nothing.
    void addUnread();
    void finish(uint64_t archiveSize);

    size_t size() const { return entries_.size(); }
    // The verdict of entry index; an empty one outside the range.
    EntryVerdict entry(size_t index) const;

    bool hostile() const { return count(kEntryHostile) > 0; }
    bool deceptive() const { return count(kEntryDeceptive) > 0; }
    bool encrypted() const { return count(kEntryEncrypted) > 0; }
    // Entries that are hostile or deceptive.
    size_t riskyCount() const { return risky_; }
    size_t count(EntryFlag flag) const;
    uint64_t declaredTotal() const { return total_; }

private:
    struct Stored {
        EntryVerdict verdict;
        bool inflated = false;  // declares over kBombRatio times its stored size
    };
    std::vector<Stored> entries_;
    uint64_t total_ = 0;  // saturates
    size_t largest_ = SIZE_MAX;
    uint64_t largestSize_ = 0;
    size_t risky_ = 0;
    size_t counts_[4] = {};
};
