// The verdict's name and size rules on arbitrary bytes: the first byte picks
// how the rest is read (an ANSI name alone, or an ANSI and a UTF-8 name,
// and sizes), and the answers must hang together.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "zip/ArchiveVerdict.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

void checkEntry(const EntryVerdict& v) {
    check((v.flags == 0) == (v.reason == EntryReason::none));
    check(v.flags < 16);
    if (v.reason == EntryReason::leavesDestination || v.reason == EntryReason::zipBomb) check(v.has(kEntryHostile));
    if (v.reason == EntryReason::disguisedProgram) check(v.has(kEntryDeceptive) && !v.has(kEntryHostile));
    if (v.reason == EntryReason::encrypted) check(v.flags == kEntryEncrypted || v.flags == (kEntryEncrypted | kEntryRunnable));
    if (v.reason == EntryReason::program) check(v.flags == kEntryRunnable);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    // The names are split at the first 0xFF byte, which neither GBK nor UTF-8 uses.
    size_t split = rest.find('\xFF');
    std::string_view ansi = rest.substr(0, split);
    std::optional<std::string_view> utf8;
    if (split != std::string_view::npos && (mode & 1)) utf8 = rest.substr(split + 1);

    EntryVerdict named = judgeName(ansi, utf8);
    checkEntry(named);
    // The name rules never judge encryption or sizes.
    check(!named.has(kEntryEncrypted));
    // An ASCII name reads the same whatever the code page.
    bool ascii = true;
    for (char c : ansi) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (!utf8 && ascii)
        check(judgeName(ansi, utf8, [](unsigned char) { return false; }).flags == named.flags);

    ArchiveVerdict archive;
    uint64_t sizes[2] = {};
    std::memcpy(sizes, data + 1, std::min<size_t>(size - 1, sizeof sizes));
    EntryFacts facts;
    facts.ansiName = ansi;
    facts.utf8Name = utf8;
    facts.encrypted = mode & 2;
    facts.fitsItsRoom = !(mode & 4);
    facts.compressedSize = sizes[0];
    facts.uncompressedSize = sizes[1];
    archive.add(facts);
    archive.add(facts);
    archive.addUnread();
    archive.finish(mode & 8 ? sizes[0] : size);
    check(archive.size() == 3);
    size_t risky = 0, hostile = 0;
    for (size_t i = 0; i < archive.size(); i++) {
        const EntryVerdict v = archive.entry(i);
        checkEntry(v);
        risky += v.risky();
        hostile += v.has(kEntryHostile);
    }
    // The names' flags stay; the sizes and the encryption only add theirs.
    for (size_t i = 0; i < 2; i++) {
        const EntryVerdict v = archive.entry(i);
        check((v.flags & named.flags) == named.flags);
        check((v.flags & ~named.flags & ~(kEntryHostile | kEntryEncrypted)) == 0);
        if (!facts.fitsItsRoom) check(v.has(kEntryHostile));
    }
    check(archive.entry(2).flags == 0);
    check(archive.riskyCount() == risky);
    check(archive.count(kEntryHostile) == hostile);
    check(archive.hostile() == (hostile > 0));
    return 0;
}
