#include "TextStream.h"

#include "Errors.h"

#include <atomic>

namespace Bas {

namespace {

bool IsTerminator(wchar_t c)
{
    return c == L'\n' || c == L'\r' || c == L'\v' || c == L'\f' || c == 0x2028 || c == 0x2029;
}

bool IsUtf16(unsigned codePage)
{
    return codePage == kCodePageUtf16 || codePage == kCodePageUtf16BigEndian;
}

} // namespace

void CTextFile::Open(const std::wstring& path, int mode, unsigned codePage)
{
    BAS_ASSERT(m_mode == 0 && (mode == ModeRead || mode == ModeWrite));
    if (mode == ModeRead) {
        m_file.Open(path, CFile::OpenRead | CFile::ShareRead);
        m_mode = mode;
        m_codePage = codePage;
        unsigned char mark[3] = {};
        const std::size_t read = m_file.Read(mark, 3);
        std::uint64_t skip = 0;
        if (read >= 2 && mark[0] == 0xFF && mark[1] == 0xFE) {
            m_codePage = kCodePageUtf16;
            skip = 2;
        } else if (read >= 2 && mark[0] == 0xFE && mark[1] == 0xFF) {
            m_codePage = kCodePageUtf16BigEndian;
            skip = 2;
        } else if (read == 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF) {
            m_codePage = kCodePageUtf8;
            skip = 3;
        }
        m_file.Seek(skip);
        m_bytesRead = skip;
        return;
    }
    m_file.Open(path, CFile::OpenWrite | CFile::OpenCreate);
    m_mode = mode;
    m_codePage = codePage;
    if (codePage == kCodePageUtf16)
        m_file.Write("\xFF\xFE", 2);
    else if (codePage == kCodePageUtf16BigEndian)
        m_file.Write("\xFE\xFF", 2);
    else if (codePage == kCodePageUtf8)
        m_file.Write("\xEF\xBB\xBF", 3);
}

void CTextFile::Close()
{
    m_file.Close();
    m_mode = 0;
    m_bufferPos = m_bufferLength = 0;
    m_bytesRead = 0;
    m_hasPushedUnit = false;
    m_pendingLines.clear();
}

bool CTextFile::ReadByte(unsigned char& byte)
{
    if (m_bufferPos == m_bufferLength) {
        m_bufferLength = m_file.Read(m_buffer, sizeof m_buffer);
        m_bufferPos = 0;
        if (m_bufferLength == 0)
            return false;
    }
    byte = m_buffer[m_bufferPos++];
    ++m_bytesRead;
    return true;
}

bool CTextFile::ReadUnit(wchar_t& unit)
{
    if (m_hasPushedUnit) {
        m_hasPushedUnit = false;
        unit = m_pushedUnit;
        return true;
    }
    if (IsUtf16(m_codePage)) {
        unsigned char first = 0;
        unsigned char second = 0;
        if (!ReadByte(first) || !ReadByte(second))
            return false;
        unit = m_codePage == kCodePageUtf16 ? static_cast<wchar_t>(first | (second << 8))
                                            : static_cast<wchar_t>((first << 8) | second);
        return true;
    }
    unsigned char byte = 0;
    if (!ReadByte(byte))
        return false;
    unit = static_cast<wchar_t>(byte);
    return true;
}

std::wstring CTextFile::Decode(const std::string& bytes) const
{
    if (bytes.empty())
        return {};
    const int size = static_cast<int>(bytes.size());
    const int length = ::MultiByteToWideChar(m_codePage, 0, bytes.data(), size, nullptr, 0);
    BAS_PRESUME_LAST_ERROR(length > 0);
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    BAS_PRESUME_LAST_ERROR(::MultiByteToWideChar(m_codePage, 0, bytes.data(), size, text.data(), length) > 0);
    return text;
}

// One line up to a terminator unit of the file's own coding. For byte code
// pages the bytes are collected first and converted as a whole.
bool CTextFile::ReadRawLine(std::wstring& line)
{
    line.clear();
    std::string bytes;
    const bool utf16 = IsUtf16(m_codePage);
    wchar_t unit = 0;
    bool any = false;
    while (ReadUnit(unit)) {
        any = true;
        if (IsTerminator(unit)) {
            wchar_t next = 0;
            if (unit == L'\r' && ReadUnit(next) && next != L'\n') {
                m_hasPushedUnit = true;
                m_pushedUnit = next;
            }
            break;
        }
        if (utf16)
            line += unit;
        else
            bytes += static_cast<char>(unit);
    }
    if (!utf16)
        line = Decode(bytes);
    return any;
}

bool CTextFile::ReadTextLine(std::wstring& line)
{
    BAS_ASSERT(m_mode == ModeRead);
    if (m_pendingLines.empty()) {
        std::wstring raw;
        if (!ReadRawLine(raw))
            return false;
        // A multi-byte code page can carry U+2028 and U+2029 only inside the
        // converted text.
        std::size_t start = 0;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == 0x2028 || raw[i] == 0x2029) {
                m_pendingLines.push_back(raw.substr(start, i - start));
                start = i + 1;
            }
        }
        m_pendingLines.push_back(raw.substr(start));
    }
    line = std::move(m_pendingLines.front());
    m_pendingLines.pop_front();
    return true;
}

