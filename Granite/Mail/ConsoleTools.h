// The console writer: every printed text goes to standard output, with each
// "\n" not preceded by "\r" turned into "\r\n". A console gets UTF-16
// through WriteConsoleW; a new (empty) file gets FF FE and UTF-16; a file
// that already holds data, a pipe, and a console that refuses UTF-16 get
// the console's output code page. Bytes go out in pieces of at most 4096.
#pragma once

#include <string>

namespace Granite {

// The text put into the format at its "%s".
std::wstring FormatConsoleText(const wchar_t* format, const std::wstring& text);
// "\n" not preceded by "\r" becomes "\r\n".
std::wstring ToCrLf(const std::wstring& text);

// Prints the text put into the format, under the process-wide console lock.
// A write that fails raises the system's error (a pipe whose reader has
// gone: ERROR_NO_DATA).
void ConsolePrint(const wchar_t* format, const std::wstring& text);

// Whether standard output reaches nobody: a console without a window (a
// program started with CREATE_NO_WINDOW) or no standard output at all.
bool OutputIsUnseen();

} // namespace Granite
