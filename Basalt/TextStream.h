// Text files: reading with byte-order-mark detection and every line
// terminator, writing in UTF-16 LE/BE, UTF-8 or a Windows code page.
#pragma once

#include "File.h"

#include <deque>
#include <string>
#include <vector>

namespace Bas {

constexpr unsigned kCodePageUtf16 = 1200;
constexpr unsigned kCodePageUtf16BigEndian = 1201;
constexpr unsigned kCodePageUtf8 = 65001;

class CTextFile {
public:
    enum EMode { ModeRead = 1, ModeWrite = 2 };

    // Mode 1 opens an existing file for reading (a byte-order mark overrides
    // the code page); mode 2 creates the file and writes the mark of 1200,
    // 1201 or 65001.
    void Open(const std::wstring& path, int mode, unsigned codePage);
    void Close();
    unsigned CodePage() const noexcept { return m_codePage; }

    // The next line without its terminator (LF, CR, CR LF, VT, FF, U+2028,
    // U+2029); false at the end of the file.
    bool ReadTextLine(std::wstring& line);
    std::wstring ReadAll();
    // The rest of the file when it holds at most maxBytes more bytes; false,
    // having read no more than maxBytes + 1 of them, when it holds more.
    bool ReadAll(std::uint64_t maxBytes, std::wstring& text);
    // The bytes taken from the file since it was opened, its mark included.
    std::uint64_t BytesRead() const noexcept { return m_bytesRead; }

    void Write(const std::wstring& text);
    void WriteLine(const std::wstring& text);

private:
    bool ReadUnit(wchar_t& unit);
    bool ReadByte(unsigned char& byte);
    bool ReadRawLine(std::wstring& line);
    std::wstring Decode(const std::string& bytes) const;

    CFile m_file;
    int m_mode = 0;
    unsigned m_codePage = 0;
    unsigned char m_buffer[1024];
    std::size_t m_bufferPos = 0;
    std::size_t m_bufferLength = 0;
    std::uint64_t m_bytesRead = 0;
    bool m_hasPushedUnit = false;
    wchar_t m_pushedUnit = 0;
    std::deque<std::wstring> m_pendingLines;
};

// What every log's text passes through on its way to its file (the masking
// of personal data, when a run asks for it); none is set by default.
class ILogFilter {
public:
    // What the text is, where the filter treats it differently: plain log
    // text, or the main log, whose module-version column ("name\t[1.2.3.4]")
    // holds versions that look like addresses.
    enum EForm { Plain, MainLog };
    virtual ~ILogFilter() = default;
    virtual std::wstring Filter(const std::wstring& text, EForm form) = 0;
    std::wstring Filter(const std::wstring& text) { return Filter(text, Plain); }
    // The stand-in for data that is secret as a whole, whatever it holds
    // (the data of a registry value named like a password).
    virtual std::wstring SecretStandIn(const std::wstring& original) = 0;
    // The last position at or before `at` where the text may be cut
    // without cutting in two anything the filter would replace (a cut name
    // would no longer be found).
    virtual std::size_t SafeCut(const std::wstring&, std::size_t at) const { return at; }
};
// Sets the process's filter (null: none).
void SetLogFilter(ILogFilter* filter) noexcept;
// The process's filter; null when none is set.
ILogFilter* LogFilter() noexcept;

// Every log's writer: UTF-16 LE with FF FE, its text through the log filter.
class CLogWriter {
public:
    enum EText {
        Filtered,      // through the filter as plain text
        MainLogText,   // through the filter as the main log
        FilteredByMaker // the writer of the log has filtered it already
    };
    explicit CLogWriter(const std::wstring& path, EText text = Filtered);
    // A line and CR LF after it.
    void WriteLine(const std::wstring& line);
    // Text with line breaks of its own.
    void WriteText(const std::wstring& text);
    void Close() { m_file.Close(); }

private:
    std::wstring filter(const std::wstring& text) const;

    CTextFile m_file;
    EText m_text;
};

// The lines as a log: CR LF after each.
void WriteLines(const std::wstring& path, const std::vector<std::wstring>& lines,
                CLogWriter::EText text = CLogWriter::Filtered);

} // namespace Bas
