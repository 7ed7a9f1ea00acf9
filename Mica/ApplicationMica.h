// The application object: runs StartUp once, then the message loop while
// the main dialog is open, and reports an error that escapes StartUp. Its
// message handler shows texts and errors in message boxes owned by the
// main dialog.
#pragma once

#include "MessageHandlers.h"

#include <string>

namespace Mica {

class CDialog;

class CMessageBoxHandler : public Bas::CMessageBoxHandler {
public:
    explicit CMessageBoxHandler(std::wstring caption) : m_caption(std::move(caption)) {}
    std::wstring Caption() const override { return m_caption; }
    // A text without an owner of its own is shown over the main dialog.
    int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption, UINT style) override;

private:
    std::wstring m_caption;
};

class CApplication {
public:
    explicit CApplication(std::wstring title);
    virtual ~CApplication();
    CApplication(const CApplication&) = delete;
    CApplication& operator=(const CApplication&) = delete;

    // The one application object of the process, or null.
    static CApplication* Instance() noexcept;

    // The process exit code: what StartUp or the main dialog left.
    int Run();

    const std::wstring& Title() const noexcept { return m_title; }
    void SetExitCode(int code) noexcept { m_exitCode = code; }

    // The dialog whose closing ends the message loop.
    void SetMainDialog(CDialog* dialog) noexcept { m_mainDialog = dialog; }
    CDialog* MainDialog() const noexcept { return m_mainDialog; }
    HWND MainWindow() const noexcept;

protected:
    // False ends the program at once; true keeps the message loop running
    // until the main dialog closes.
    virtual bool StartUp() = 0;
    // Reports an error that escaped StartUp and gives the exit code.
    virtual int OnStartUpError(Bas::CException& error);

private:
    std::wstring m_title;
    CMessageBoxHandler m_handler;
    CDialog* m_mainDialog = nullptr;
    int m_exitCode = 0;
};

} // namespace Mica
