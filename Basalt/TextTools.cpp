#include "TextTools.h"

#include "WinApi.h"

#include <climits>
#include <cwctype>

namespace Bas {

std::string Narrow(std::wstring_view text, unsigned codePage)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = ::WideCharToMultiByte(codePage, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), size, bytes.data(), length, nullptr, nullptr);
    return bytes;
}

std::wstring Widen(std::string_view bytes, unsigned codePage)
{
    if (bytes.empty())
        return {};
    const int size = static_cast<int>(bytes.size());
    const int length = ::MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data(), size, text.data(), length);
    return text;
}

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

bool ParseInteger(const std::wstring& text, int& value)
{
    std::size_t pos = 0;
    std::size_t end = text.size();
    while (pos < end && std::iswspace(text[pos]))
        ++pos;
    while (end > pos && std::iswspace(text[end - 1]))
        --end;
    bool negative = false;
    if (pos < end && (text[pos] == L'+' || text[pos] == L'-')) {
        negative = text[pos] == L'-';
        ++pos;
    }
    if (pos == end)
        return false;
    long long number = 0;
    for (; pos < end; ++pos) {
        if (text[pos] < L'0' || text[pos] > L'9')
            return false;
        number = number * 10 + (text[pos] - L'0');
        if (number > static_cast<long long>(INT_MAX) + 1)
            return false;
    }
    if (negative)
        number = -number;
    if (number > INT_MAX || number < INT_MIN)
        return false;
    value = static_cast<int>(number);
    return true;
}

} // namespace Bas
