#include "MessageHandlers.h"

#include "Errors.h"

#include <atomic>
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
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, length < MAX_PATH ? length : 0);
    const auto slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
        name.erase(0, slash + 1);
    const auto dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos)
        name.erase(dot);
    return name;
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
    static CMessageBoxHandler defaultHandler;
    return defaultHandler;
}

void SetThreadMessageHandler(CMessageHandler* handler)
{
    t_threadHandler = handler;
}

void SetApplicationMessageHandler(CMessageHandler* handler)
{
    g_applicationHandler = handler;
}

int ShowMessage(const std::wstring& text, UINT style)
{
    std::lock_guard guard(g_reportLock);
    CMessageHandler& handler = CurrentMessageHandler();
    return handler.ShowMessage(nullptr, text, handler.Caption(), style);
}

void ReportException(const CException& exception)
{
    std::lock_guard guard(g_reportLock);
    CurrentMessageHandler().ReportException(exception);
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
