#include "PrivacyMask.h"

#include "Errors.h"
#include "File.h"
#include "GleanAppLog.h"
#include "TextTools.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace Glean {

namespace {

// Letters and digits of any script.
bool IsWordChar(wchar_t c)
{
    return c == L'_' || (c != L'\0' && ::IsCharAlphaNumericW(c));
}

bool IsHex(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

bool IsAsciiAlnum(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || IsDigit(c);
}

std::wstring Lower(std::wstring text)
{
    if (!text.empty())
        ::CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

wchar_t At(const std::wstring& text, std::size_t at)
{
    return at < text.size() ? text[at] : L'\0';
}

// "00-11-22-33-44-55" or with ":".
std::size_t MatchMac(const std::wstring& text, std::size_t at)
{
    if (at + 17 > text.size())
        return 0;
    const wchar_t separator = text[at + 2];
    if (separator != L':' && separator != L'-')
        return 0;
    for (std::size_t i = 0; i < 17; ++i) {
        const wchar_t c = text[at + i];
        if (i % 3 == 2 ? c != separator : !IsHex(c))
            return 0;
    }
    const wchar_t after = At(text, at + 17);
    if (IsHex(after) || IsWordChar(after) || after == separator)
        return 0;
    return 17;
}

// Four decimal octets of 0 to 255; a version in brackets ("[1.0.0.0]", as
// the main log writes module versions) is not an address.
std::size_t MatchIpv4(const std::wstring& text, std::size_t at)
{
    std::size_t i = at;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (At(text, i) != L'.')
                return 0;
            ++i;
        }
        std::size_t digits = 0;
        int value = 0;
        while (digits < 4 && IsDigit(At(text, i))) {
            value = value * 10 + (text[i] - L'0');
            ++i;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return 0;
    }
    const wchar_t after = At(text, i);
    if (IsWordChar(after) || (after == L'.' && IsDigit(At(text, i + 1))))
        return 0;
    if (at > 0 && text[at - 1] == L'[' && after == L']')
        return 0;
    return i - at;
}

// Whether a run of hex digits, colons and dots is an IPv6 address: groups of
// one to four hex digits, "::" at most once, eight groups without it, a
// dotted IPv4 tail allowed.
bool IsIpv6(const std::wstring& candidate)
{
    const std::size_t gap = candidate.find(L"::");
    if (gap != std::wstring::npos && candidate.find(L"::", gap + 1) != std::wstring::npos)
        return false;
    if (candidate.find_first_not_of(L":") == std::wstring::npos)
        return false;
    std::size_t groups = 0;
    std::size_t start = 0;
    bool ipv4Tail = false;
    while (start <= candidate.size()) {
        std::size_t end = candidate.find(L':', start);
        if (end == std::wstring::npos)
            end = candidate.size();
        const std::wstring group = candidate.substr(start, end - start);
        if (!group.empty()) {
            if (group.find(L'.') != std::wstring::npos) {
                if (end != candidate.size() || MatchIpv4(group, 0) != group.size())
                    return false;
                ipv4Tail = true;
                groups += 2;
            } else {
                if (group.size() > 4 || !std::all_of(group.begin(), group.end(), IsHex))
                    return false;
                ++groups;
            }
        } else if (!(gap != std::wstring::npos && (start == gap || start == gap + 1 || start == gap + 2))) {
            return false; // an empty group outside "::"
        }
        if (end == candidate.size())
            break;
        start = end + 1;
    }
    if (gap == std::wstring::npos)
        return groups == 8;
    return groups < 8 && (groups > 0 || ipv4Tail);
}

std::size_t MatchIpv6(const std::wstring& text, std::size_t at)
{
    std::size_t end = at;
    std::size_t colons = 0;
    while (end < text.size() && (IsHex(text[end]) || text[end] == L':' || text[end] == L'.')) {
        colons += text[end] == L':';
        ++end;
    }
    if (colons < 2)
        return 0;
    // A colon or dot that ends a sentence or a field is not the address's.
    while (end > at) {
        const wchar_t after = At(text, end);
        if (!IsWordChar(after) && IsIpv6(text.substr(at, end - at)))
            return end - at;
        if (text[end - 1] != L':' && text[end - 1] != L'.')
            return 0;
        --end;
    }
    return 0;
}

bool IsMailLocal(wchar_t c)
{
    return IsAsciiAlnum(c) || std::wstring_view(L"._%+-").find(c) != std::wstring_view::npos;
}

std::size_t MatchMail(const std::wstring& text, std::size_t at)
{
    std::size_t i = at;
    while (i < text.size() && IsMailLocal(text[i]))
        ++i;
    if (i == at || At(text, i) != L'@')
        return 0;
    ++i;
    std::size_t labels = 0;
    std::size_t lastLabel = 0;
    std::size_t end = i;
    for (;;) {
        const std::size_t start = i;
        while (i < text.size() && (IsAsciiAlnum(text[i]) || text[i] == L'-'))
            ++i;
        if (i == start)
            break;
        ++labels;
        lastLabel = i - start;
        end = i;
        if (At(text, i) != L'.' || !IsAsciiAlnum(At(text, i + 1)))
            break;
        ++i;
    }
    if (labels < 2 || lastLabel < 2)
        return 0;
    return end - at;
}

} // namespace

CPrivacyMask::CPrivacyMask(const CConfig& config) : m_keptMail(Lower(config.keptMail))
{
    const auto add = [&](const std::vector<std::wstring>& originals, EKind kind, bool wholeWord, std::size_t least) {
        for (const std::wstring& original : originals)
            if (original.size() >= least)
                m_literals.push_back({Lower(original), kind, wholeWord});
    };
    // Secrets and listed words first: at equal length they win.
    add(config.secrets, Secret, false, 4);
    add(config.words, Word, false, 1);
    add(config.users, User, true, 1);
    add(config.hosts, Host, true, 1);
    add(config.domains, Domain, true, 1);
    std::stable_sort(m_literals.begin(), m_literals.end(),
                     [](const CLiteral& a, const CLiteral& b) { return a.lower.size() > b.lower.size(); });
}

const wchar_t* CPrivacyMask::KindName(EKind kind)
{
    static const wchar_t* const kNames[KindCount] = {L"user", L"host", L"domain", L"ip", L"mac", L"mail", L"word",
                                                     L"secret"};
    return kNames[kind];
}

std::size_t CPrivacyMask::match(const std::wstring& text, const std::wstring& lower, std::size_t at, EKind& kind) const
{
    const wchar_t before = at > 0 ? text[at - 1] : L'\0';
    // An address starts a word: the local part of an e-mail address holds
    // the user's name more often than not, so it goes first.
    if (!IsMailLocal(before)) {
        if (const std::size_t length = MatchMail(text, at)) {
            kind = Mail;
            return lower.compare(at, length, m_keptMail) == 0 ? 0 : length;
        }
    }
    for (const CLiteral& literal : m_literals) {
        if (lower.compare(at, literal.lower.size(), literal.lower) != 0)
            continue;
        if (literal.wholeWord && (IsWordChar(before) || IsWordChar(At(text, at + literal.lower.size()))))
            continue;
        kind = literal.kind;
        return literal.lower.size();
    }
    if (IsHex(text[at]) && !IsHex(before) && !IsWordChar(before) && before != L':' && before != L'-') {
        if (const std::size_t length = MatchMac(text, at)) {
            kind = Mac;
            return length;
        }
    }
    if ((IsHex(text[at]) || text[at] == L':') && !IsHex(before) && !IsWordChar(before) && before != L':' &&
        before != L'.') {
        if (const std::size_t length = MatchIpv6(text, at)) {
            kind = Ip;
            return length;
        }
    }
    if (IsDigit(text[at]) && !IsWordChar(before) && before != L'.') {
        if (const std::size_t length = MatchIpv4(text, at)) {
            kind = Ip;
            return length;
        }
    }
    return 0;
}

const std::wstring& CPrivacyMask::standIn(EKind kind, const std::wstring& original)
{
    std::wstring normal = Lower(original);
    if (kind == Mac)
        std::replace(normal.begin(), normal.end(), L'-', L':');
    auto [found, added] = m_standIns.try_emplace({kind, normal});
    if (added) {
        found->second = KindName(kind) + std::to_wstring(++m_counts[kind]);
        m_key.emplace_back(found->second, original);
    }
    return found->second;
}

std::wstring CPrivacyMask::SecretStandIn(const std::wstring& original)
{
    std::lock_guard guard(m_lock);
    return standIn(Secret, original);
}

std::wstring CPrivacyMask::Filter(const std::wstring& text, EForm)
{
    const std::wstring lower = Lower(text);
    std::lock_guard guard(m_lock);
    std::wstring result;
    result.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        EKind kind = User;
        const std::size_t length = match(text, lower, at, kind);
        if (length == 0) {
            result += text[at++];
            continue;
        }
        result += standIn(kind, text.substr(at, length));
        at += length;
    }
    return result;
}

