#include "PrivacyMask.h"

#include "Account.h"
#include "Errors.h"
#include "File.h"
#include "GleanAppLog.h"
#include "Handles.h"
#include "RegistryKey.h"
#include "TextTools.h"

#include <sddl.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <vector>

namespace Glean {

namespace {

// The longest IPv6 address: "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255".
constexpr std::size_t kLongestIpv6 = 45;
// Digests, GUIDs and serials hold at least this many hex digits in a row.
constexpr std::size_t kLeastHexRun = 16;
// Secrets shorter than this are found only as a whole token.
constexpr std::size_t kLeastLooseSecret = 4;
// A listed word or secret of this many hex digits turns up inside a digest
// by chance once in some hundred million digests: found inside a hex run, it
// is the original itself, not a piece of a digest.
constexpr std::size_t kLeastChanceFreeHex = 8;

bool IsAsciiAlnum(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
}

// Letters and digits of any script.
bool IsWordChar(wchar_t c)
{
    return c < 0x80 ? IsAsciiAlnum(c) : ::IsCharAlphaNumericW(c) != FALSE;
}

bool IsHex(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

bool IsLineBreak(wchar_t c)
{
    return c == L'\r' || c == L'\n';
}

std::wstring Lower(std::wstring_view view)
{
    std::wstring text(view);
    if (!text.empty())
        ::CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

wchar_t At(std::wstring_view text, std::size_t at)
{
    return at < text.size() ? text[at] : L'\0';
}

// The form a registry export gives text in a value's data.
std::wstring Escaped(std::wstring_view text)
{
    std::wstring escaped;
    for (const wchar_t c : text) {
        if (c == L'\\' || c == L'"')
            escaped += L'\\';
        escaped += c;
    }
    return escaped;
}

std::wstring Unescaped(std::wstring_view text)
{
    std::wstring plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\\' && i + 1 < text.size())
            ++i;
        plain += text[i];
    }
    return plain;
}

// Names of built-in accounts and of folders every computer has: a run as
// SYSTEM, or from a profile folder named TEMP, must not take them for
// someone's name.
bool IsWellKnownName(const std::wstring& name)
{
    static const wchar_t* const kNames[] = {
        L"SYSTEM", L"LOCAL SERVICE", L"NETWORK SERVICE", L"Administrators", L"Users",        L"Everyone",      L"TEMP",
        L"Public", L"Default",       L"NT AUTHORITY",    L"systemprofile",  L"LocalService", L"NetworkService"};
    return std::any_of(std::begin(kNames), std::end(kNames), [&](const wchar_t* known) {
        return ::CompareStringOrdinal(known, -1, name.c_str(), static_cast<int>(name.size()), TRUE) == CSTR_EQUAL;
    });
}

// What of a SID is personal: of an account's "S-1-5-21-a-b-c-r" the domain
// part before the RID (the RID alone says nothing), of one not of that form
// the whole SID; nothing of a well-known SID (the null, world, local and
// creator authorities, NT AUTHORITY's own accounts and groups, app packages,
// mandatory labels).
std::wstring PersonalPartOfSid(const std::wstring& sid)
{
    std::vector<std::wstring_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t dash = sid.find(L'-', start);
        parts.push_back(std::wstring_view(sid).substr(start, dash - start));
        if (dash == std::wstring::npos)
            break;
        start = dash + 1;
    }
    if (parts.size() < 3 || (parts[0] != L"S" && parts[0] != L"s") || parts[1] != L"1")
        return sid;
    const std::wstring_view authority = parts[2];
    for (const wchar_t* known : {L"0", L"1", L"2", L"3", L"4", L"15", L"16", L"18"})
        if (authority == known)
            return {};
    if (authority != L"5")
        return sid;
    if (parts.size() < 4 || parts[3] != L"21")
        return {};
    if (parts.size() != 8)
        return sid;
    return sid.substr(0, sid.size() - parts[7].size() - 1);
}

// The key of the stand-in map: the kind and the original as all its
// spellings write it.
std::wstring KeyFor(int kind, std::wstring_view lower)
{
    std::wstring key(1, static_cast<wchar_t>(L'a' + kind));
    key += lower;
    if (kind == CPrivacyMask::Mac)
        std::replace(key.begin(), key.end(), L'-', L':');
    return key;
}

// "00-11-22-33-44-55" or with ":".
std::size_t MatchMac(std::wstring_view text, std::size_t at)
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

// Four decimal octets of 0 to 255.
std::size_t MatchIpv4(std::wstring_view text, std::size_t at)
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
    return i - at;
}

// Whether a run of hex digits, colons and dots is an IPv6 address: groups of
// one to four hex digits, "::" at most once, eight groups without it, a
// dotted IPv4 tail allowed.
bool IsIpv6(std::wstring_view candidate)
{
    const std::size_t gap = candidate.find(L"::");
    if (gap != std::wstring_view::npos && candidate.find(L"::", gap + 1) != std::wstring_view::npos)
        return false;
    if (candidate.find_first_not_of(L':') == std::wstring_view::npos)
        return false;
    std::size_t groups = 0;
    std::size_t start = 0;
    bool ipv4Tail = false;
    while (start <= candidate.size()) {
        std::size_t end = candidate.find(L':', start);
        if (end == std::wstring_view::npos)
            end = candidate.size();
        const std::wstring_view group = candidate.substr(start, end - start);
        if (!group.empty()) {
            if (group.find(L'.') != std::wstring_view::npos) {
                if (end != candidate.size() || MatchIpv4(group, 0) != group.size())
                    return false;
                ipv4Tail = true;
                groups += 2;
            } else {
                if (group.size() > 4 || !std::all_of(group.begin(), group.end(), IsHex))
                    return false;
                ++groups;
            }
        } else if (!(gap != std::wstring_view::npos && (start == gap || start == gap + 1 || start == gap + 2))) {
            return false; // an empty group outside "::"
        }
        if (end == candidate.size())
            break;
        start = end + 1;
    }
    if (gap == std::wstring_view::npos)
        return groups == 8;
    return groups < 8 && (groups > 0 || ipv4Tail);
}

// The run of hex digits, colons and dots from `at` is read once; only
// colons and dots that end it are given back (one that ends a sentence or a
// field is not the address's), and only a candidate short enough to be an
// address is checked.
std::size_t MatchIpv6(std::wstring_view text, std::size_t at)
{
    std::size_t end = at;
    std::size_t colons = 0;
    while (end < text.size() && (IsHex(text[end]) || text[end] == L':' || text[end] == L'.')) {
        colons += text[end] == L':';
        ++end;
    }
    if (colons < 2)
        return 0;
    for (; end > at; --end) {
        if (end - at <= kLongestIpv6 && !IsWordChar(At(text, end)) && IsIpv6(text.substr(at, end - at)))
            return end - at;
        if (text[end - 1] != L':' && text[end - 1] != L'.')
            return 0;
    }
    return 0;
}

// Letters of any script, as addresses with international names have them.
bool IsMailLocal(wchar_t c)
{
    return IsWordChar(c) || std::wstring_view(L"._%+-").find(c) != std::wstring_view::npos;
}

std::size_t MatchMail(std::wstring_view text, std::size_t at)
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
        while (i < text.size() && (IsWordChar(text[i]) || text[i] == L'-'))
            ++i;
        if (i == start)
            break;
        ++labels;
        lastLabel = i - start;
        end = i;
        if (At(text, i) != L'.' || !IsWordChar(At(text, i + 1)))
            break;
        ++i;
    }
    if (labels < 2 || lastLabel < 2)
        return 0;
    return end - at;
}

