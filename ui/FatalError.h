// The program-wide report of a broken invariant: one message box whose text
// begins "运行时出错!", then "错误代码：" and the code when there is one and
// "错误信息：" and the message; then the process ends with exit code -1.
// Correct operation never gets here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The full text of the report.
std::wstring fatalErrorText(std::wstring_view message, std::optional<int> code = std::nullopt);

// Shows the report and ends the process. Returns only when the exit hook
// has been swapped (tests).
void fatalError(std::wstring_view message, std::optional<int> code = std::nullopt);

// Tests swap how the report is shown and how the process ends; nullptr
// members restore the message box and ExitProcess. Returns the old hooks.
struct FatalHooks {
    void (*show)(std::wstring_view text) = nullptr;
    void (*exit)(int exitCode) = nullptr;
};
FatalHooks setFatalHooks(FatalHooks hooks);
