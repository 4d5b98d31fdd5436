// The two ways a deflated entry reaches its file: inflated whole from a view
// of the archive into a view of the file, or streamed through the entry
// decoder (entries over the cap). Tests that must hold for both run both.
#pragma once

#include <cstdint>

#include "zip/WholeInflater.h"

struct ExtractionWay {
    const char* name;
    uint64_t cap;
};

inline constexpr ExtractionWay kExtractionWays[] = {
    {"streamed", 0},
    {"inflated whole", WholeInflater::kDefaultEntryCap},
};

// The cap for one scope, the one before restored after it.
class EntryCapScope {
public:
    explicit EntryCapScope(uint64_t bytes) : saved_(WholeInflater::entryCap()) { WholeInflater::setEntryCap(bytes); }
    ~EntryCapScope() { WholeInflater::setEntryCap(saved_); }
    EntryCapScope(const EntryCapScope&) = delete;
    EntryCapScope& operator=(const EntryCapScope&) = delete;

private:
    uint64_t saved_;
};
