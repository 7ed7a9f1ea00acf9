#include "CommandLine.h"

#include "Errors.h"
#include "TextStream.h"

#include <cwctype>

namespace Bas {

bool EqualNoCase(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::towlower(a[i]) != std::towlower(b[i]))
            return false;
    return true;
}

bool CCommandLine::Parse(const std::wstring& text, EResponseFiles responseFiles)
{
    m_responseFiles = responseFiles;
    m_arguments.clear();
    m_switches.clear();
    m_responseBytes = 0;
    m_overflow.clear();
    if (!split(text, 0)) {
        m_arguments.clear();
        return false;
    }
    for (const auto& argument : m_arguments) {
        std::wstring name;
        std::wstring value;
        if (SplitSwitch(argument, name, value))
            m_switches.emplace_back(std::move(name), std::move(value));
        else
            m_switches.emplace_back(std::wstring(), argument);
    }
    return true;
}

bool CCommandLine::split(const std::wstring& text, int depth)
{
    std::size_t pos = 0;
    const std::size_t size = text.size();
    for (;;) {
        while (pos < size && std::iswspace(text[pos]))
            ++pos;
        if (pos >= size)
            return true;
        if (m_arguments.size() >= kMaxArguments)
            return false;
        std::wstring argument;
        bool quoted = false;
        for (; pos < size; ++pos) {
            const wchar_t c = text[pos];
            if (c == L'"') {
                if (quoted && pos + 1 < size && text[pos + 1] == L'"') {
                    argument += L'"';
                    ++pos;
                } else {
                    quoted = !quoted;
                }
            } else if (!quoted && std::iswspace(c)) {
                break;
            } else {
                argument += c;
            }
        }
        if (m_responseFiles == ReadResponseFiles && argument.size() >= 2 && argument[0] == L'@') {
            if (argument[1] == L'@') {
                m_arguments.push_back(argument.substr(1));
                continue;
            }
            if (depth < kMaxResponseDepth) {
                CTextFile file;
                file.Open(argument.substr(1), CTextFile::ModeRead, CP_ACP);
                std::wstring contents;
                const std::uint64_t room = m_responseBytes < kMaxResponseBytes ? kMaxResponseBytes - m_responseBytes : 0;
                const bool whole = file.ReadAll(room, contents);
                m_responseBytes += file.BytesRead();
                file.Close();
                if (!whole || !split(contents, depth + 1)) {
                    if (m_overflow.empty())
                        m_overflow = argument;
                    return false;
                }
                continue;
            }
        }
        m_arguments.push_back(std::move(argument));
    }
}

const std::wstring& CCommandLine::Argument(std::size_t index) const
{
    BAS_ASSERT(index < m_arguments.size());
    return m_arguments[index];
}

bool CCommandLine::SplitSwitch(std::wstring_view argument, std::wstring& name, std::wstring& value)
{
    if (argument.size() < 2 || (argument[0] != L'-' && argument[0] != L'/'))
        return false;
    std::size_t prefix = 1;
    wchar_t separator = L':';
    if (argument[0] == L'-' && argument[1] == L'-') {
        prefix = 2;
        separator = L'=';
    }
    const std::size_t at = argument.find(separator, prefix);
    if (at == std::wstring_view::npos) {
        name.assign(argument.substr(prefix));
        value.clear();
    } else {
        name.assign(argument.substr(prefix, at - prefix));
        value.assign(argument.substr(at + 1));
    }
    return true;
}

bool CCommandLine::IsSwitch(std::wstring_view argument, std::wstring_view name, std::wstring* value)
{
    std::wstring switchName;
    std::wstring switchValue;
    if (!SplitSwitch(argument, switchName, switchValue) || !EqualNoCase(switchName, name))
        return false;
    if (value != nullptr)
        *value = std::move(switchValue);
    return true;
}

int CCommandLine::Find(std::wstring_view name) const
{
    for (std::size_t i = 0; i < m_switches.size(); ++i)
        if (EqualNoCase(m_switches[i].first, name))
            return static_cast<int>(i);
    return -1;
}

std::vector<std::wstring> CCommandLine::Values(std::wstring_view name) const
{
    std::vector<std::wstring> values;
    for (const auto& [switchName, value] : m_switches)
        if (EqualNoCase(switchName, name))
            values.push_back(value);
    return values;
}

} // namespace Bas
