#include "MaskedText.h"

#include "Errors.h"
#include "MaskedBinary.h"
#include "TextTools.h"

#include <algorithm>
#include <cstring>

namespace Glean {

namespace {

constexpr std::size_t kProbe = 0x10000;
// The file is read a block at a time; a line longer than that is cut where
// nothing the mask finds can straddle the cut.
constexpr std::size_t kBlock = 0x100000;
// A line cut where no character allows it is cut this far before the end of
// what has been read, so that an original going on past the cut is seen
// whole.
constexpr std::size_t kTail = 0x10000;

// Characters after which a long line may be cut: blanks and punctuation
// that no address, mail address, SID or name pattern holds. All lie below
// 0x40, so in a multi-byte code page they are never the second byte of a
// character, and in UTF-8 never inside one.
bool IsCutCharacter(unsigned c)
{
    return c < 0x40 && std::strchr(" \t\r!\"#$&'()*,/;<=>?", static_cast<int>(c)) != nullptr && c != 0;
}

bool IsValidUtf8(std::string_view bytes)
{
    return bytes.empty() || ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                                  static_cast<int>(bytes.size()), nullptr, 0) > 0;
}

// The bytes of a UTF-8 text up to its last whole character.
std::size_t WholeUtf8(std::string_view bytes)
{
    std::size_t lead = bytes.size();
    while (lead > 0 && bytes.size() - lead < 4 && (static_cast<unsigned char>(bytes[lead - 1]) & 0xC0) == 0x80)
        --lead;
    if (lead == 0)
        return bytes.size();
    const auto c = static_cast<unsigned char>(bytes[lead - 1]);
    const std::size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return bytes.size() - (lead - 1) < need ? lead - 1 : bytes.size();
}

// The bytes of an ANSI text up to its last whole character: a lead byte of
// the code page at the very end waits for its second byte.
std::size_t WholeAnsi(std::string_view bytes)
{
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

bool IsAscii(std::string_view bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Bytes taken one for one as the characters U+0000 to U+00FF, and back:
// the one decoding that every byte sequence survives unchanged.
std::wstring FromBytes(std::string_view bytes)
{
    std::wstring text(bytes.size(), L'\0');
    std::transform(bytes.begin(), bytes.end(), text.begin(),
                   [](char c) { return static_cast<wchar_t>(static_cast<unsigned char>(c)); });
    return text;
}

std::string ToBytes(const std::wstring& text)
{
    std::string bytes(text.size(), '\0');
    std::transform(text.begin(), text.end(), bytes.begin(), [](wchar_t c) { return static_cast<char>(c); });
    return bytes;
}

wchar_t WideUnit(std::string_view bytes, std::size_t unit, bool bigEndian)
{
    const auto a = static_cast<unsigned char>(bytes[2 * unit]);
    const auto b = static_cast<unsigned char>(bytes[2 * unit + 1]);
    return static_cast<wchar_t>(bigEndian ? a << 8 | b : a | b << 8);
}

} // namespace

CMaskedReader::CMaskedReader(Bas::CFile& file, CPrivacyMask& mask, EMode mode, bool wideWithoutMark,
                             std::atomic<int>* detected)
    : m_file(file), m_mask(mask), m_mode(mode), m_wideWithoutMark(wideWithoutMark), m_detected(detected)
{
    const std::uint64_t length = file.GetLength();
    const std::uint64_t position = file.GetPosition();
    m_length = length > position ? length - position : 0;
}

CMaskedReader::EEncoding CMaskedReader::Detect(std::string_view probe, bool wideWithoutMark)
{
    probe = probe.substr(0, kProbe);
    const auto starts = [&](std::string_view mark) { return probe.substr(0, mark.size()) == mark; };
    if (starts("\xFF\xFE"))
        return Utf16;
    if (starts("\xFE\xFF"))
        return Utf16BigEndian;
    if (starts("\xEF\xBB\xBF"))
        return Utf8;
    std::size_t zerosEven = 0;
    std::size_t zerosOdd = 0;
    std::size_t zeroUnits = 0;
    for (std::size_t i = 0; i < probe.size(); ++i) {
        if (probe[i] != '\0')
            continue;
        ++(i % 2 == 0 ? zerosEven : zerosOdd);
        if (i % 2 == 1 && probe[i - 1] == '\0')
            ++zeroUnits;
    }
    if (zerosEven + zerosOdd == 0) {
        // UTF-8 when the probe reads as such, a sequence cut at its end
        // allowed; the ANSI code page otherwise.
        return IsValidUtf8(probe.substr(0, WholeUtf8(probe))) ? Utf8 : Ansi;
    }
    // UTF-16 without a mark: no zero unit, and the zero bytes on the side
    // of the high bytes, as text of a Latin script has them. Where the
    // program reads such files as text, any zero bytes will do.
    if (zeroUnits == 0) {
        if (zerosOdd > 4 * zerosEven || (wideWithoutMark && zerosOdd >= zerosEven))
            return Utf16;
        if (zerosEven > 4 * zerosOdd || wideWithoutMark)
            return Utf16BigEndian;
    }
    return Binary;
}

std::wstring CMaskedReader::filter(const std::wstring& text)
{
    if (m_mode == Registering)
        return m_mask.Filter(text, Bas::ILogFilter::Plain);
    return m_mask.FilterKnown(text, Bas::ILogFilter::Plain, m_novel);
}

std::size_t CMaskedReader::Read(void* buffer, std::size_t size)
{
    auto* out = static_cast<char*>(buffer);
    std::size_t given = 0;
    while (given < size) {
        if (m_given == m_out.size()) {
            m_out.clear();
            m_given = 0;
            if (!fill())
                break;
            continue;
        }
        const std::size_t count = std::min(size - given, m_out.size() - m_given);
        std::memcpy(out + given, m_out.data() + m_given, count);
        m_given += count;
        given += count;
    }
    return given;
}

bool CMaskedReader::fill()
{
    if (m_ended)
        return false;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, m_length - m_taken));
    const std::size_t before = m_pending.size();
    m_pending.resize(before + want);
    std::size_t got = 0;
    try {
        got = want > 0 ? m_file.Read(m_pending.data() + before, want) : 0;
    } catch (Bas::CException*) {
        // What could not be read ends the data; nothing after it is made.
        m_pending.resize(before);
        m_ended = m_failed = true;
        throw;
    }
    m_pending.resize(before + got);
    m_taken += got;
    const bool end = got < want || m_taken >= m_length;
    if (!m_started) {
        m_started = true;
        m_encoding = Detect(m_pending, m_wideWithoutMark);
        if (m_detected != nullptr)
            *m_detected = m_encoding;
    }
    if (m_encoding == Binary) {
        m_out.append(m_pending);
        m_pending.clear();
    } else {
        maskWhole(end);
    }
    m_ended = end;
    return true;
}

