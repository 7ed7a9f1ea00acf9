#include "MessageHandlers.h"

#include "Errors.h"

#include "Lock.h"
#include "NativeFileSystem.h"
#include "RegistryKey.h"
#include "TextTools.h"
#include "VersionInfo.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>

namespace Bas {

namespace {

thread_local CMessageHandler* t_threadHandler = nullptr;
std::atomic<CMessageHandler*> g_applicationHandler{nullptr};
std::atomic<bool> g_suppressBoxes{false};
std::recursive_mutex g_reportLock;

bool IsPlainButtonSet(UINT style)
{
    const UINT buttons = style & MB_TYPEMASK;
    return buttons == MB_OK || buttons == MB_OKCANCEL || buttons == MB_YESNOCANCEL || buttons == MB_YESNO;
}

} // namespace

int CMessageHandler::ShowMessageWithIcon(HWND owner, HINSTANCE, const std::wstring& text,
                                         const std::wstring& caption, UINT style, const wchar_t*)
{
    return ShowMessage(owner, text, caption, style);
}

void CMessageHandler::ReportException(const CException& exception)
{
    if (dynamic_cast<const CUserException*>(&exception) != nullptr)
        return;
    ShowMessage(nullptr, exception.GetMessageText(), Caption(), MB_OK);
}

std::wstring CMessageHandler::Caption() const
{
    return ProgramName();
}

UINT CMessageBoxHandler::AdjustStyle(HWND owner, UINT style)
{
    if ((style & MB_ICONMASK) == 0 && IsPlainButtonSet(style))
        style |= MB_ICONEXCLAMATION;
    HWND popup = owner != nullptr ? ::GetLastActivePopup(owner) : nullptr;
    if (popup == nullptr || !::IsWindowVisible(popup))
        style |= MB_TOPMOST | MB_SETFOREGROUND | MB_TASKMODAL;
    return style;
}

int CMessageBoxHandler::ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption, UINT style)
{
    return ::MessageBoxW(owner, text.c_str(), caption.c_str(), AdjustStyle(owner, style));
}

int CMessageBoxHandler::ShowMessageWithIcon(HWND owner, HINSTANCE instance, const std::wstring& text,
                                            const std::wstring& caption, UINT style, const wchar_t* icon)
{
    MSGBOXPARAMSW params = {};
    params.cbSize = sizeof params;
    params.hwndOwner = owner;
    params.hInstance = instance;
    params.lpszText = text.c_str();
    params.lpszCaption = caption.c_str();
    params.dwStyle = AdjustStyle(owner, style) | MB_USERICON;
    params.lpszIcon = icon;
    return ::MessageBoxIndirectW(&params);
}

CMessageHandler& CurrentMessageHandler()
{
    if (t_threadHandler != nullptr)
        return *t_threadHandler;
    if (CMessageHandler* handler = g_applicationHandler.load())
        return *handler;
    return DefaultMessageHandler();
}

CMessageHandler* NamedMessageHandler(const std::wstring& name)
{
    static CMessageBoxHandler boxHandler;
    static CConsoleMessageHandler consoleHandler;
    static CEventLogMessageHandler eventLogHandler;
    auto is = [&](const wchar_t* text) { return ::CompareStringOrdinal(name.c_str(), -1, text, -1, TRUE) == CSTR_EQUAL; };
    if (is(L"EVENTLOG"))
        return &eventLogHandler;
    if (is(L"MESSAGEBOX"))
        return &boxHandler;
    if (is(L"CONSOLE"))
        return &consoleHandler;
    return nullptr;
}

