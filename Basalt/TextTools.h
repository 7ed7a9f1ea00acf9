// Small string helpers shared by the parsers.
#pragma once

#include <string>

namespace Bas {

// The text without white space (iswspace) at either end.
std::wstring Trim(const std::wstring& text);

// A whole decimal 32-bit integer: white space allowed around it, a sign
// allowed, nothing else; overflow fails.
bool ParseInteger(const std::wstring& text, int& value);

} // namespace Bas