void CMaskedReader::maskWhole(bool end)
{
    const bool wide = m_encoding == Utf16 || m_encoding == Utf16BigEndian;
    if (end) {
        maskPiece(0, m_pending.size());
        m_pending.clear();
        return;
    }
    // Whole lines now; the line that goes on waits for the rest.
    std::size_t whole = 0;
    if (wide) {
        const bool big = m_encoding == Utf16BigEndian;
        for (std::size_t unit = m_pending.size() / 2; unit > 0; --unit)
            if (WideUnit(m_pending, unit - 1, big) == L'\n') {
                whole = unit * 2;
                break;
            }
    } else {
        const std::size_t newline = m_pending.rfind('\n');
        whole = newline == std::string::npos ? 0 : newline + 1;
    }
    if (whole > 0) {
        maskPiece(0, whole);
        m_pending.erase(0, whole);
    }
    while (m_pending.size() >= kBlock) {
        const std::size_t cut = cutPoint();
        maskPiece(0, cut);
        m_pending.erase(0, cut);
    }
}

std::size_t CMaskedReader::cutPoint() const
{
    const std::string_view pending = m_pending;
    if (m_encoding == Utf16 || m_encoding == Utf16BigEndian) {
        const bool big = m_encoding == Utf16BigEndian;
        for (std::size_t unit = pending.size() / 2; unit > 1; --unit) {
            const wchar_t c = WideUnit(pending, unit - 1, big);
            if (IsCutCharacter(c) && m_mask.CanCutAfter(c))
                return unit * 2;
        }
        return safeCut();
    }
    for (std::size_t at = pending.size(); at > 1; --at) {
        const auto c = static_cast<unsigned char>(pending[at - 1]);
        if (IsCutCharacter(c) && m_mask.CanCutAfter(c))
            return at;
    }
    return safeCut();
}

