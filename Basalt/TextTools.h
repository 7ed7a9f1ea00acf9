// Small string helpers shared by the parsers.
#pragma once

#include <string>

namespace Bas {

// The text without white space (iswspace) at either end.
std::wstring Trim(const std::wstring& text);

} // namespace Bas
