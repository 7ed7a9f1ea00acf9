// Message handlers: where every user-visible text and every reported error
// goes.
#pragma once

#include "Handles.h"

#include "WinApi.h"

#include <mutex>
#include <string>

namespace Bas {

class CException;

class CMessageHandler {
public:
    virtual ~CMessageHandler() = default;
    // Returns the chosen button (IDOK, IDCANCEL, ...).
    virtual int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption, UINT style) = 0;
    virtual int ShowMessageWithIcon(HWND owner, HINSTANCE instance, const std::wstring& text,
                                    const std::wstring& caption, UINT style, const wchar_t* icon);
    // Shows the exception's text with MB_OK; a CUserException is never shown.
    virtual void ReportException(const CException& exception);
    // The caption of the texts this handler shows on its own account.
    virtual std::wstring Caption() const;
};

class CMessageBoxHandler : public CMessageHandler {
public:
    int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption, UINT style) override;
    int ShowMessageWithIcon(HWND owner, HINSTANCE instance, const std::wstring& text, const std::wstring& caption,
                            UINT style, const wchar_t* icon) override;

    // The style actually shown: the exclamation icon for a plain button set
    // without icon, and top-most task-modal when no visible owner shows it.
    static UINT AdjustStyle(HWND owner, UINT style);
};

// Answers without asking: the text goes to standard output. A console gets
// UTF-16 through WriteConsoleW; a disk file or pipe gets ANSI bytes, unless it
// is a file that already holds text after the byte-order mark FF FE, which is
// appended to as UTF-16.
class CConsoleMessageHandler : public CMessageHandler {
public:
    int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption, UINT style) override;

    // Every "\n" not preceded by "\r" becomes "\r\n", and "\r\n" ends the text.
    static std::wstring ToConsoleLines(const std::wstring& text);
};

// Answers without asking: each text goes into the Application event log
// under the program's name as source, registered on first use with the
// program itself as its "EventMessageFile".
class CEventLogMessageHandler : public CMessageHandler {
public:
    int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption, UINT style) override;
    int ShowMessageWithIcon(HWND owner, HINSTANCE instance, const std::wstring& text, const std::wstring& caption,
                            UINT style, const wchar_t* icon) override;
    void ReportException(const CException& exception) override;

    // The registry key of a source under the Application log.
    static std::wstring SourceKey(const std::wstring& source);

private:
    std::mutex m_lock;
    bool m_tried = false;
    CEventSourceHandle m_source;
};

// The answer of a handler that never asks, by button set and default button.
int AutomaticAnswer(UINT style) noexcept;
// The event-log type of a text of this style.
WORD EventTypeFor(UINT style) noexcept;

// The handler a "MessageHandler" text names ("EVENTLOG", "MESSAGEBOX" or
// "CONSOLE", any case); null for any other text.
CMessageHandler* NamedMessageHandler(const std::wstring& name);
// The process default, chosen once: the handler that the program's version
// block names under "MessageHandler"; else the console handler when standard
// output is a disk file, a character device or a pipe, else the message box.
CMessageHandler& DefaultMessageHandler();

// The handler of the calling thread, else the application's, else the
// process default.
CMessageHandler& CurrentMessageHandler();
void SetThreadMessageHandler(CMessageHandler* handler);
void SetApplicationMessageHandler(CMessageHandler* handler);
CMessageHandler* ApplicationMessageHandler() noexcept;

// Routes to the current handler under the global reporting lock.
int ShowMessage(const std::wstring& text, UINT style);
void ShowException(const CException& exception);
// Reports an error that reached the top of a program through the
// exception's own Report: an internal error is counted and shown
// system-modal (from the third on with Cancel, which ends the process), and
// a failed check while reporting ends it as a double internal error. An
// error the handler raises (a text it cannot write) reaches the caller.
void ReportException(CException& exception);

// Whether the library's last-resort message boxes are turned off.
bool MessageBoxesSuppressed();
void SuppressMessageBoxes(bool suppress);

} // namespace Bas