std::wstring CPrivacyMask::FilterKnown(const std::wstring& text, EForm form, std::vector<COriginal>&)
{
    return Filter(text, form);
}

void CPrivacyMask::Register(const std::vector<COriginal>&)
{
}

bool CPrivacyMask::CanCutAfter(wchar_t c) const
{
    const wchar_t lower = static_cast<wchar_t>(reinterpret_cast<std::uintptr_t>(::CharLowerW(reinterpret_cast<LPWSTR>(static_cast<std::uintptr_t>(c)))));
    for (const CLiteral& literal : m_literals)
        if (literal.lower.find(lower) != std::wstring::npos)
            return false;
    return true;
}

std::vector<std::pair<std::wstring, std::wstring>> CPrivacyMask::Key() const
{
    std::lock_guard guard(m_lock);
    return m_key;
}

std::array<unsigned, CPrivacyMask::KindCount> CPrivacyMask::Counts() const
{
    std::lock_guard guard(m_lock);
    return m_counts;
}

namespace {

std::wstring Environment(const wchar_t* name)
{
    std::vector<wchar_t> value(32768);
    const DWORD length = ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    return length > 0 && length < value.size() ? std::wstring(value.data(), length) : std::wstring();
}

std::wstring ComputerName(COMPUTER_NAME_FORMAT format)
{
    wchar_t name[256] = {};
    DWORD size = 256;
    return ::GetComputerNameExW(format, name, &size) ? std::wstring(name, size) : std::wstring();
}

void AddOnce(std::vector<std::wstring>& names, const std::wstring& name)
{
    if (name.empty())
        return;
    for (const std::wstring& known : names)
        if (::CompareStringOrdinal(known.c_str(), -1, name.c_str(), -1, TRUE) == CSTR_EQUAL)
            return;
    names.push_back(name);
}

} // namespace

