// Message names and their resolution to texts with numbered parameters.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace Bas {

// One static object per message name used in code. Each joins a process-wide
// list while static objects are constructed and leaves it at exit; the list
// serves the diagnostic message reports only, never the look-up of a text.
class CMessageName {
public:
    explicit CMessageName(const wchar_t* name) noexcept;
    ~CMessageName();
    CMessageName(const CMessageName&) = delete;
    CMessageName& operator=(const CMessageName&) = delete;

    const wchar_t* Name() const noexcept { return m_name; }

    // The names of all declared message objects, duplicates included.
    static std::vector<std::wstring> DeclaredNames();

private:
    const wchar_t* m_name;
    CMessageName* m_next = nullptr;
    CMessageName** m_prevLink = nullptr;
};

// Whether some resource module has a text for the name.
bool IsDefined(const CMessageName& message);

// The text of the message; the name itself when it is undefined.
std::wstring GetText(const CMessageName& message);

// The names looked up without a text while "SaveUndefinedMessages" was on.
std::vector<std::wstring> LookedUpUndefinedNames();

// The reports of the parameter-count check: a count that differs from the
// highest referenced index + 1, and indices below the highest not referenced.
std::vector<std::wstring> CheckParameterCount(std::wstring_view text, std::size_t count);

// The message with %0, %1, ... replaced by the parameters. An undefined name
// gives the name followed by each parameter after one blank.
std::wstring Format(const CMessageName& message, const std::wstring* params, std::size_t count);
std::wstring Format(const CMessageName& message, std::initializer_list<std::wstring> params);

template <class... Params>
    requires(sizeof...(Params) > 0 && (std::is_constructible_v<std::wstring, const Params&> && ...))
std::wstring Format(const CMessageName& message, const Params&... params)
{
    return Format(message, std::initializer_list<std::wstring>{std::wstring(params)...});
}

// The substitution itself, on any text: %N (decimal digits) is replaced by
// parameter N, or by nothing when N is out of range; a % that is not followed
// by digits, or whose digits overflow, is copied as it stands.
std::wstring FormatText(std::wstring_view text, const std::wstring* params, std::size_t count);

} // namespace Bas
