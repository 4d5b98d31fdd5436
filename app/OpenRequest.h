// What a start of quillozip.exe asks for: "quillozip.exe ARCHIVE…" opens
// each archive in the main window, "quillozip.exe /extract ARCHIVE…"
// extracts each beside itself at once. A second start hands its arguments
// and its current folder to the running copy as one little record (sent
// with WM_COPYDATA), which the running copy checks before it believes any
// of it. No Windows headers: tested on the host as well.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct OpenRequest {
    bool extract = false;             // "/extract" was among the arguments
    std::vector<std::wstring> paths;  // absolute, in the order given
};

// The arguments after the program's name, as CommandLineToArgvW splits
// them, made into a request against the caller's current folder. "/extract"
// (any case) anywhere asks for extraction of every path; quotes, which no
// file name holds, are taken out ("C:\dir\"" comes from a quoted folder
// with a closing "\"); empty arguments count for nothing, and so does a
// relative path without an absolute folder to go by (never taken as
// relative to anything else) or a path longer than the wide API takes.
OpenRequest parseArguments(std::span<const std::wstring> args, std::wstring_view currentFolder);

// The files an open dialog that lets several be chosen answers with: one
// full path, or the folder followed by the names chosen in it, each ended
// by a 0 and the whole by a second 0.
std::vector<std::wstring> chosenFiles(std::wstring_view answer);

// The record's tag in COPYDATASTRUCT::dwData ("QZOR").
constexpr uint32_t kOpenRecordTag = 0x524F5A51;
constexpr uint16_t kOpenRecordVersion = 1;
// A running copy takes no more arguments than this from one record, and
// no text longer than a path the wide API takes.
constexpr uint32_t kMaxRecordArguments = 1024;

// The record, little-endian: version (u16), reserved 0 (u16), the number
// of arguments (u32), then the current folder and each argument as a text:
// its length in UTF-16 units (u32), the units, a 0 unit.
std::vector<uint8_t> encodeOpenRecord(std::wstring_view currentFolder, std::span<const std::wstring> args);

struct OpenRecord {
    std::wstring currentFolder;
    std::vector<std::wstring> args;
};

// The record read back; nothing when anything in it is wrong: another
// version or a reserved field set, a size that is not exactly what its
// texts need, a length beyond the bounds, a missing 0 unit, a 0 unit inside
// a text, too many arguments.
std::optional<OpenRecord> decodeOpenRecord(std::span<const uint8_t> bytes);