CMessageHandler& DefaultMessageHandler()
{
    static CMessageHandler* const chosen = []() -> CMessageHandler* {
        CVersionInfo version;
        version.LoadFromFile(GetModulePath());
        if (version.IsLoaded()) {
            if (CMessageHandler* named = NamedMessageHandler(version.GetStringValue(L"MessageHandler")))
                return named;
        }
        CMessageHandler* boxHandler = NamedMessageHandler(L"MESSAGEBOX");
        const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
        if (output == nullptr || output == INVALID_HANDLE_VALUE)
            return boxHandler;
        const DWORD type = ::GetFileType(output) & ~FILE_TYPE_REMOTE;
        if (type == FILE_TYPE_DISK || type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE)
            return NamedMessageHandler(L"CONSOLE");
        return boxHandler;
    }();
    return *chosen;
}

std::wstring CEventLogMessageHandler::SourceKey(const std::wstring& source)
{
    return L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + source;
}

int CEventLogMessageHandler::ShowMessage(HWND, const std::wstring& text, const std::wstring& caption, UINT style)
{
    std::lock_guard guard(m_lock);
    if (!m_tried) {
        m_tried = true;
        const std::wstring program = GetModulePath();
        const std::wstring source = ProgramName();
        // The source's message file is the program itself (its message table
        // holds event 1), kept current when the program has moved. Without
        // the right to write under HKEY_LOCAL_MACHINE the texts are still
        // written, only without a message file to show them with.
        CRegistryKey key;
        if (key.Open(HKEY_LOCAL_MACHINE, SourceKey(source).c_str(), CRegistryKey::Create)) {
            try {
                if (_wcsicmp(key.ReadString(L"EventMessageFile").c_str(), program.c_str()) != 0)
                    key.WriteString(L"EventMessageFile", program);
            } catch (CException* raw) {
                Own(raw);
            }
        }
        m_source.Reset(::RegisterEventSourceW(nullptr, source.c_str()));
    }
    if (m_source) {
        const wchar_t* strings[] = {caption.c_str(), text.c_str()};
        ::ReportEventW(m_source.Get(), EventTypeFor(style), 0, 1, nullptr, 2, 0, strings, nullptr);
    }
    return AutomaticAnswer(style);
}

int CEventLogMessageHandler::ShowMessageWithIcon(HWND owner, HINSTANCE, const std::wstring& text,
                                                 const std::wstring& caption, UINT style, const wchar_t*)
{
    return ShowMessage(owner, text, caption, style);
}

void CEventLogMessageHandler::ReportException(const CException& exception)
{
    if (dynamic_cast<const CUserException*>(&exception) != nullptr)
        return;
    ShowMessage(nullptr, exception.GetMessageText(), Caption(), MB_OK | MB_ICONHAND);
}

int AutomaticAnswer(UINT style) noexcept
{
    const UINT defaultButton = style & MB_DEFMASK;
    const int column = defaultButton == MB_DEFBUTTON2 ? 1 : defaultButton == MB_DEFBUTTON3 ? 2 : 0;
    switch (style & MB_TYPEMASK) {
    case MB_OK:
        return IDOK;
    case MB_OKCANCEL:
        return column == 1 ? IDCANCEL : IDOK;
    case MB_YESNO:
        return column == 1 ? IDNO : IDYES;
    case MB_YESNOCANCEL: {
        const int answers[] = {IDYES, IDNO, IDCANCEL};
        return answers[column];
    }
    case MB_RETRYCANCEL:
        return column == 1 ? IDCANCEL : IDRETRY;
    case MB_ABORTRETRYIGNORE: {
        const int answers[] = {IDABORT, IDRETRY, IDIGNORE};
        return answers[column];
    }
    }
    return IDABORT;
}

WORD EventTypeFor(UINT style) noexcept
{
    switch (style & MB_ICONMASK) {
    case MB_ICONHAND:
        return EVENTLOG_ERROR_TYPE;
    case MB_ICONEXCLAMATION:
        return EVENTLOG_WARNING_TYPE;
    case MB_ICONQUESTION:
    case MB_ICONASTERISK:
        return EVENTLOG_INFORMATION_TYPE;
    }
    switch (style & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return EVENTLOG_WARNING_TYPE;
    case MB_RETRYCANCEL:
    case MB_ABORTRETRYIGNORE:
        return EVENTLOG_ERROR_TYPE;
    }
    return EVENTLOG_INFORMATION_TYPE;
}

