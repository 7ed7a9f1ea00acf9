// Path helpers over the operating system's file functions.
#pragma once

#include "WinApi.h"

#include <string>

namespace Bas {

// The full path of a module's file (the program's own for null).
std::wstring GetModulePath(HMODULE module = nullptr);
// The folder part of a path, without its trailing separator.
std::wstring FolderOf(const std::wstring& path);
// The part after the last separator.
std::wstring FileNameOf(const std::wstring& path);
// A path that starts neither with a separator nor with a drive letter.
bool IsRelativePath(const std::wstring& path);
// folder + "\" + name, without doubling a separator.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

} // namespace Bas
