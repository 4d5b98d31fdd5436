// Showing the result of an extraction: the destination in a shell window.
#pragma once

#include <string>

// Opens a folder (or any file) in a shell window; reports nothing.
void openInShell(const std::wstring& path);