bool IsHexOrDash(wchar_t c)
{
    return IsHex(c) || c == L'-';
}

} // namespace

// One pass over one text. Every check looks a bounded way around the
// position, or over a stretch no other position looks at again (a run of
// hex digits, a line), so a text of any content is read in linear time.
class CPrivacyMask::CScan {
public:
    CScan(const CPrivacyMask& mask, std::wstring_view text, std::wstring_view lower, EForm form)
        : m_mask(mask), m_text(text), m_lower(lower), m_form(form)
    {
    }

    // The length of what is found at `at` (0 when nothing); `at` rises from
    // call to call.
    std::size_t Match(std::size_t at, CMatch& found)
    {
        const wchar_t before = at > 0 ? m_text[at - 1] : L'\0';
        found = {at, 0, User, nullptr};
        // An address starts a word: the local part of an e-mail address
        // holds the user's name more often than not, so it goes first.
        if (!IsMailLocal(before)) {
            if (const std::size_t length = MatchMail(m_text, at)) {
                if (m_lower.substr(at, length) == m_mask.m_keptMail)
                    return 0;
                found.kind = Mail;
                return found.length = length;
            }
        }
        if (const std::size_t length = matchLiteral(at, found))
            return length;
        const wchar_t c = m_text[at];
        if (IsHex(c) && !IsWordChar(before) && before != L':' && before != L'-') {
            if (const std::size_t length = MatchMac(m_text, at)) {
                found.kind = Mac;
                return found.length = length;
            }
        }
        found.kind = Ip;
        if ((IsHex(c) || c == L':') && !IsWordChar(before) && before != L':' && before != L'.') {
            if (const std::size_t length = MatchIpv6(m_text, at))
                return found.length = length;
        }
        if (IsDigit(c) && !IsWordChar(before) && before != L'.') {
            const std::size_t length = MatchIpv4(m_text, at);
            if (length > 0 && !(m_form == MainLog && isModuleVersion(at, length)))
                return found.length = length;
        }
        return 0;
    }

private:
    // The longest literal that starts at `at` and may stand there; at equal
    // length the first of its node's.
    std::size_t matchLiteral(std::size_t at, CMatch& found)
    {
        m_ends.clear();
        std::uint32_t node = 0;
        for (std::size_t i = at; i < m_lower.size(); ++i) {
            const auto& next = m_mask.m_nodes[node].next;
            const auto step = std::lower_bound(next.begin(), next.end(), m_lower[i],
                                               [](const auto& edge, wchar_t c) { return edge.first < c; });
            if (step == next.end() || step->first != m_lower[i])
                break;
            node = step->second;
            if (!m_mask.m_nodes[node].ends.empty())
                m_ends.emplace_back(i + 1 - at, node);
        }
        for (auto end = m_ends.rbegin(); end != m_ends.rend(); ++end) {
            for (const std::uint32_t index : m_mask.m_nodes[end->second].ends) {
                const CLiteral& literal = m_mask.m_literals[index];
                if (mayStand(literal, at, end->first)) {
                    found = {at, end->first, literal.kind, &literal};
                    return end->first;
                }
            }
        }
        return 0;
    }

