#include "DialogMica.h"

#include "ApplicationMica.h"
#include "MessageHandlers.h"

#include <algorithm>
#include <vector>

namespace Mica {

namespace {

std::vector<HWND>& ModelessDialogs()
{
    static std::vector<HWND> dialogs;
    return dialogs;
}

} // namespace

bool IsDialogMessageOfAny(MSG& message)
{
    for (HWND dialog : ModelessDialogs())
        if (::IsDialogMessageW(dialog, &message))
            return true;
    return false;
}

CDialog::~CDialog()
{
    if (m_window != nullptr)
        ::DestroyWindow(m_window);
}

void CDialog::Create(HWND parent)
{
    BAS_ASSERT(m_window == nullptr);
    HWND window = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), parent,
                                       DialogProc, reinterpret_cast<LPARAM>(this));
    if (m_initError) {
        if (window != nullptr)
            ::DestroyWindow(window);
        Bas::Rethrow(std::move(m_initError));
    }
    if (window == nullptr)
        Bas::ThrowLastError();
}

void CDialog::Close()
{
    if (m_window != nullptr)
        ::DestroyWindow(m_window);
}

HWND CDialog::Item(int id) const
{
    return ::GetDlgItem(m_window, id);
}

void CDialog::SetItemText(int id, const std::wstring& text)
{
    ::SetDlgItemTextW(m_window, id, text.c_str());
}

void CDialog::EnableItem(int id, bool enable)
{
    ::EnableWindow(Item(id), enable ? TRUE : FALSE);
}

void CDialog::OnCommand(int id)
{
    if (id == IDCANCEL)
        Close();
}

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&)
{
    return false;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        dialog->m_window = window;
        ModelessDialogs().push_back(window);
    }
    auto* dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (dialog == nullptr)
        return FALSE;
    return dialog->handle(message, wParam, lParam);
}

INT_PTR CDialog::handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    // Nothing may be thrown through the system's window procedure.
    try {
        switch (message) {
        case WM_INITDIALOG:
            try {
                OnInitDialog();
            } catch (Bas::CException* raw) {
                m_initError = Bas::Own(raw);
            }
            return TRUE;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam));
            return TRUE;
        case WM_CLOSE:
            Close();
            return TRUE;
        case WM_DESTROY: {
            auto& dialogs = ModelessDialogs();
            dialogs.erase(std::remove(dialogs.begin(), dialogs.end(), m_window), dialogs.end());
            OnDestroy();
            ::SetWindowLongPtrW(m_window, DWLP_USER, 0);
            const bool main = CApplication::Instance() != nullptr && CApplication::Instance()->MainDialog() == this;
            m_window = nullptr;
            // A dialog that failed to open is destroyed by Create, which
            // then throws: a quit request now would close the report of
            // that error before the user could read it.
            if (main && !m_initError)
                ::PostQuitMessage(0);
            return TRUE;
        }
        default: {
            INT_PTR result = 0;
            if (OnMessage(message, wParam, lParam, result)) {
                ::SetWindowLongPtrW(m_window, DWLP_MSGRESULT, result);
                return TRUE;
            }
            return FALSE;
        }
        }
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        Bas::ReportException(*error);
    }
    return TRUE;
}

} // namespace Mica
