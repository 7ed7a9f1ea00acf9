// Small string helpers shared by the parsers.
#pragma once

#include <string>
#include <string_view>

namespace Bas {

// The text without white space (iswspace) at either end.
std::wstring Trim(const std::wstring& text);

// A whole decimal 32-bit integer: white space allowed around it, a sign
// allowed, nothing else; overflow fails.
bool ParseInteger(const std::wstring& text, int& value);

// The text in a code page (CP_ACP for the ANSI one, CP_UTF8), every
// character of it; characters the code page lacks become its default.
std::string Narrow(std::wstring_view text, unsigned codePage);
// Bytes in a code page as text; a sequence the code page cannot read
// becomes its replacement character.
std::wstring Widen(std::string_view bytes, unsigned codePage);

} // namespace Bas