    bool mayStand(const CLiteral& literal, std::size_t at, std::size_t length)
    {
        const wchar_t before = at > 0 ? m_text[at - 1] : L'\0';
        const wchar_t after = At(m_text, at + length);
        if (literal.wholeWord && (IsWordChar(before) || IsWordChar(after) || inRootKeyName(at)))
            return false;
        // The RID after the domain part stays.
        if (literal.kind == Sid && IsDigit(after))
            return false;
        if ((literal.kind == Word || literal.kind == Secret) && !literal.longHex && insideHexRun(at, length))
            return false;
        return true;
    }

    // Whether a word stands inside the name of a registry root key
    // ("HKEY_CLASSES_ROOT", or "CLASSES_ROOT" and "CURRENT_USER" as the
    // security functions name a key's object), which is nobody's name: a
    // user called root leaves it as it is.
    bool inRootKeyName(std::size_t at) const
    {
        if (at == 0 || m_text[at - 1] != L'_')
            return false;
        std::size_t start = at;
        while (start > 0 && at - start < 32 && (m_text[start - 1] == L'_' || (m_text[start - 1] >= L'A' && m_text[start - 1] <= L'Z')))
            --start;
        const std::wstring_view run = m_text.substr(start, at - start);
        return run.substr(0, 5) == L"HKEY_" || run == L"CLASSES_" || run == L"CURRENT_";
    }

