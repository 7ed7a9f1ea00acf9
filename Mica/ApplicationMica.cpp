#include "ApplicationMica.h"

#include "Errors.h"

namespace Mica {

CApplication::CApplication(std::wstring title) : m_title(std::move(title)), m_handler(m_title)
{
    Bas::SetApplicationMessageHandler(&m_handler);
}

CApplication::~CApplication()
{
    Bas::SetApplicationMessageHandler(nullptr);
}

int CApplication::OnStartUpError(Bas::CException& error)
{
    Bas::ReportException(error);
    return 1;
}

int CApplication::Run()
{
    try {
        if (!StartUp())
            return m_exitCode;
    } catch (Bas::CUserException* raw) {
        auto error = Bas::Own(raw);
        return 1;
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        return OnStartUpError(*error);
    }
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return m_exitCode;
}

} // namespace Mica
