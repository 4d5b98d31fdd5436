// Downloads that are volumes of one archive ("资料.part1.rar" … "part3.rar",
// "x.rar" with "x.r00" …, "x.7z.001" …) are reminded as one: once, as the
// set's first volume, when its last volume has finished and every volume is
// there, in whatever order they finished; a volume finishing after that is
// not reminded by itself. Any other download is reminded as it is.
// Platform-free: the file system is asked through functions.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The first volume of the set a volume name belongs to ("x.part03.rar" →
// "x.part01.rar", "x.7z.004" → "x.7z.001", "x.r07" → "x.rar"); any other
// path as it is.
std::wstring firstVolumeOf(std::wstring_view path);

class DownloadSets {
public:
    using PathQuestion = std::function<bool(const std::wstring& path)>;

    // What to remind for the download that finished at path: the path
    // itself, the set's first volume once the set is whole, or nothing (a
    // set still being downloaded, or reminded already). exists tells whether
    // a file is there; beingDownloaded whether a partial file of that name
    // ("x.7z.002.crdownload") is.
    std::optional<std::wstring> reminderFor(const std::wstring& path, const PathQuestion& exists,
                                            const PathQuestion& beingDownloaded);

private:
    bool remindedBefore(const std::wstring& firstVolume) const;

    std::deque<std::wstring> reminded_;  // first volumes, upper case, newest last
    static constexpr size_t kRemembered = 64;
};
