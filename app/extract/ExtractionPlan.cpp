#include "app/extract/ExtractionPlan.h"

#include "base/PathText.h"
#include "zip/EntryName.h"
#include "zip/ZipResult.h"

#include <optional>

namespace {

bool isNameSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The components of an entry name, split at "\" and "/"; empty components
// (a folder entry's closing separator) dropped.
std::vector<std::wstring_view> components(std::wstring_view name) {
    std::vector<std::wstring_view> parts;
    size_t start = 0;
    for (size_t pos = 0; pos <= name.size(); ++pos) {
        if (pos < name.size() && !isNameSeparator(name[pos])) continue;
        if (pos > start) parts.push_back(name.substr(start, pos - start));
        start = pos + 1;
    }
    return parts;
}

wchar_t upperAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// Windows compares file names without regard to case; ASCII case is all
// this decision needs to know (a pair it misses only costs a folder level).
bool sameFileName(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upperAscii(a[i]) != upperAscii(b[i])) return false;
    return true;
}

// The one top-level item every kept entry lies in or is: a folder holding
// them all, or the archive's only file. Nothing when there are several or none.
std::optional<std::wstring> singleTopItem(const std::vector<std::wstring>& entryNames) {
    std::optional<std::wstring_view> top;
    bool topIsFolder = false;
    size_t kept = 0;
    for (const std::wstring& name : entryNames) {
        if (isMacBookkeeping(name)) continue;
        const std::vector<std::wstring_view> parts = components(name);
        if (parts.empty()) continue;
        ++kept;
        const bool folder = parts.size() > 1 || isNameSeparator(name.back());
        if (!top) {
            top = parts.front();
            topIsFolder = folder;
        } else if (!sameFileName(*top, parts.front()) || !folder || !topIsFolder) {
            return std::nullopt;
        }
    }
    if (!top || (!topIsFolder && kept != 1)) return std::nullopt;
    return std::wstring(*top);
}

}  // namespace

bool isMacBookkeeping(std::wstring_view entryName) {
    const std::vector<std::wstring_view> parts = components(entryName);
    if (parts.empty()) return false;
    if (parts.front() == L"__MACOSX") return true;
    return parts.back() == L".DS_Store" && !isNameSeparator(entryName.back());
}

ArchiveFolderChoice chooseArchiveFolder(std::wstring_view archivePath, const std::vector<std::wstring>& entryNames,
                                        const std::function<bool(const std::wstring&)>& exists) {
    const std::wstring parent = folderOfPath(archivePath);
    if (const std::optional<std::wstring> top = singleTopItem(entryNames); top && !exists(parent + *top))
        return {parent, false};
    // A name without a title (".zip") still gets a folder of its own.
    std::wstring title = fileTitle(archivePath);
    if (title.empty()) title = std::wstring(pathFileName(archivePath));
    std::wstring candidate = parent + title;
    for (int n = 2; exists(candidate) && n < 10000; ++n)
        candidate = parent + title + L" (" + std::to_wstring(n) + L")";
    return {candidate + L"\\", true};
}

bool unsafeEntryName(std::wstring_view entryName) {
    if (isAbsoluteName(entryName)) return true;
    NameVerdict verdict = checkRelativeName(entryName);
    return verdict != NameVerdict::safe && verdict != NameVerdict::tooLong;
}