std::size_t CMaskedReader::safeCut() const
{
    // No such character in a whole block: one token longer than that, or a
    // line whose blanks are all part of a listed word or the owner's name.
    // It is read as the mask reads it, and cut where no original lies
    // across, some way before the end.
    const std::string_view pending = m_pending;
    if (m_encoding == Utf16 || m_encoding == Utf16BigEndian) {
        std::wstring text(pending.size() / 2, L'\0');
        for (std::size_t i = 0; i < text.size(); ++i)
            text[i] = WideUnit(pending, i, m_encoding == Utf16BigEndian);
        // Text of a code page among the units is read byte for byte as
        // well; the cut moves back until neither reading lies across it.
        const std::wstring bytes = FromBytes(pending);
        std::size_t cut = text.size() - kTail / 2;
        for (std::size_t last = 0; cut > 0 && cut != last;) {
            last = cut;
            cut = m_mask.SafeCut(bytes, 2 * m_mask.SafeCut(text, cut)) / 2;
        }
        return 2 * (cut > 0 ? cut : text.size() - kTail / 2);
    }
    const auto whole = [&](std::string_view bytes) { return m_encoding == Utf8 ? WholeUtf8(bytes) : WholeAnsi(bytes); };
    const std::string_view bytes = pending.substr(0, whole(pending));
    const std::size_t at = whole(bytes.substr(0, bytes.size() - kTail));
    if (at == 0)
        return bytes.empty() ? pending.size() : bytes.size();
    unsigned codePage = 0;
    if (!IsAscii(bytes)) {
        if (m_encoding == Utf8 && IsValidUtf8(bytes))
            codePage = CP_UTF8;
        else if (Bas::Narrow(Bas::Widen(bytes, CP_ACP), CP_ACP) == bytes)
            codePage = CP_ACP;
    }
    if (codePage == 0) {
        const std::size_t cut = m_mask.SafeCut(FromBytes(bytes), at);
        return cut > 0 ? cut : at;
    }
    const std::wstring text = Bas::Widen(bytes, codePage);
    const std::size_t cut = m_mask.SafeCut(text, Bas::Widen(bytes.substr(0, at), codePage).size());
    return cut > 0 ? Bas::Narrow(std::wstring_view(text).substr(0, cut), codePage).size() : at;
}

void CMaskedReader::maskPiece(std::size_t from, std::size_t to)
{
    const std::string_view bytes = std::string_view(m_pending).substr(from, to - from);
    if (m_encoding == Utf16 || m_encoding == Utf16BigEndian) {
        // An odd last byte is no character; it goes in as it is.
        maskWide(bytes.substr(0, bytes.size() & ~std::size_t(1)));
        if (bytes.size() % 2 != 0)
            m_out += bytes.back();
        return;
    }
    maskLines8(bytes);
}

void CMaskedReader::maskWide(std::string_view bytes)
{
    // Lines of UTF-16 text go through the mask together. A line with units
    // that text of a code page gives when read as UTF-16 (what a program
    // appended in its own code page, or UTF-16 shifted by an odd byte
    // after it) is read that way too, on its own.
    const bool big = m_encoding == Utf16BigEndian;
    const std::size_t units = bytes.size() / 2;
    std::size_t batch = 0;
    for (std::size_t unit = 0; unit < units;) {
        std::size_t end = unit;
        bool foreign = false;
        while (end < units) {
            const wchar_t c = WideUnit(bytes, end++, big);
            if (c == L'\n')
                break;
            foreign = foreign || (c >= 0x2020 && c != 0xFEFF);
        }
        if (foreign) {
            maskWideText(bytes.substr(2 * batch, 2 * (unit - batch)), false);
            maskWideText(bytes.substr(2 * unit, 2 * (end - unit)), true);
            batch = end;
        }
        unit = end;
    }
    maskWideText(bytes.substr(2 * batch), false);
}

