// The words the windows give an archive's verdict: the reminder's status
// line, the main window's count line and the reason after a flagged row.
// Texts are UTF-8. No Windows headers: tested on the host as well.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ui/Colour.h"
#include "zip/ArchiveVerdict.h"

// The warning colour of a line that reports a risk.
constexpr ColourRef kWarningRed = rgb(220, 53, 69);

struct VerdictLine {
    std::string text;
    bool warning = false;  // drawn in kWarningRed instead of the label's own colour
    // The colour for setTextColour: red for a warning, else the label's own.
    std::optional<ColourRef> colour() const { return warning ? std::optional<ColourRef>(kWarningRed) : std::nullopt; }
};

// "下载完毕，检测未知" when the archive did not open; else what it holds. An
// archive whose names are encrypted too (7z -mhe, RAR headers) needs a password.
VerdictLine reminderStatus(bool opened, const ArchiveVerdict& verdict, bool namesEncrypted = false);

// "共有N个文件，..." for an archive of count entries; "文件名已加密，无法查看内容"
// for one whose names are encrypted.
VerdictLine entryCountLine(int count, const ArchiveVerdict& verdict, bool namesEncrypted = false);

// The count line for an archive that could not be opened: "无法打开：文件不存在"
// when no file is there, else "无法打开：不是支持的压缩包".
VerdictLine cannotOpenLine(bool fileThere);

// What follows a flagged entry's name in the list, "（已加密）"; empty for none.
std::string rowReason(EntryReason reason);

// An entry's name as a row shows it: bidirectional controls (U+200E,
// U+200F, U+061C, U+202A-U+202E, U+2066-U+2069) become "_", so that
// "invoice<U+202E>fdp.exe" cannot pass for "invoiceexe.pdf" in the list.
std::wstring visibleName(std::wstring_view name);
