#include "ConsoleTools.h"

#include "Errors.h"
#include "Lock.h"
#include "WinApi.h"
#include "TextTools.h"

#include <algorithm>
#include <mutex>
#include <string>

namespace Granite {

namespace {

constinit Bas::CLock g_consoleLock;

struct COutput {
    HANDLE handle = nullptr;
    bool unicode = false;  // UTF-16, else the console's output code page
    bool console = false;  // through WriteConsoleW
};

COutput g_output;

// A write that fails (standard output a pipe whose reader has gone, a full
// disk) raises the system's error, not an internal one: a report that
// meets it inside the library's reporting scope must reach the caller as an
// error, where a failed check would end the process as a double internal
// error.
void WriteBytes(HANDLE handle, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t done = 0; done < size;) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(4096, size - done));
        DWORD written = 0;
        if (!::WriteFile(handle, bytes + done, piece, &written, nullptr)) {
            const DWORD code = ::GetLastError();
            Bas::ThrowLastError(code != 0 ? code : ERROR_WRITE_FAULT);
        }
        if (written == 0)
            Bas::ThrowLastError(ERROR_WRITE_FAULT);
        done += written;
    }
}

// Classifies the handle when it is not the one used last time.
void Classify(HANDLE handle)
{
    if (handle == g_output.handle)
        return;
    g_output = {handle, false, false};
    switch (::GetFileType(handle) & ~FILE_TYPE_REMOTE) {
    case FILE_TYPE_DISK: {
        // A file opened for appending tells position 0 until it is written,
        // so the length tells whether it already holds data.
        LARGE_INTEGER zero = {};
        LARGE_INTEGER position = {};
        LARGE_INTEGER length = {};
        if (::SetFilePointerEx(handle, zero, &position, FILE_CURRENT) && position.QuadPart == 0 &&
            ::GetFileSizeEx(handle, &length) && length.QuadPart == 0) {
            WriteBytes(handle, "\xFF\xFE", 2);
            g_output.unicode = true;
        }
        break;
    }
    case FILE_TYPE_CHAR:
        g_output.unicode = g_output.console = true;
        break;
    default:
        break;
    }
}

} // namespace

std::wstring FormatConsoleText(const wchar_t* format, const std::wstring& text)
{
    std::wstring result = format;
    const auto at = result.find(L"%s");
    if (at != std::wstring::npos)
        result.replace(at, 2, text);
    return result;
}

std::wstring ToCrLf(const std::wstring& text)
{
    std::wstring result;
    result.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r'))
            result += L'\r';
        result += text[i];
    }
    return result;
}

void ConsolePrint(const wchar_t* format, const std::wstring& text)
{
    const std::wstring lines = ToCrLf(FormatConsoleText(format, text));
    std::lock_guard guard(g_consoleLock);
    const HANDLE handle = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        Bas::ThrowLastError(code != 0 ? code : ERROR_INVALID_HANDLE);
    }
    Classify(handle);
    if (g_output.console) {
        DWORD written = 0;
        if (::WriteConsoleW(handle, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr) &&
            written == lines.size())
            return;
        // A console that takes no UTF-16 (its output redirected to a
        // device): code-page output from now on.
        g_output.console = g_output.unicode = false;
    }
    if (g_output.unicode) {
        WriteBytes(handle, lines.data(), lines.size() * sizeof(wchar_t));
        return;
    }
    const UINT codePage = ::GetConsoleOutputCP();
    const std::string bytes = Bas::Narrow(lines, codePage);
    WriteBytes(handle, bytes.data(), bytes.size());
}

bool OutputIsUnseen()
{
    const HANDLE handle = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return true;
    return (::GetFileType(handle) & ~FILE_TYPE_REMOTE) == FILE_TYPE_CHAR && ::GetConsoleWindow() == nullptr;
}

} // namespace Granite