    // Whether the stretch is a piece, not the whole, of a run of hex digits
    // and dashes long enough to be a digest, a GUID or a serial.
    bool insideHexRun(std::size_t at, std::size_t length)
    {
        if (!IsHexOrDash(m_text[at]))
            return false;
        if (at < m_runStart || at >= m_runEnd) {
            m_runStart = at;
            while (m_runStart > 0 && IsHexOrDash(m_text[m_runStart - 1]))
                --m_runStart;
            std::size_t digits = 0;
            for (m_runEnd = m_runStart; m_runEnd < m_text.size() && IsHexOrDash(m_text[m_runEnd]); ++m_runEnd)
                digits += m_text[m_runEnd] != L'-';
            m_runIsLong = digits >= kLeastHexRun;
        }
        return m_runIsLong && at + length <= m_runEnd && !(at == m_runStart && at + length == m_runEnd);
    }

    // Whether a dotted quad is the version of a module row of the main log:
    // a line of a module name, one or two tabs and the version in brackets.
    bool isModuleVersion(std::size_t at, std::size_t length) const
    {
        const std::size_t end = at + length;
        if (at == 0 || m_text[at - 1] != L'[' || At(m_text, end) != L']')
            return false;
        if (end + 1 < m_text.size() && !IsLineBreak(m_text[end + 1]))
            return false;
        // Only one such bracket ends a line: the line is read back once.
        std::size_t name = at - 1;
        std::size_t tabs = 0;
        for (; name > 0 && m_text[name - 1] == L'\t'; --name)
            ++tabs;
        if (tabs < 1 || tabs > 2)
            return false;
        std::size_t start = name;
        for (; start > 0 && !IsLineBreak(m_text[start - 1]); --start)
            if (m_text[start - 1] == L'\t')
                return false;
        return start < name;
    }

    const CPrivacyMask& m_mask;
    std::wstring_view m_text;
    std::wstring_view m_lower;
    EForm m_form;
    std::vector<std::pair<std::size_t, std::uint32_t>> m_ends; // lengths of literals found, with their nodes
    std::size_t m_runStart = 0;
    std::size_t m_runEnd = 0;
    bool m_runIsLong = false;
};

CPrivacyMask::CPrivacyMask(const CConfig& config) : m_nodes(1), m_keptMail(Lower(config.keptMail))
{
    const auto add = [&](const std::vector<std::wstring>& originals, EKind kind, bool names) {
        for (const std::wstring& original : originals) {
            if (original.empty() || (names && IsWellKnownName(original)))
                continue;
            const std::wstring lower = Lower(original);
            const std::wstring key = KeyFor(kind, lower);
            const bool wholeWord = names || (kind == Secret && original.size() < kLeastLooseSecret);
            addLiteral(lower, key, kind, wholeWord, false);
            // A registry export writes "\" and "\"" with a backslash before.
            const std::wstring escaped = Escaped(lower);
            if (escaped != lower)
                addLiteral(escaped, key, kind, wholeWord, true);
        }
    };
    // At equal length secrets and listed words win.
    add(config.secrets, Secret, false);
    add(config.words, Word, false);
    std::vector<std::wstring> sids;
    for (const std::wstring& sid : config.sids)
        sids.push_back(PersonalPartOfSid(sid));
    add(sids, Sid, false);
    add(config.users, User, true);
    add(config.hosts, Host, true);
    add(config.domains, Domain, true);
    add(config.organizations, Org, true);
}

void CPrivacyMask::addLiteral(const std::wstring& form, const std::wstring& key, EKind kind, bool wholeWord,
                              bool escaped)
{
    std::uint32_t node = 0;
    for (const wchar_t c : form) {
        auto& next = m_nodes[node].next;
        auto step = std::lower_bound(next.begin(), next.end(), c,
                                     [](const auto& edge, wchar_t value) { return edge.first < value; });
        if (step == next.end() || step->first != c) {
            const auto child = static_cast<std::uint32_t>(m_nodes.size());
            step = next.insert(step, {c, child});
            m_nodes.emplace_back();
        }
        node = step->second;
    }
    m_nodes[node].ends.push_back(static_cast<std::uint32_t>(m_literals.size()));
    const auto hexDigits = static_cast<std::size_t>(std::count_if(form.begin(), form.end(), IsHex));
    m_literals.push_back({key, kind, wholeWord, escaped, hexDigits >= kLeastChanceFreeHex});
    for (const wchar_t c : form) {
        const auto place = std::lower_bound(m_characters.begin(), m_characters.end(), c);
        if (place == m_characters.end() || *place != c)
            m_characters.insert(place, c);
    }
}