void CMaskedReader::maskWideText(std::string_view bytes, bool foreign)
{
    if (bytes.empty())
        return;
    const bool big = m_encoding == Utf16BigEndian;
    std::wstring text(bytes.size() / 2, L'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = WideUnit(bytes, i, big);
    const std::wstring masked = filter(text);
    std::string out;
    if (masked == text) {
        out = bytes;
    } else {
        for (const wchar_t unit : masked) {
            const auto low = static_cast<char>(unit & 0xFF);
            const auto high = static_cast<char>(unit >> 8);
            out += big ? high : low;
            out += big ? low : high;
        }
    }
    if (foreign) {
        const std::vector<BYTE> data = MaskBinary(std::vector<BYTE>(out.begin(), out.end()),
                                                  [this](const std::wstring& piece) { return filter(piece); });
        out.assign(data.begin(), data.end());
    }
    m_out += out;
}

bool CMaskedReader::maskUnicode8(std::string_view bytes)
{
    // Plain ASCII, the common case, and UTF-8 when it is valid.
    const bool ascii = IsAscii(bytes);
    if (!ascii && !(m_encoding == Utf8 && IsValidUtf8(bytes)))
        return false;
    const std::wstring text = ascii ? FromBytes(bytes) : Bas::Widen(bytes, CP_UTF8);
    const std::wstring masked = filter(text);
    if (masked == text)
        m_out.append(bytes);
    else
        m_out += Bas::Narrow(masked, CP_UTF8);
    return true;
}

void CMaskedReader::maskLines8(std::string_view bytes)
{
    if (bytes.empty() || (bytes.find('\0') == std::string_view::npos && maskUnicode8(bytes)))
        return;
    // A line that is not valid in the file's encoding is taken in the ANSI
    // code page, line by line, so that such a line leaves the others as
    // they are. A line with zero bytes holds UTF-16 text (what a program
    // appended in UTF-16): its runs of text are masked in the encoding
    // each has.
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t newline = bytes.find('\n', start);
        const std::size_t end = newline == std::string_view::npos ? bytes.size() : newline + 1;
        const std::string_view line = bytes.substr(start, end - start);
        if (line.find('\0') != std::string_view::npos) {
            const std::vector<BYTE> masked =
                MaskBinary(std::vector<BYTE>(line.begin(), line.end()),
                           [this](const std::wstring& piece) { return filter(piece); },
                           m_encoding == Utf8 ? CP_UTF8 : CP_ACP);
            m_out.append(masked.begin(), masked.end());
        } else if (!maskUnicode8(line)) {
            maskAnsi(line);
        }
        start = end;
    }
}

void CMaskedReader::maskAnsi(std::string_view line)
{
    // The code page when its bytes come back from it unchanged; otherwise
    // the bytes one for one, which still finds every ASCII original.
    std::wstring text = Bas::Widen(line, CP_ACP);
    const bool codePage = Bas::Narrow(text, CP_ACP) == line;
    if (!codePage)
        text = FromBytes(line);
    const std::wstring masked = filter(text);
    if (masked != text) {
        m_out += codePage ? Bas::Narrow(masked, CP_ACP) : ToBytes(masked);
        return;
    }
    // A line of UTF-8 in a file of the code page (another program wrote
    // it so) is read that way too.
    if (IsValidUtf8(line)) {
        const std::wstring wide = Bas::Widen(line, CP_UTF8);
        if (const std::wstring other = filter(wide); other != wide) {
            m_out += Bas::Narrow(other, CP_UTF8);
            return;
        }
    }
    m_out.append(line);
}

} // namespace Glean
