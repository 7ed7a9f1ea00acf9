#include "MaskedBinary.h"

#include "TextTools.h"

#include <string>

namespace Glean {

namespace {

constexpr std::size_t kShortestRun = 4;

// Every unit of this set has a byte below 0x20, which no ANSI run holds, so
// a UTF-16 run and an ANSI run share at most one byte. Units whose both
// bytes are printable ANSI (0x2020 and up) are left out: they are what ANSI
// text looks like read as UTF-16.
bool IsTextUnit(unsigned unit)
{
    return (unit >= 0x20 && unit < 0x7F) || (unit >= 0xA0 && unit <= 0x201F);
}

bool IsTextByte(BYTE byte)
{
    return byte >= 0x20 && byte != 0x7F;
}

// The number of text units of the UTF-16 run at `at` (0 when none starts
// there or it is too short to count).
std::size_t Utf16RunAt(const std::vector<BYTE>& data, std::size_t at)
{
    std::size_t units = 0;
    for (std::size_t i = at; i + 1 < data.size() && IsTextUnit(data[i] | (data[i + 1] << 8)); i += 2)
        ++units;
    return units >= kShortestRun ? units : 0;
}

std::size_t AnsiRunEnd(const std::vector<BYTE>& data, std::size_t at)
{
    std::size_t end = at;
    while (end < data.size() && IsTextByte(data[end]))
        ++end;
    return end;
}

std::wstring Utf16Text(const std::vector<BYTE>& data, std::size_t at, std::size_t units)
{
    std::wstring text(units, L'\0');
    for (std::size_t i = 0; i < units; ++i)
        text[i] = static_cast<wchar_t>(data[at + 2 * i] | (data[at + 2 * i + 1] << 8));
    return text;
}

void AppendUtf16(std::vector<BYTE>& result, const std::wstring& text)
{
    for (wchar_t unit : text) {
        result.push_back(static_cast<BYTE>(unit & 0xFF));
        result.push_back(static_cast<BYTE>(unit >> 8));
    }
}

// A SID in its binary form at `at`: revision 1, one to fifteen
// sub-authorities, an authority that fits in 16 bits (every one Windows
// gives does); its text, empty when there is none.
std::wstring SidAt(const std::vector<BYTE>& data, std::size_t at, std::size_t& length)
{
    if (at + 8 > data.size() || data[at] != 1 || data[at + 1] == 0 || data[at + 1] > 15)
        return {};
    length = 8 + 4 * std::size_t{data[at + 1]};
    if (at + length > data.size() || data[at + 2] != 0 || data[at + 3] != 0 || data[at + 4] != 0 || data[at + 5] != 0)
        return {};
    std::wstring text = L"S-1-" + std::to_wstring(data[at + 6] << 8 | data[at + 7]);
    for (std::size_t i = at + 8; i < at + length; i += 4)
        text += L"-" + std::to_wstring(data[i] | data[i + 1] << 8 | data[i + 2] << 16 |
                                       static_cast<std::uint32_t>(data[i + 3]) << 24);
    return text;
}

} // namespace

std::vector<BYTE> StandInSid(const std::wstring& masked)
{
    std::vector<std::uint32_t> parts = {21, 0, 0};
    bool valid = masked.compare(0, 3, L"sid") == 0;
    std::size_t at = 3;
    while (valid && at <= masked.size()) {
        std::uint64_t number = 0;
        const std::size_t start = at;
        for (; at < masked.size() && masked[at] >= L'0' && masked[at] <= L'9' && number <= 0xFFFFFFFFu; ++at)
            number = number * 10 + (masked[at] - L'0');
        valid = at > start && number <= 0xFFFFFFFFu && (at == masked.size() || masked[at] == L'-');
        parts.push_back(static_cast<std::uint32_t>(number));
        ++at;
    }
    BYTE authority = 5;
    if (!valid || parts.size() < 5 || parts.size() > SID_MAX_SUB_AUTHORITIES) {
        authority = 0;
        parts = {0};
    }
    std::vector<BYTE> sid = {SID_REVISION, static_cast<BYTE>(parts.size()), 0, 0, 0, 0, 0, authority};
    for (std::uint32_t part : parts) {
        for (int i = 0; i < 4; ++i)
            sid.push_back(static_cast<BYTE>(part >> (8 * i)));
    }
    return sid;
}

std::vector<BYTE> MaskBinary(const std::vector<BYTE>& data, Bas::ILogFilter& filter, unsigned codePage)
{
    return MaskBinary(data, [&](const std::wstring& text) { return filter.Filter(text); }, codePage);
}

std::vector<BYTE> MaskBinary(const std::vector<BYTE>& data, const CTextFilter& filter, unsigned codePage)
{
    std::vector<BYTE> result;
    result.reserve(data.size());
    const auto ansi = [&](std::size_t at, std::size_t length) {
        const std::string bytes(data.begin() + at, data.begin() + at + length);
        const std::wstring text = Bas::Widen(bytes, codePage);
        return std::pair{text, filter(text)};
    };
    for (std::size_t at = 0; at < data.size();) {
        std::size_t sidLength = 0;
        if (const std::wstring sid = SidAt(data, at, sidLength); !sid.empty()) {
            if (const std::wstring masked = filter(sid); masked != sid) {
                // The stand-in with as many sub-authorities as the original.
                std::vector<BYTE> standIn = StandInSid(masked);
                standIn[1] = data[at + 1];
                standIn.resize(sidLength);
                result.insert(result.end(), standIn.begin(), standIn.end());
                at += sidLength;
                continue;
            }
        }
        if (const std::size_t units = Utf16RunAt(data, at)) {
            const std::wstring text = Utf16Text(data, at, units);
            const std::wstring masked = filter(text);
            if (masked == text)
                result.insert(result.end(), data.begin() + at, data.begin() + at + 2 * units);
            else
                AppendUtf16(result, masked);
            at += 2 * units;
            continue;
        }
        std::size_t end = AnsiRunEnd(data, at);
        if (end - at < kShortestRun) {
            result.push_back(data[at++]);
            continue;
        }
        auto [text, masked] = ansi(at, end - at);
        // The last byte may also begin a UTF-16 run: it goes to that run,
        // unless only the ANSI text finds an original that holds it (an
        // ANSI string ended by its zero, UTF-16 text right after it).
        if (const std::size_t units = Utf16RunAt(data, end - 1)) {
            auto shorter = ansi(at, end - 1 - at);
            const std::wstring wide = Utf16Text(data, end - 1, units);
            std::wstring joined = shorter.second;
            if (shorter.first.size() < text.size())
                joined.append(text, shorter.first.size());
            const bool ansiHolds = masked != joined;
            const std::wstring wideMasked = filter(wide);
            std::wstring split(1, wide[0]);
            split += filter(wide.substr(1));
            const bool wideHolds = wideMasked != split;
            if (!ansiHolds || wideHolds) {
                --end;
                text = std::move(shorter.first);
                masked = std::move(shorter.second);
            }
        }
        if (end - at >= kShortestRun) {
            const std::string written =
                masked == text ? std::string(data.begin() + at, data.begin() + end) : Bas::Narrow(masked, codePage);
            result.insert(result.end(), written.begin(), written.end());
            at = end;
        } else {
            result.push_back(data[at++]);
        }
    }
    return result;
}

} // namespace Glean
