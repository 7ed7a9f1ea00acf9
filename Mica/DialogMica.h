// A modeless dialog made from a dialog template of the program, with access
// to its controls. Errors of its handlers never cross the window procedure:
// they are reported through the current message handler (a cancellation
// silently), and an error of the opening makes Create throw it.
#pragma once

#include "Errors.h"
#include "WinApi.h"

#include <string>

namespace Mica {

class CDialog {
public:
    explicit CDialog(UINT templateId) : m_templateId(templateId) {}
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Creates the window from the program's template (shown when the
    // template says so), running OnInitDialog first.
    void Create(HWND parent = nullptr);
    // Destroys the window; the main dialog's closing ends the program.
    void Close();

    HWND Handle() const noexcept { return m_window; }
    HWND Item(int id) const;
    void SetItemText(int id, const std::wstring& text);
    void EnableItem(int id, bool enable);
    UINT TemplateId() const noexcept { return m_templateId; }

protected:
    // Called once the controls exist, before the window is first shown.
    virtual void OnInitDialog() {}
    virtual void OnCommand(int id);
    // The window is going away (WM_DESTROY).
    virtual void OnDestroy() {}
    // Any other message; true when handled, with the result in `result`.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    HWND m_window = nullptr;
    Bas::CExceptionPtr m_initError;
};

// Offers a message to the program's modeless dialogs (keyboard navigation);
// true when one of them took it.
bool IsDialogMessageOfAny(MSG& message);

} // namespace Mica
