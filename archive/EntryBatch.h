// Many entries of one archive extracted in one call (Archive::extractEntries):
// what the caller asks for and what the batch tells it. No platform headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// One entry of a batch, as extractEntry takes it, with its stored bytes as
// the caller counts them for its progress (the listing's packed size).
struct EntryRequest {
    int32_t index = -1;
    std::wstring fileName;
    uint64_t storedSize = 0;
};

// What a batch tells its caller, always on the calling thread, whichever
// thread read or wrote: the caller's state needs no lock of its own.
struct BatchEvents {
    // The stored bytes read since the last call (0 when it only asks), as
    // the piece hook, at least every few hundredths of a second while the
    // batch runs: every entry's storedSize is told once in all, what it did
    // not read (a failed or skipped part) when it is reported, so the sum is
    // exact whatever the order. False stops the batch: no entry starts any
    // more, and those being written are abandoned (kZipCancelled).
    std::function<bool(uint64_t storedBytes)> piece;
    // Every entry the batch reached, in the list's order, on the calling
    // thread, with its result code. again() extracts the entry once more as
    // it was prepared, with the password set since (setPassword from here),
    // and returns the new code; what it reads is not told to piece again.
    // An entry that was never started (after a stop) is not reported.
    std::function<void(size_t position, int32_t code, const std::function<int32_t()>& again)> report;
};

// The part of bytes just read that an entry of size stored bytes has not
// told yet (told counts what it has), so that a retry or a format that reads
// ahead never counts a byte twice.
inline uint64_t untoldBytes(uint64_t& told, uint64_t size, uint64_t bytes) {
    const uint64_t left = size > told ? size - told : 0;
    const uint64_t tell = bytes < left ? bytes : left;
    told += tell;
    return tell;
}