CPrivacyMask::CConfig PrivateNamesOfThisComputer(const std::vector<std::wstring>& words, const std::wstring& keptMail)
{
    CPrivacyMask::CConfig config;
    wchar_t user[256] = {};
    DWORD size = 256;
    if (::GetUserNameW(user, &size))
        AddOnce(config.users, user);
    // The profile folder's own name, which paths show, may differ.
    std::wstring profile = Environment(L"USERPROFILE");
    while (!profile.empty() && (profile.back() == L'\\' || profile.back() == L'/'))
        profile.pop_back();
    const std::size_t slash = profile.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
        AddOnce(config.users, profile.substr(slash + 1));
    AddOnce(config.hosts, ComputerName(ComputerNameNetBIOS));
    AddOnce(config.hosts, ComputerName(ComputerNameDnsHostname));
    AddOnce(config.domains, ComputerName(ComputerNameDnsDomain));
    AddOnce(config.domains, Environment(L"USERDOMAIN"));
    AddOnce(config.domains, Environment(L"USERDNSDOMAIN"));
    config.words = words;
    config.keptMail = keptMail;
    // The values of variables that hold secrets.
    for (const std::wstring& line : EnvironmentEntries()) {
        const std::size_t equals = line.find(L'=', 1);
        if (equals == std::wstring::npos)
            continue;
        std::wstring name = line.substr(0, equals);
        ::CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
        for (const wchar_t* marker : {L"PASSWORD", L"PASSWD", L"SECRET", L"TOKEN", L"KEY"})
            if (name.find(marker) != std::wstring::npos) {
                AddOnce(config.secrets, line.substr(equals + 1));
                break;
            }
    }
    return config;
}

} // namespace Glean