EntryOutcome classifyResult(int32_t resultCode, bool unsafeName, const EntryFigures& figures, bool encrypted) {
    if (resultCode == kZipOk) return EntryOutcome::Extracted;
    if (unsafeName) return EntryOutcome::UnsafePath;
    switch (resultCode) {
    case kZipBadPassword:
        return EntryOutcome::WrongPassword;
    case kZipWriteFailed: {
        // The library refuses an entry the volume cannot hold, and a write
        // fails when the disk fills up: either way the entry is larger than
        // the room left. From a thousandth of its size (beyond what deflate
        // reaches on real data) it is taken for a bomb.
        if (figures.size <= figures.freeBytes) return EntryOutcome::CannotWrite;
        constexpr uint64_t kBombRatio = 1000;
        const bool bomb = figures.storedSize == 0 || figures.size / figures.storedSize >= kBombRatio;
        return bomb ? EntryOutcome::SuspectedBomb : EntryOutcome::DiskFull;
    }
    case kZipCannotOpen:
        return EntryOutcome::CannotWrite;
    case kZipMarkFailed:
        return EntryOutcome::MarkFailed;
    case kZipNotAFile:
        return EntryOutcome::LinkSkipped;
    case kZipMissingVolume:
        return EntryOutcome::MissingVolume;
    case kZipReadFailed:  // a method, or an encryption, the library does not decode
        return encrypted ? EntryOutcome::UnsupportedEncryption : EntryOutcome::Unsupported;
    default:
        return EntryOutcome::Damaged;
    }
}

EntryOutcome entryOutcome(int32_t resultCode, std::wstring_view name, uint64_t storedSize, uint64_t size,
                          const std::function<uint64_t()>& freeBytes, bool encrypted) {
    if (resultCode == kZipOk) return EntryOutcome::Extracted;
    EntryFigures figures{storedSize, size};
    if (resultCode == kZipWriteFailed && freeBytes) figures.freeBytes = freeBytes();
    return classifyResult(resultCode, unsafeEntryName(name), figures, encrypted);
}

bool isFailure(EntryOutcome outcome) {
    return outcome != EntryOutcome::Extracted && outcome != EntryOutcome::Skipped &&
           outcome != EntryOutcome::LinkSkipped;
}

std::string outcomeReason(EntryOutcome outcome) {
    switch (outcome) {
    case EntryOutcome::Extracted: return {};
    case EntryOutcome::Skipped:
    case EntryOutcome::PasswordSkipped: return "（已跳过）";
    case EntryOutcome::WrongPassword: return "（密码错误）";
    case EntryOutcome::Damaged: return "（数据损坏）";
    case EntryOutcome::Unsupported: return "（不支持的压缩方式）";
    case EntryOutcome::UnsafePath: return "（路径不安全，已跳过）";
    case EntryOutcome::DiskFull: return "（磁盘空间不足）";
    case EntryOutcome::SuspectedBomb: return "（疑似压缩炸弹，已跳过）";
    case EntryOutcome::CannotWrite: return "（无法写入）";
    case EntryOutcome::MarkFailed: return "（无法写入安全标记）";
    case EntryOutcome::LinkSkipped: return "（链接，已跳过）";
    case EntryOutcome::MissingVolume: return "（缺少分卷）";
    case EntryOutcome::UnsupportedEncryption: return "（不支持此类加密）";
    case EntryOutcome::RunFailed: return "（解压出错）";
    }
    return {};
}

std::string progressLine(uint64_t doneBytes, uint64_t totalBytes, int64_t doneEntries, int64_t totalEntries) {
    uint64_t percent = 0;
    if (totalBytes > 0) {
        if (doneBytes > totalBytes) doneBytes = totalBytes;
        percent = totalBytes > UINT64_MAX / 100 ? doneBytes / (totalBytes / 100) : doneBytes * 100 / totalBytes;
    } else if (totalEntries > 0) {
        percent = static_cast<uint64_t>(doneEntries * 100 / totalEntries);
    }
    if (percent > 100) percent = 100;
    return "正在解压 " + std::to_string(percent) + "%（" + std::to_string(doneEntries) + "/" +
           std::to_string(totalEntries) + "）";
}

std::string resultLine(int64_t extracted, int64_t failed, bool cancelled) {
    if (cancelled) return "已取消：已解压" + std::to_string(extracted) + "个";
    if (failed == 0) return "解压完成，共" + std::to_string(extracted) + "个文件";
    return "解压完成：成功" + std::to_string(extracted) + "个，失败" + std::to_string(failed) + "个";
}
