// The application object: runs StartUp once, then the message loop while a
// main window is open, and reports an error that escapes StartUp.
#pragma once

#include "MessageHandlers.h"

#include <string>

namespace Mica {

class CMessageBoxHandler : public Bas::CMessageBoxHandler {
public:
    explicit CMessageBoxHandler(std::wstring caption) : m_caption(std::move(caption)) {}
    std::wstring Caption() const override { return m_caption; }

private:
    std::wstring m_caption;
};

class CApplication {
public:
    explicit CApplication(std::wstring title);
    virtual ~CApplication();
    CApplication(const CApplication&) = delete;
    CApplication& operator=(const CApplication&) = delete;

    // The process exit code: what StartUp or the main window left.
    int Run();

    const std::wstring& Title() const noexcept { return m_title; }
    void SetExitCode(int code) noexcept { m_exitCode = code; }

protected:
    // False ends the program at once; true keeps the message loop running
    // until the main window posts WM_QUIT.
    virtual bool StartUp() = 0;
    // Reports an error that escaped StartUp and gives the exit code.
    virtual int OnStartUpError(Bas::CException& error);

private:
    std::wstring m_title;
    CMessageBoxHandler m_handler;
    int m_exitCode = 0;
};

} // namespace Mica
