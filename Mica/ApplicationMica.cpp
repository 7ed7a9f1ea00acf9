#include "ApplicationMica.h"

#include "DialogMica.h"
#include "Errors.h"

#include <commctrl.h>

#include <new>

namespace Mica {

namespace {

CApplication* g_application = nullptr;

} // namespace

int CMessageBoxHandler::ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption, UINT style)
{
    if (owner == nullptr && g_application != nullptr)
        owner = g_application->MainWindow();
    return Bas::CMessageBoxHandler::ShowMessage(owner, text, caption, style);
}

CApplication::CApplication(std::wstring title) : m_title(std::move(title)), m_handler(m_title)
{
    BAS_ASSERT(g_application == nullptr);
    g_application = this;
    Bas::SetApplicationMessageHandler(&m_handler);
}

CApplication::~CApplication()
{
    Bas::SetApplicationMessageHandler(nullptr);
    g_application = nullptr;
}

CApplication* CApplication::Instance() noexcept
{
    return g_application;
}

HWND CApplication::MainWindow() const noexcept
{
    return m_mainDialog != nullptr ? m_mainDialog->Handle() : nullptr;
}

int CApplication::OnStartUpError(Bas::CException& error)
{
    Bas::ReportException(error);
    return 1;
}

int CApplication::Run()
{
    // The common controls of version 6 (the program's manifest asks for
    // them) register their classes here.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    try {
        if (!StartUp())
            return m_exitCode;
    } catch (Bas::CUserException* raw) {
        auto error = Bas::Own(raw);
        return 1;
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        return OnStartUpError(*error);
    } catch (const std::bad_alloc&) {
        // What the machine holds may drive an allocation too large: the
        // out-of-memory error, reported as any other.
        Bas::CMemoryException error;
        return OnStartUpError(error);
    }
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageOfAny(message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return message.message == WM_QUIT ? static_cast<int>(message.wParam) : m_exitCode;
}

} // namespace Mica
