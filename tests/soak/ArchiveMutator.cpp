#include "ArchiveMutator.h"

#include <cstdio>

uint64_t SoakRandom::next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

namespace {

uint64_t readField(const Bytes& b, size_t at, size_t width) {
    uint64_t v = 0;
    for (size_t i = 0; i < width; i++) v |= static_cast<uint64_t>(b[at + i]) << (8 * i);
    return v;
}

void writeField(Bytes& b, size_t at, size_t width, uint64_t v) {
    for (size_t i = 0; i < width; i++) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

struct RecordKind {
    uint8_t signature[4];
    size_t size;                       // fixed part
    std::vector<ArchiveField> fields;  // offsets within the record
    int nameAt, extraAt;               // where its name and extra lengths are; -1 for none
    size_t nameOffset;                 // where the name starts
};

const std::vector<RecordKind>& recordKinds() {
    static const std::vector<RecordKind> kinds = {
        {{'P', 'K', 3, 4}, 30,
         {{4, 2, "local version"}, {6, 2, "local flags"}, {8, 2, "local method"}, {10, 4, "local time"},
          {14, 4, "local crc"}, {18, 4, "local compressed"}, {22, 4, "local size"}, {26, 2, "local name length"},
          {28, 2, "local extra length"}},
         26, 28, 30},
        {{'P', 'K', 1, 2}, 46,
         {{4, 2, "central made by"}, {6, 2, "central version"}, {8, 2, "central flags"}, {10, 2, "central method"},
          {12, 4, "central time"}, {16, 4, "central crc"}, {20, 4, "central compressed"}, {24, 4, "central size"},
          {28, 2, "central name length"}, {30, 2, "central extra length"}, {32, 2, "central comment length"},
          {34, 2, "central disk"}, {38, 4, "central attributes"}, {42, 4, "central offset"}},
         28, 30, 46},
        {{'P', 'K', 5, 6}, 22,
         {{4, 2, "end disk"}, {6, 2, "end directory disk"}, {8, 2, "end disk count"}, {10, 2, "end count"},
          {12, 4, "end directory size"}, {16, 4, "end directory offset"}, {20, 2, "end comment length"}},
         -1, -1, 0},
        {{'P', 'K', 6, 6}, 56,
         {{4, 8, "zip64 end size"}, {16, 4, "zip64 end disk"}, {20, 4, "zip64 end directory disk"},
          {24, 8, "zip64 end disk count"}, {32, 8, "zip64 end count"}, {40, 8, "zip64 end directory size"},
          {48, 8, "zip64 end directory offset"}},
         -1, -1, 0},
        {{'P', 'K', 6, 7}, 20, {{4, 4, "locator disk"}, {8, 8, "locator offset"}, {16, 4, "locator disks"}}, -1, -1, 0},
        {{'P', 'K', 7, 8}, 16, {{4, 4, "descriptor crc"}, {8, 4, "descriptor compressed"}, {12, 4, "descriptor size"}},
         -1, -1, 0},
    };
    return kinds;
}

// The blocks of an extra field: each one's ID and size, and the ZIP64 and
// timestamp values behind them.
void addExtraBlocks(const Bytes& b, size_t at, size_t size, std::vector<ArchiveField>& out) {
    size_t end = at + size;
    while (at + 4 <= end && at + 4 <= b.size()) {
        uint16_t id = static_cast<uint16_t>(readField(b, at, 2));
        size_t dataSize = static_cast<size_t>(readField(b, at + 2, 2));
        out.push_back({at, 2, "extra id"});
        out.push_back({at + 2, 2, "extra size"});
        for (size_t v = at + 4; (id == 0x0001 || id == 0x5455) && v + 8 <= at + 4 + dataSize && v + 8 <= b.size();
             v += 8) {
            out.push_back({v, 8, "extra value"});
        }
        at += 4 + dataSize;
    }
}

}  // namespace

std::vector<ArchiveField> findFields(const Bytes& b) {
    std::vector<ArchiveField> out;
    for (size_t at = 0; at + 4 <= b.size(); at++) {
        for (const RecordKind& kind : recordKinds()) {
            if (b[at] != kind.signature[0] || b[at + 1] != kind.signature[1] || b[at + 2] != kind.signature[2] ||
                b[at + 3] != kind.signature[3] || at + kind.size > b.size()) {
                continue;
            }
            out.push_back({at, 4, "signature"});
            for (const ArchiveField& f : kind.fields) out.push_back({at + f.offset, f.width, f.name});
            if (kind.extraAt >= 0) {
                size_t nameSize = static_cast<size_t>(readField(b, at + static_cast<size_t>(kind.nameAt), 2));
                size_t extraSize = static_cast<size_t>(readField(b, at + static_cast<size_t>(kind.extraAt), 2));
                addExtraBlocks(b, at + kind.nameOffset + nameSize, extraSize, out);
            }
        }
    }
    return out;
}

Mutation mutate(const Bytes& archive, const std::vector<ArchiveField>& fields, uint64_t seed) {
    SoakRandom rng(seed);
    Mutation m{archive, {}};
    Bytes& b = m.archive;
    char text[96];
    // One to three changes of one kind or another.
    unsigned changes = 1 + static_cast<unsigned>(rng.below(3));
    for (unsigned c = 0; c < changes && !b.empty(); c++) {
        uint64_t kind = rng.below(10);
        if (kind < 5 && !fields.empty()) {
            const ArchiveField& f = fields[rng.below(fields.size())];
            uint64_t all = f.width == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * f.width)) - 1;
            uint64_t old = readField(b, f.offset, f.width);
            const uint64_t edges[] = {0,
                                      1,
                                      all,
                                      all - 1,
                                      all >> 1,
                                      (all >> 1) + 1,
                                      old + 1,
                                      old - 1,
                                      b.size(),
                                      b.size() - f.offset,
                                      b.size() * 1000,
                                      0x10000,
                                      rng.next()};
            uint64_t value = edges[rng.below(sizeof edges / sizeof edges[0])] & all;
            writeField(b, f.offset, f.width, value);
            std::snprintf(text, sizeof text, "%s@%zu=0x%llX ", f.name, f.offset,
                          static_cast<unsigned long long>(value));
        } else if (kind < 8) {
            size_t at = static_cast<size_t>(rng.below(b.size()));
            uint8_t mask = static_cast<uint8_t>(1 + rng.below(255));
            b[at] ^= mask;
            std::snprintf(text, sizeof text, "flip@%zu^0x%02X ", at, mask);
        } else {
            // A span copied over another: headers and data appear twice.
            size_t length = static_cast<size_t>(1 + rng.below(64));
            if (length > b.size()) length = b.size();
            size_t from = static_cast<size_t>(rng.below(b.size() - length + 1));
            size_t to = static_cast<size_t>(rng.below(b.size() - length + 1));
            Bytes span(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + length));
            std::copy(span.begin(), span.end(), b.begin() + static_cast<long>(to));
            std::snprintf(text, sizeof text, "copy %zu@%zu->%zu ", length, from, to);
        }
        m.what += text;
    }
    return m;
}