std::wstring CTextFile::ReadAll()
{
    std::wstring text;
    ReadAll(UINT64_MAX, text);
    return text;
}

bool CTextFile::ReadAll(std::uint64_t maxBytes, std::wstring& text)
{
    BAS_ASSERT(m_mode == ModeRead);
    text.clear();
    std::string bytes;
    wchar_t unit = 0;
    const std::uint64_t start = m_bytesRead;
    while (ReadUnit(unit)) {
        if (m_bytesRead - start > maxBytes)
            return false;
        if (IsUtf16(m_codePage))
            text += unit;
        else
            bytes += static_cast<char>(unit);
    }
    if (!IsUtf16(m_codePage))
        text = Decode(bytes);
    return true;
}

void CTextFile::Write(const std::wstring& text)
{
    BAS_ASSERT(m_mode == ModeWrite);
    if (text.empty())
        return;
    if (m_codePage == kCodePageUtf16) {
        m_file.Write(text.data(), text.size() * sizeof(wchar_t));
        return;
    }
    if (m_codePage == kCodePageUtf16BigEndian) {
        std::string swapped;
        swapped.reserve(text.size() * 2);
        for (wchar_t unit : text) {
            swapped += static_cast<char>((unit >> 8) & 0xFF);
            swapped += static_cast<char>(unit & 0xFF);
        }
        m_file.Write(swapped.data(), swapped.size());
        return;
    }
    const int size = static_cast<int>(text.size());
    const int length = ::WideCharToMultiByte(m_codePage, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    BAS_PRESUME_LAST_ERROR(length > 0);
    std::string bytes(static_cast<std::size_t>(length), '\0');
    BAS_PRESUME_LAST_ERROR(
        ::WideCharToMultiByte(m_codePage, 0, text.data(), size, bytes.data(), length, nullptr, nullptr) > 0);
    m_file.Write(bytes.data(), bytes.size());
}

void CTextFile::WriteLine(const std::wstring& text)
{
    Write(text);
    if (m_codePage == kCodePageUtf16)
        m_file.Write("\r\0\n\0", 4);
    else if (m_codePage == kCodePageUtf16BigEndian)
        m_file.Write("\0\r\0\n", 4);
    else
        m_file.Write("\r\n", 2);
}

namespace {

std::atomic<ILogFilter*> g_logFilter{nullptr};

} // namespace

void SetLogFilter(ILogFilter* filter) noexcept
{
    g_logFilter = filter;
}

ILogFilter* LogFilter() noexcept
{
    return g_logFilter;
}

CLogWriter::CLogWriter(const std::wstring& path, EText text) : m_text(text)
{
    m_file.Open(path, CTextFile::ModeWrite, kCodePageUtf16);
}

std::wstring CLogWriter::filter(const std::wstring& text) const
{
    ILogFilter* filter = g_logFilter;
    if (filter == nullptr || m_text == FilteredByMaker)
        return text;
    return filter->Filter(text, m_text == MainLogText ? ILogFilter::MainLog : ILogFilter::Plain);
}

void CLogWriter::WriteLine(const std::wstring& line)
{
    m_file.WriteLine(filter(line));
}

void CLogWriter::WriteText(const std::wstring& text)
{
    m_file.Write(filter(text));
}

void WriteLines(const std::wstring& path, const std::vector<std::wstring>& lines, CLogWriter::EText text)
{
    CLogWriter file(path, text);
    for (const auto& line : lines)
        file.WriteLine(line);
    file.Close();
}

} // namespace Bas
