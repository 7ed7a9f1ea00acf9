#include "Message.h"

#include "BasaltMessages.h"
#include "Library.h"
#include "Lock.h"
#include "MessageHandlers.h"
#include "ResourceInfo.h"

#include <climits>
#include <cstdio>
#include <cwchar>
#include <mutex>
#include <set>

namespace Bas {

namespace {

constinit CLock g_nameListLock;
constinit CMessageName* g_firstName = nullptr;

struct CFallback {
    const CMessageName* message;
    const wchar_t* text;
};

// Internal errors must stay readable even with no text in any module, or
// while the library is not running.
const wchar_t* FindFallback(const CMessageName& message)
{
    static const CFallback kFallbacks[] = {
        {&MSG_INTERNAL_ERROR, L"Internal Program Error:\n%0, %1."},
        {&MSG_INTERNAL_ERROR_WITH_CODE, L"Internal Program Error:\n%0, %1.\nError code: %2"},
        {&MSG_ASSERT, L"Internal Program Error:\nAssertion failed: ( %0 )\n%2, %3.\n( %1 )."},
        {&MSG_ASSERTLASTERROR,
         L"Internal Program Error:\nAssertion failed: ( %0 )\n%2, %3.\n( %1 ).\nError code: %4 - %5"},
        {&MSG_PRESUME, L"Internal Program Error:\nPresumption failed: ( %0 )\n%2, %3.\n( %1 )."},
        {&MSG_PRESUMELASTERROR,
         L"Internal Program Error:\nPresumption failed: ( %0 )\n%2, %3.\n( %1 ).\nError code: %4 - %5"},
    };
    for (const auto& fallback : kFallbacks)
        if (fallback.message == &message || std::wcscmp(fallback.message->Name(), message.Name()) == 0)
            return fallback.text;
    return nullptr;
}

constinit CLock g_undefinedLock;

std::set<std::wstring>& UndefinedNames()
{
    static auto* names = new std::set<std::wstring>; // used until process exit
    return *names;
}

bool ResolveText(const CMessageName& message, std::wstring& text)
{
    const wchar_t* fallback = FindFallback(message);
    if (fallback != nullptr && !IsLibraryRunning()) {
        text = fallback;
        return true;
    }
    if (LoadMessageText(message.Name(), text))
        return true;
    if (fallback != nullptr) {
        text = fallback;
        return true;
    }
    if (HasLibraryFlag(FlagSaveUndefinedMessages)) {
        std::lock_guard guard(g_undefinedLock);
        UndefinedNames().insert(message.Name());
    }
    return false;
}

} // namespace

CMessageName::CMessageName(const wchar_t* name) noexcept : m_name(name)
{
    std::lock_guard guard(g_nameListLock);
    m_next = g_firstName;
    if (m_next != nullptr)
        m_next->m_prevLink = &m_next;
    m_prevLink = &g_firstName;
    g_firstName = this;
}

CMessageName::~CMessageName()
{
    std::lock_guard guard(g_nameListLock);
    *m_prevLink = m_next;
    if (m_next != nullptr)
        m_next->m_prevLink = m_prevLink;
}

std::vector<std::wstring> CMessageName::DeclaredNames()
{
    std::vector<std::wstring> names;
    std::lock_guard guard(g_nameListLock);
    for (const CMessageName* name = g_firstName; name != nullptr; name = name->m_next)
        names.emplace_back(name->m_name);
    return names;
}

bool IsDefined(const CMessageName& message)
{
    std::wstring text;
    return LoadMessageText(message.Name(), text);
}

std::wstring GetText(const CMessageName& message)
{
    std::wstring text;
    if (ResolveText(message, text))
        return text;
    return message.Name();
}

std::wstring Format(const CMessageName& message, const std::wstring* params, std::size_t count)
{
    std::wstring text;
    if (ResolveText(message, text)) {
        if (HasLibraryFlag(FlagCheckMessagesParamsCount))
            for (const std::wstring& report : CheckParameterCount(text, count))
                ShowMessage(report, MB_OKCANCEL | MB_ICONEXCLAMATION);
        return FormatText(text, params, count);
    }
    std::wstring result = message.Name();
    for (std::size_t i = 0; i < count; ++i) {
        result += L' ';
        result += params[i];
    }
    return result;
}

std::wstring Format(const CMessageName& message, std::initializer_list<std::wstring> params)
{
    return Format(message, params.begin(), params.size());
}

std::vector<std::wstring> LookedUpUndefinedNames()
{
    std::lock_guard guard(g_undefinedLock);
    return {UndefinedNames().begin(), UndefinedNames().end()};
}

std::vector<std::wstring> CheckParameterCount(std::wstring_view text, std::size_t count)
{
    std::set<unsigned long long> indices;
    for (std::size_t pos = text.find(L'%'); pos != std::wstring_view::npos; pos = text.find(L'%', pos)) {
        std::size_t end = pos + 1;
        unsigned long long index = 0;
        while (end < text.size() && text[end] >= L'0' && text[end] <= L'9' && index <= INT_MAX)
            index = index * 10 + static_cast<unsigned>(text[end++] - L'0');
        if (end > pos + 1 && index <= INT_MAX)
            indices.insert(index);
        pos = end;
    }
    std::vector<std::wstring> reports;
    const std::wstring quoted(text);
    const unsigned long long found = indices.empty() ? 0 : *indices.rbegin() + 1;
    if (found != count) {
        std::vector<wchar_t> buffer(quoted.size() + 128);
        std::swprintf(buffer.data(), buffer.size(), L"Number of params in message \"%ls\" is invalid: %d, expected %d.",
                      quoted.c_str(), static_cast<int>(found), static_cast<int>(count));
        reports.emplace_back(buffer.data());
    }
    std::wstring missing;
    for (unsigned long long i = 0; i + 1 < found; ++i) {
        if (indices.count(i) == 0) {
            if (!missing.empty())
                missing += L" ,";
            missing += std::to_wstring(i);
        }
    }
    if (!missing.empty())
        reports.push_back(L"Some parameters in message \"" + quoted + L"\" are missing: " + missing + L".");
    return reports;
}

std::wstring FormatText(std::wstring_view text, const std::wstring* params, std::size_t count)
{
    std::wstring result;
    result.reserve(text.size() + 16 * count);
    std::size_t pos = 0;
    for (;;) {
        const std::size_t percent = text.find(L'%', pos);
        if (percent == std::wstring_view::npos || percent + 1 == text.size()) {
            result.append(text.substr(pos));
            return result;
        }
        result.append(text.substr(pos, percent - pos));
        std::size_t end = percent + 1;
        while (end < text.size() && text[end] >= L'0' && text[end] <= L'9')
            ++end;
        if (end == percent + 1) {
            result += L'%';
            pos = percent + 1;
            continue;
        }
        unsigned long long index = 0;
        bool overflow = false;
        for (std::size_t i = percent + 1; i < end && !overflow; ++i) {
            index = index * 10 + static_cast<unsigned>(text[i] - L'0');
            overflow = index > static_cast<unsigned long long>(INT_MAX);
        }
        if (overflow)
            result.append(text.substr(percent, end - percent));
        else if (index < count)
            result += params[index];
        pos = end;
    }
}

} // namespace Bas
