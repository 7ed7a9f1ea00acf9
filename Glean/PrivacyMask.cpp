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

constexpr std::size_t kProbe = 0x10000;
constexpr std::size_t kBlock = 0x100000;

enum class EEncoding { Utf16, Utf16BigEndian, Utf8, Ansi };

// Bytes to text and back in one encoding, a block at a time: a character
// split between two blocks waits for the rest.
class CCodec {
public:
    CCodec(EEncoding encoding) : m_encoding(encoding) {}

    std::wstring Decode(std::string& bytes, bool last)
    {
        std::size_t whole = bytes.size();
        if (m_encoding == EEncoding::Utf16 || m_encoding == EEncoding::Utf16BigEndian) {
            whole -= whole % 2;
            std::wstring text(whole / 2, L'\0');
            for (std::size_t i = 0; i < text.size(); ++i) {
                const auto a = static_cast<unsigned char>(bytes[2 * i]);
                const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
                text[i] = static_cast<wchar_t>(m_encoding == EEncoding::Utf16 ? a | b << 8 : a << 8 | b);
            }
            bytes.erase(0, whole);
            return text;
        }
        if (!last)
            whole = completeLength(bytes);
        std::wstring text = Bas::Widen(std::string_view(bytes).substr(0, whole), codePage());
        bytes.erase(0, whole);
        return text;
    }

    std::string Encode(const std::wstring& text) const
    {
        if (m_encoding == EEncoding::Utf16 || m_encoding == EEncoding::Utf16BigEndian) {
            std::string bytes(text.size() * 2, '\0');
            for (std::size_t i = 0; i < text.size(); ++i) {
                const auto low = static_cast<char>(text[i] & 0xFF);
                const auto high = static_cast<char>(text[i] >> 8);
                bytes[2 * i] = m_encoding == EEncoding::Utf16 ? low : high;
                bytes[2 * i + 1] = m_encoding == EEncoding::Utf16 ? high : low;
            }
            return bytes;
        }
        return Bas::Narrow(text, codePage());
    }

private:
    UINT codePage() const { return m_encoding == EEncoding::Utf8 ? CP_UTF8 : CP_ACP; }

    // The bytes up to the last character that is whole.
    std::size_t completeLength(const std::string& bytes) const
    {
        if (m_encoding == EEncoding::Utf8) {
            std::size_t end = bytes.size();
            // Back over continuation bytes to the lead byte of the last
            // sequence; keep it back when its sequence is short.
            std::size_t lead = end;
            while (lead > 0 && end - lead < 4 && (static_cast<unsigned char>(bytes[lead - 1]) & 0xC0) == 0x80)
                --lead;
            if (lead == 0)
                return end;
            const auto c = static_cast<unsigned char>(bytes[lead - 1]);
            const std::size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            return end - (lead - 1) < need ? lead - 1 : end;
        }
        // The ANSI code page: a lead byte at the very end waits.
        std::size_t at = 0;
        std::size_t whole = 0;
        while (at < bytes.size()) {
            const std::size_t width = ::IsDBCSLeadByte(static_cast<BYTE>(bytes[at])) ? 2 : 1;
            if (at + width > bytes.size())
                break;
            at += width;
            whole = at;
        }
        return whole;
    }

    EEncoding m_encoding;
};

} // namespace

bool MaskTextFile(CPrivacyMask& mask, const std::wstring& source, const std::wstring& target,
                  const std::function<void()>& step)
{
    Bas::CFile input(source, Bas::CFile::OpenRead | Bas::CFile::ShareRead);
    std::string bytes(kProbe, '\0');
    bytes.resize(input.Read(bytes.data(), bytes.size()));
    // The byte-order mark is copied as it is.
    std::size_t mark = 0;
    EEncoding encoding = EEncoding::Ansi;
    const auto starts = [&](const char* prefix, std::size_t size) { return bytes.compare(0, size, prefix, size) == 0; };
    if (starts("\xFF\xFE", 2)) {
        encoding = EEncoding::Utf16;
        mark = 2;
    } else if (starts("\xFE\xFF", 2)) {
        encoding = EEncoding::Utf16BigEndian;
        mark = 2;
    } else if (starts("\xEF\xBB\xBF", 3)) {
        encoding = EEncoding::Utf8;
        mark = 3;
    } else if (bytes.find('\0') != std::string::npos) {
        return false;
    } else {
        // UTF-8 when the probe reads as such, a sequence cut at its end
        // allowed; the ANSI code page otherwise.
        std::size_t check = bytes.size();
        while (check > 0 && bytes.size() - check < 3 && (static_cast<unsigned char>(bytes[check - 1]) & 0x80))
            --check;
        if (check == 0 || ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(check),
                                                nullptr, 0) > 0)
            encoding = EEncoding::Utf8;
    }

    CCodec codec(encoding);
    Bas::CFile output(target, Bas::CFile::OpenWrite | Bas::CFile::OpenCreate);
    output.Write(bytes.data(), mark);
    bytes.erase(0, mark);
    std::wstring pending;
    // Whole lines go through the mask, so that nothing it looks for is cut
    // in two; a line too long to wait for is cut after a blank.
    const auto flush = [&](bool all) {
        std::size_t cut = all ? pending.size() : pending.find_last_of(L"\r\n");
        if (cut == std::wstring::npos && pending.size() >= kBlock) {
            cut = pending.find_last_of(L" \t");
            if (cut == std::wstring::npos)
                cut = pending.size() - 1;
        }
        if (cut == std::wstring::npos)
            return;
        const std::size_t end = all ? pending.size() : cut + 1;
        const std::string encoded = codec.Encode(mask.Filter(pending.substr(0, end)));
        output.Write(encoded.data(), encoded.size());
        pending.erase(0, end);
    };
    for (;;) {
        const std::size_t before = bytes.size();
        bytes.resize(before + kBlock);
        const std::size_t read = input.Read(bytes.data() + before, kBlock);
        bytes.resize(before + read);
        const bool last = read == 0;
        pending += codec.Decode(bytes, last);
        flush(last);
        if (last)
            break;
        if (step)
            step();
    }
    output.Close();
    return true;
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
