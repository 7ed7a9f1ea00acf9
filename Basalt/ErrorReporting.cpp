#include "ErrorReporting.h"

#include "BasaltMessages.h"
#include "Handles.h"
#include "Library.h"
#include "Message.h"
#include "NativeFileSystem.h"
#include "MessageHandlers.h"

#include <dbghelp.h>

#include <atomic>
#include <cstdlib>
#include <exception>
#include <memory>

namespace Bas {

namespace {

std::atomic<bool> g_throwInternalErrors{true};
std::atomic<InternalErrorCallback> g_callback{nullptr};
std::atomic<int> g_assertStopMode{0};
std::atomic<int> g_errorStopMode{0};
thread_local bool t_reporting = false;
std::terminate_handler g_previousTerminate = nullptr;
_invalid_parameter_handler g_previousInvalidParameter = nullptr;

std::wstring Widen(const char* text)
{
    std::wstring wide;
    for (; text != nullptr && *text != 0; ++text)
        wide.push_back(static_cast<unsigned char>(*text));
    return wide;
}

void LastResortBox(const wchar_t* text, const wchar_t* caption, UINT style)
{
    if (!MessageBoxesSuppressed())
        ::MessageBoxW(nullptr, text, caption, style);
}

[[noreturn]] void OnTerminate()
{
    LastResortBox(L"Unhandled Internal Error", L"Basalt", MB_SYSTEMMODAL | MB_ICONERROR);
    std::abort();
}

void OnInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t) {}

void StopIfConfigured(EInternalError kind)
{
    const bool assertion = kind == EInternalError::Assertion || kind == EInternalError::AssertionWithCode;
    const int mode = assertion ? g_assertStopMode.load() : g_errorStopMode.load();
    if (mode == 3 || (mode == 2 && ::IsDebuggerPresent()))
        ::DebugBreak();
}

// Shared by the caller and the writer thread: a writer still busy when the
// caller stops waiting keeps the request (and the file) alive until it ends.
struct CDumpRequest {
    CFileHandle file;
    std::atomic<bool> written{false};
};

DWORD WINAPI DumpThread(void* parameter)
{
    const std::unique_ptr<std::shared_ptr<CDumpRequest>> owner(static_cast<std::shared_ptr<CDumpRequest>*>(parameter));
    CDumpRequest& request = **owner;
    request.written = ::MiniDumpWriteDump(::GetCurrentProcess(), ::GetCurrentProcessId(), request.file.Get(),
                                          MiniDumpNormal, nullptr, nullptr, nullptr) != FALSE;
    return 0;
}

} // namespace

void SetInternalErrorsThrow(bool on) noexcept { g_throwInternalErrors = on; }
bool InternalErrorsThrow() noexcept { return g_throwInternalErrors; }
void SetInternalErrorCallback(InternalErrorCallback callback) noexcept { g_callback = callback; }

void SetStopModes(int assertMode, int errorMode) noexcept
{
    g_assertStopMode = assertMode;
    g_errorStopMode = errorMode;
}

std::wstring InternalErrorText(EInternalError kind, const char* expression, const char* function, const char* file,
                               int line, DWORD code)
{
    const CMessageName* message = &MSG_ASSERT;
    switch (kind) {
    case EInternalError::Assertion: message = &MSG_ASSERT; break;
    case EInternalError::AssertionWithCode: message = &MSG_ASSERTLASTERROR; break;
    case EInternalError::Presumption: message = &MSG_PRESUME; break;
    case EInternalError::PresumptionWithCode: message = &MSG_PRESUMELASTERROR; break;
    }
    const bool withCode = kind == EInternalError::AssertionWithCode || kind == EInternalError::PresumptionWithCode;
    // The kinds without a code have no %4 and %5.
    const std::wstring params[] = {Widen(expression), Widen(function), Widen(file), std::to_wstring(line),
                                   withCode ? HexText(code) : std::wstring(), withCode ? GetLastErrorText(code) : std::wstring()};
    return Format(*message, params, withCode ? 6 : 4);
}

CReportingScope::CReportingScope()
{
    if (t_reporting) {
        LastResortBox(L"Double internal error!\nApplication terminated.", L"Basalt", MB_ICONHAND | MB_SYSTEMMODAL);
        std::abort();
    }
    t_reporting = true;
}

CReportingScope::~CReportingScope() { t_reporting = false; }

bool IsReporting() noexcept { return t_reporting; }

std::wstring WriteMinidump(DWORD timeout)
{
    wchar_t folder[MAX_PATH + 1] = {};
    if (::GetTempPathW(MAX_PATH + 1, folder) == 0)
        return {};
    const std::wstring path = std::wstring(folder) + ProgramName() + L" " + std::to_wstring(::GetCurrentProcessId()) + L".dmp";
    auto request = std::make_shared<CDumpRequest>();
    request->file.Reset(::CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!request->file)
        return {};
    auto* forThread = new std::shared_ptr<CDumpRequest>(request);
    CKernelHandle thread(::CreateThread(nullptr, 0, DumpThread, forThread, 0, nullptr));
    if (!thread) {
        delete forThread;
        request->file.Reset();
        RemoveFile(path);
        return {};
    }
    // A writer that is still busy after the wait keeps its request; the file
    // is left to it.
    if (::WaitForSingleObject(thread.Get(), timeout) != WAIT_OBJECT_0)
        return {};
    if (!request->written) {
        request->file.Reset();
        RemoveFile(path);
        return {};
    }
    return path;
}

void InstallLastResortHandlers()
{
    g_previousTerminate = std::set_terminate(OnTerminate);
    g_previousInvalidParameter = ::_set_invalid_parameter_handler(OnInvalidParameter);
}

void RemoveLastResortHandlers()
{
    std::set_terminate(g_previousTerminate);
    ::_set_invalid_parameter_handler(g_previousInvalidParameter);
}

void FailCheck(EInternalError kind, const char* expression, const char* function, const char* file, int line,
               DWORD code)
{
    if (HasLibraryFlag(FlagCreateMinidumpOnInternalError))
        WriteMinidump();
    if (InternalErrorCallback callback = g_callback.load())
        callback(kind, expression, function, file, line, code);
    StopIfConfigured(kind);
    if (g_throwInternalErrors && !t_reporting)
        throw new CInternalError(kind, Widen(file), line, code);
    const std::wstring text = InternalErrorText(kind, expression, function, file, line, code);
    CReportingScope reporting;
    ShowMessage(text, MB_ICONHAND | MB_SYSTEMMODAL);
}

} // namespace Bas