bool CPrivacyMask::CanCutAfter(wchar_t c) const
{
    wchar_t lower[2] = {c, L'\0'};
    ::CharLowerBuffW(lower, 1);
    return !std::binary_search(m_characters.begin(), m_characters.end(), lower[0]) &&
           !std::binary_search(m_characters.begin(), m_characters.end(), c);
}

std::size_t CPrivacyMask::SafeCut(const std::wstring& text, std::size_t at) const
{
    std::vector<std::wstring> keys;
    for (const CMatch& match : scan(text, Bas::ILogFilter::Plain, keys))
        if (match.at < at && at < match.at + match.length)
            return match.at;
    return at;
}

const wchar_t* CPrivacyMask::KindName(EKind kind)
{
    static const wchar_t* const kNames[KindCount] = {L"user", L"host", L"domain", L"ip",  L"mac",
                                                     L"mail", L"word", L"secret", L"sid", L"org"};
    return kNames[kind];
}

std::vector<CPrivacyMask::CMatch> CPrivacyMask::scan(const std::wstring& text, EForm form,
                                                     std::vector<std::wstring>& keys) const
{
    const std::wstring lower = Lower(text);
    std::vector<CMatch> matches;
    CScan scan(*this, text, lower, form);
    for (std::size_t at = 0; at < text.size();) {
        CMatch found;
        if (const std::size_t length = scan.Match(at, found)) {
            matches.push_back(found);
            keys.push_back(found.literal ? found.literal->key : KeyFor(found.kind, lower.substr(at, length)));
            at += length;
        } else {
            ++at;
        }
    }
    return matches;
}

std::wstring CPrivacyMask::originalOf(const CMatch& match, std::wstring_view text)
{
    const std::wstring_view found = text.substr(match.at, match.length);
    return match.literal && match.literal->escaped ? Unescaped(found) : std::wstring(found);
}

const std::wstring& CPrivacyMask::standIn(EKind kind, std::wstring key, const std::wstring& original)
{
    auto [found, added] = m_standIns.try_emplace(std::move(key));
    if (added) {
        found->second = KindName(kind) + std::to_wstring(++m_counts[kind]);
        m_key.emplace_back(found->second, original);
    }
    return found->second;
}

namespace {

// The text with the matches replaced by their stand-ins.
template <class Match>
std::wstring Replaced(const std::wstring& text, const std::vector<Match>& matches,
                      const std::vector<const std::wstring*>& standIns)
{
    std::wstring result;
    result.reserve(text.size());
    std::size_t done = 0;
    for (std::size_t i = 0; i < matches.size(); ++i) {
        result.append(text, done, matches[i].at - done);
        result += *standIns[i];
        done = matches[i].at + matches[i].length;
    }
    result.append(text, done);
    return result;
}

} // namespace

std::wstring CPrivacyMask::Filter(const std::wstring& text, EForm form)
{
    std::vector<std::wstring> keys;
    const std::vector<CMatch> matches = scan(text, form, keys);
    // Stand-ins are never removed: what the map holds stays where it is
    // after the lock is let go.
    std::vector<const std::wstring*> standIns(matches.size());
    {
        std::lock_guard guard(m_lock);
        for (std::size_t i = 0; i < matches.size(); ++i) {
            const auto known = m_standIns.find(keys[i]);
            standIns[i] = known != m_standIns.end()
                              ? &known->second
                              : &standIn(matches[i].kind, std::move(keys[i]), originalOf(matches[i], text));
        }
    }
    return Replaced(text, matches, standIns);
}

