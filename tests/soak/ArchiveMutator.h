// Seeded corruptions of a ZIP archive for the mutation soak: bytes flipped,
// spans copied over other spans, and the fields of its records (local
// headers, central records, end records, ZIP64 records, data descriptors and
// extra blocks) set to edge values. Every mutation is a pure function of the
// archive and one 64-bit seed, so a case is repeated from its seed alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// splitmix64: small, fast and good enough to spread the cases.
class SoakRandom {
public:
    explicit SoakRandom(uint64_t seed) : state_(seed) {}
    uint64_t next();
    uint64_t below(uint64_t n) { return n ? next() % n : 0; }

private:
    uint64_t state_;
};

// One field of a record: where it starts in the archive and how wide it is.
struct ArchiveField {
    size_t offset;
    size_t width;  // 2, 4 or 8
    const char* name;
};

// Every field of every record found by its signature, and of the blocks of
// the extra fields of local and central records.
std::vector<ArchiveField> findFields(const Bytes& archive);

// The mutated archive and a short description of what was done.
struct Mutation {
    Bytes archive;
    std::string what;
};

Mutation mutate(const Bytes& archive, const std::vector<ArchiveField>& fields, uint64_t seed);
