#include "app/extract/VerdictText.h"

#include "app/detect/DownloadRules.h"

VerdictLine reminderStatus(bool opened, const ArchiveVerdict& verdict, bool namesEncrypted) {
    if (!opened) return {"下载完毕，检测未知"};
    if (namesEncrypted) return {"下载完毕，需要密码"};
    if (verdict.riskyCount() > 0) return {"下载完毕，含危险文件", true};
    if (verdict.encrypted()) return {"下载完毕，需要密码"};
    return {"下载完毕，压缩包安全"};
}

VerdictLine entryCountLine(int count, const ArchiveVerdict& verdict, bool namesEncrypted) {
    if (namesEncrypted) return {"文件名已加密，无法查看内容"};
    const std::string entries = "共有" + std::to_string(count) + "个文件，";
    if (size_t risky = verdict.riskyCount()) return {entries + "其中" + std::to_string(risky) + "个有风险", true};
    if (verdict.encrypted()) return {entries + "需要密码"};
    return {countLine(count)};
}

VerdictLine cannotOpenLine(bool fileThere) {
    return {fileThere ? "无法打开：不是支持的压缩包" : "无法打开：文件不存在", true};
}

std::string rowReason(EntryReason reason) {
    switch (reason) {
    case EntryReason::leavesDestination: return "（危险：路径越界）";
    case EntryReason::zipBomb: return "（危险：疑似压缩炸弹）";
    case EntryReason::disguisedProgram: return "（危险：伪装的可执行文件）";
    case EntryReason::encrypted: return "（已加密）";
    case EntryReason::program: return "（可执行文件）";
    case EntryReason::none: break;
    }
    return {};
}

std::wstring visibleName(std::wstring_view name) {
    std::wstring shown(name);
    for (wchar_t& c : shown) {
        const bool bidi = c == 0x200E || c == 0x200F || c == 0x061C || (c >= 0x202A && c <= 0x202E) ||
                          (c >= 0x2066 && c <= 0x2069);
        if (bidi) c = L'_';
    }
    return shown;
}