std::wstring CPrivacyMask::FilterKnown(const std::wstring& text, EForm form, CNovel& novel) const
{
    std::vector<std::wstring> keys;
    const std::vector<CMatch> matches = scan(text, form, keys);
    std::vector<const std::wstring*> standIns(matches.size());
    {
        std::lock_guard guard(m_lock);
        for (std::size_t i = 0; i < matches.size(); ++i) {
            const auto known = m_standIns.find(keys[i]);
            standIns[i] = known != m_standIns.end() ? &known->second : nullptr;
        }
    }
    bool complete = true;
    for (std::size_t i = 0; i < matches.size(); ++i) {
        if (standIns[i])
            continue;
        complete = false;
        if (novel.keys.insert(keys[i]).second)
            novel.originals.push_back({matches[i].kind, originalOf(matches[i], text)});
    }
    return complete ? Replaced(text, matches, standIns) : std::wstring();
}

void CPrivacyMask::Register(const std::vector<COriginal>& originals)
{
    std::vector<std::wstring> keys;
    keys.reserve(originals.size());
    for (const COriginal& original : originals)
        keys.push_back(KeyFor(original.kind, Lower(original.text)));
    std::lock_guard guard(m_lock);
    for (std::size_t i = 0; i < originals.size(); ++i)
        standIn(originals[i].kind, std::move(keys[i]), originals[i].text);
}

std::wstring CPrivacyMask::SecretStandIn(const std::wstring& original)
{
    std::wstring key = KeyFor(Secret, Lower(original));
    std::lock_guard guard(m_lock);
    return standIn(Secret, std::move(key), original);
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

std::wstring LastComponent(std::wstring path)
{
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(slash + 1);
}

// The 8.3 form of a path ("C:\Users\JOHNSM~1"), which older programs write;
// empty when the volume keeps none.
std::wstring ShortPath(const std::wstring& path)
{
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD length = ::GetShortPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

// The SID of the account the process runs as, as text.
std::wstring UserSid()
{
    return Bas::SidText(Bas::CurrentUserSid());
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

namespace {

bool IsSecretValue(const std::wstring& value)
{
    // A switch of a variable named like a key ("1", "true", "off") or a
    // short number holds nothing to hide, and taken as a secret it would
    // hide every such word of every log.
    if (value.size() < 4 && std::all_of(value.begin(), value.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
        return false;
    for (const wchar_t* word : {L"true", L"false", L"yes", L"no", L"on", L"off", L"none", L"null"})
        if (::CompareStringOrdinal(value.c_str(), -1, word, -1, TRUE) == CSTR_EQUAL)
            return false;
    return true;
}

} // namespace

CPrivacyMask::CConfig PrivateNamesOfThisComputer(const std::vector<std::wstring>& words, const std::wstring& keptMail)
{
    CPrivacyMask::CConfig config;
    wchar_t user[256] = {};
    DWORD size = 256;
    if (::GetUserNameW(user, &size))
        AddOnce(config.users, user);
    // The profile folder's own name, which paths show, may differ; its
    // 8.3 form keeps six letters of it.
    const std::wstring profile = Environment(L"USERPROFILE");
    AddOnce(config.users, LastComponent(profile));
    if (!profile.empty())
        AddOnce(config.users, LastComponent(ShortPath(profile)));
    // Both views: 32-bit programs read their own copy of the key.
    for (const Bas::CRegistryKey::EView view : {Bas::CRegistryKey::View64, Bas::CRegistryKey::View32}) {
        Bas::CRegistryKey key;
        if (key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", Bas::CRegistryKey::Read,
                     view)) {
            AddOnce(config.users, key.ReadString(L"RegisteredOwner"));
            AddOnce(config.organizations, key.ReadString(L"RegisteredOrganization"));
        }
    }
    AddOnce(config.sids, UserSid());
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
                if (IsSecretValue(line.substr(equals + 1)))
                    AddOnce(config.secrets, line.substr(equals + 1));
                break;
            }
    }
    return config;
}

} // namespace Glean