namespace {

struct CConsoleOutput {
    HANDLE handle = nullptr;
    DWORD type = 0;
    bool checked = false;
    bool unicode = false;
};

CConsoleOutput& ConsoleOutput()
{
    static CConsoleOutput output = [] {
        CConsoleOutput result;
        result.handle = ::GetStdHandle(STD_OUTPUT_HANDLE);
        if (result.handle != nullptr && result.handle != INVALID_HANDLE_VALUE)
            result.type = ::GetFileType(result.handle) & ~FILE_TYPE_REMOTE;
        return result;
    }();
    return output;
}

constinit CLock g_consoleLock;

// A disk file past its start whose first two bytes are FF FE takes UTF-16.
bool AppendsUtf16(HANDLE file)
{
    LARGE_INTEGER zero = {};
    LARGE_INTEGER position = {};
    if (!::SetFilePointerEx(file, zero, &position, FILE_CURRENT) || position.QuadPart == 0)
        return false;
    unsigned char mark[2] = {};
    DWORD read = 0;
    const bool ok = ::SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) &&
                    ::ReadFile(file, mark, 2, &read, nullptr) && read == 2 && mark[0] == 0xFF && mark[1] == 0xFE;
    ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN);
    return ok;
}

} // namespace

std::wstring CConsoleMessageHandler::ToConsoleLines(const std::wstring& text)
{
    std::wstring result;
    result.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r'))
            result += L'\r';
        result += text[i];
    }
    result += L"\r\n";
    return result;
}

int CConsoleMessageHandler::ShowMessage(HWND, const std::wstring& text, const std::wstring&, UINT style)
{
    std::lock_guard guard(g_consoleLock);
    CConsoleOutput& output = ConsoleOutput();
    const std::wstring lines = ToConsoleLines(text);
    DWORD written = 0;
    if (output.type == FILE_TYPE_CHAR) {
        for (std::size_t pos = 0; pos < lines.size(); pos += 16384) {
            const DWORD count = static_cast<DWORD>(std::min<std::size_t>(16384, lines.size() - pos));
            ::WriteConsoleW(output.handle, lines.data() + pos, count, &written, nullptr);
        }
    } else if (output.type == FILE_TYPE_DISK || output.type == FILE_TYPE_PIPE) {
        if (!output.checked) {
            output.checked = true;
            output.unicode = output.type == FILE_TYPE_DISK && AppendsUtf16(output.handle);
        }
        if (output.unicode) {
            ::WriteFile(output.handle, lines.data(), static_cast<DWORD>(lines.size() * sizeof(wchar_t)), &written,
                        nullptr);
        } else {
            const std::string bytes = Narrow(lines, CP_ACP);
            ::WriteFile(output.handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        }
    } else {
        std::fwprintf(stdout, L"%ls", lines.c_str());
        std::fflush(stdout);
    }
    return AutomaticAnswer(style);
}

void SetThreadMessageHandler(CMessageHandler* handler)
{
    t_threadHandler = handler;
}

void SetApplicationMessageHandler(CMessageHandler* handler)
{
    g_applicationHandler = handler;
}

CMessageHandler* ApplicationMessageHandler() noexcept
{
    return g_applicationHandler.load();
}

int ShowMessage(const std::wstring& text, UINT style)
{
    std::lock_guard guard(g_reportLock);
    CMessageHandler& handler = CurrentMessageHandler();
    return handler.ShowMessage(nullptr, text, handler.Caption(), style);
}

void ShowException(const CException& exception)
{
    std::lock_guard guard(g_reportLock);
    CurrentMessageHandler().ReportException(exception);
}

void ReportException(CException& exception)
{
    exception.Report();
}

bool MessageBoxesSuppressed()
{
    return g_suppressBoxes;
}

void SuppressMessageBoxes(bool suppress)
{
    g_suppressBoxes = suppress;
}

} // namespace Bas
