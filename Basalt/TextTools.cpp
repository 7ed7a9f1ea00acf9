#include "TextTools.h"

#include <cwctype>

namespace Bas {

std::wstring Trim(const std::wstring& text)
{
    std::size_t start = 0;
    std::size_t end = text.size();
    while (start < end && std::iswspace(text[start]))
        ++start;
    while (end > start && std::iswspace(text[end - 1]))
        --end;
    return text.substr(start, end - start);
}

} // namespace Bas
