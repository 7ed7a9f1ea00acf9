#include "MaskedText.h"

#include "Errors.h"
#include "File.h"
#include "TextTools.h"

#include <string>

namespace Glean {

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

} // namespace Glean
