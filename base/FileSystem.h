// Questions to the file system about paths, asked through the wide API in
// the extended form where a path is long (see systemPath), so that deep
// download and destination folders answer like short ones.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// path made absolute against the current folder, "/" as "\\", "." and ".."
// resolved; empty when the system cannot, or when the result would be
// longer than the wide API takes.
std::wstring fullPath(std::wstring path);

bool pathExists(const std::wstring& path);
bool isFolder(const std::wstring& path);
// True for something there that is not a folder.
bool isFile(const std::wstring& path);

// The free bytes the caller may use on the volume that holds path: asked at
// path's nearest existing folder (path itself, or the closest parent that
// exists). Nothing when no folder along it exists or the volume cannot be asked.
std::optional<uint64_t> freeBytesAt(const std::wstring& path);
