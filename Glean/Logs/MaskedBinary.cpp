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

// The length of the ANSI run at `at`, without its last byte when that byte
// begins a UTF-16 run.
std::size_t AnsiRunAt(const std::vector<BYTE>& data, std::size_t at)
{
    std::size_t end = at;
    while (end < data.size() && IsTextByte(data[end]))
        ++end;
    if (end > at && Utf16RunAt(data, end - 1) > 0)
        --end;
    return end - at >= kShortestRun ? end - at : 0;
}

} // namespace

std::vector<BYTE> MaskBinary(const std::vector<BYTE>& data, Bas::ILogFilter& filter, unsigned codePage)
{
    std::vector<BYTE> result;
    result.reserve(data.size());
    for (std::size_t at = 0; at < data.size();) {
        if (const std::size_t units = Utf16RunAt(data, at)) {
            std::wstring text(units, L'\0');
            for (std::size_t i = 0; i < units; ++i)
                text[i] = static_cast<wchar_t>(data[at + 2 * i] | (data[at + 2 * i + 1] << 8));
            const std::wstring masked = filter.Filter(text);
            if (masked == text) {
                result.insert(result.end(), data.begin() + at, data.begin() + at + 2 * units);
            } else {
                for (wchar_t unit : masked) {
                    result.push_back(static_cast<BYTE>(unit & 0xFF));
                    result.push_back(static_cast<BYTE>(unit >> 8));
                }
            }
            at += 2 * units;
        } else if (const std::size_t length = AnsiRunAt(data, at)) {
            const std::string bytes(data.begin() + at, data.begin() + at + length);
            const std::wstring text = Bas::Widen(bytes, codePage);
            const std::wstring masked = filter.Filter(text);
            const std::string written = masked == text ? bytes : Bas::Narrow(masked, codePage);
            result.insert(result.end(), written.begin(), written.end());
            at += length;
        } else {
            result.push_back(data[at++]);
        }
    }
    return result;
}

} // namespace Glean
