// Result codes of the archive library: 0 for success, one bit pattern per
// kind of failure. Kept apart from Unzip.h so that the platform-free parts
// can report the same codes.
#pragma once

#include <cstdint>

enum ZipResult : int32_t {
    kZipOk = 0,
    kZipCannotOpen = 0x200,      // a file cannot be opened or created; unreadable directory; unsafe name
    kZipWriteFailed = 0x400,     // writing an output file failed (or no room for it)
    kZipBadEntry = 0x700,        // local header disagrees, unknown method, overlapping data
    kZipReadFailed = 0x800,      // reading from the archive failed; a method this library does not decode
    // Encryption this library cannot decrypt (7z, RAR): the entry is refused
    // before anything is written, without asking for a password.
    kZipUnsupportedEncryption = 0x800,
    kZipBadPassword = 0x1000,    // the password does not fit an encrypted entry
    kZipBadIndex = 0x10000,      // entry index out of range
    kZipMarkFailed = 0x20000,    // the completed-file hook refused the file (its zone mark could not be written); nothing was kept
    kZipNotOpen = 0x40000,       // no archive is open in the object
    kZipCancelled = 0x80000,     // the caller's piece hook stopped the entry; nothing of it was kept
    kZipMissingVolume = 0x100000,  // the entry goes on in a volume of the set that is not there
    kZipNotAFile = 0x200000,     // a link, FIFO or device: never created, skipped
    kZipDataError = 0x5000000,   // reading, decompressing or checking an entry's data failed
};
