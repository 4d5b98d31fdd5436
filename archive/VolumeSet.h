// The volumes of a multi-volume archive, named from the first one as the
// archivers name them: "x.7z.001", "x.7z.002", ...; "x.part1.rar",
// "x.part2.rar", ... (with the first one's zero padding); "x.rar", "x.r00",
// "x.r01", ... "x.r99", "x.s00", ... Platform-free: whether a name exists
// is asked through a function.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct VolumeSet {
    // The first volume and every following one that exists, in order.
    std::vector<std::wstring> paths;
    // The name after the last one found: the first missing volume when the
    // set is incomplete; empty when the first name is no volume name.
    std::wstring firstMissing;
};

// The volume after path in its naming scheme; empty when there is none.
std::wstring nextVolumeName(std::wstring_view path);

// Whether path names a volume of a set ("x.7z.001", "x.part1.rar", "x.r00")
// rather than a single archive (an "x.rar" may still be the first of a set).
bool isVolumeName(std::wstring_view path);

VolumeSet findVolumes(const std::wstring& firstVolume, const std::function<bool(const std::wstring&)>& exists);
