// The frame of a console program: its command line as parameter records,
// the common options (-nologo, -uilanguage, -help, -?), the logo and usage
// texts from the program's version information, error output and the exit
// code. While it runs, the application object is the process's message
// handler: texts are printed to standard output.
#pragma once

#include "Library.h"
#include "Message.h"
#include "MessageHandlers.h"

#include <optional>
#include <string>
#include <vector>

namespace Granite {

inline const Bas::CMessageName ERR_TOOLS_CONSOLE_APPLICATION_INVALID_ARGUMENT{
    L"ERR_TOOLS_CONSOLE_APPLICATION_INVALID_ARGUMENT"};
inline const Bas::CMessageName ERR_TOOLS_CONSOLE_APPLICATION_INVALID_LANGUAGE_CODE{
    L"ERR_TOOLS_CONSOLE_APPLICATION_INVALID_LANGUAGE_CODE"};
inline const Bas::CMessageName MSG_TOOLS_CONSOLE_APPLICATION_LOGO_TEMPLATE{
    L"MSG_TOOLS_CONSOLE_APPLICATION_LOGO_TEMPLATE"};

// One command-line argument: "-key:value" or "/key:value" (the ":" at the
// third character or later), "-key", or a plain argument (empty key).
struct CParameter {
    std::wstring text;
    std::wstring key;
    std::wstring value;
};
CParameter SplitParameter(const std::wstring& argument);

// An option by its long and short name: the key is the long name (no short
// name), or a beginning of it at least as long as the short name, compared
// without regard to case.
struct COption {
    const wchar_t* longName;
    const wchar_t* shortName;
    bool Matches(const std::wstring& key) const;
};

// A "name <address>" value: the text after the last "<" before the final
// ">" and the text before it, both trimmed; otherwise no name and the whole
// value.
struct CNamedValue {
    std::wstring name;
    std::wstring value;
};
CNamedValue SplitNamedValue(const std::wstring& text);

class CConsoleApplication : public Bas::CMessageHandler {
public:
    CConsoleApplication() = default;
    ~CConsoleApplication() override = default;

    // Starts the library, handles the command line, runs the program and
    // returns its exit code (-1 after an error or the help).
    int Run();

    // Prints the text and answers without asking; a text that would reach
    // nobody (a console without window) is shown in a message box instead.
    // A text that cannot be written raises the write's error, which ends the
    // run with -1 when it reaches HandleException.
    int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption, UINT style) override;
    std::wstring Caption() const override { return GetApplicationName(); }

    const std::vector<CParameter>& Parameters() const noexcept { return m_parameters; }
    int ExitCode() const noexcept { return m_exitCode; }

    virtual std::wstring GetRegistryRoot() const;
    virtual std::wstring GetApplicationName() const;
    virtual std::wstring GetLogo() const;
    virtual std::wstring GetUsage() const = 0;

protected:
    virtual void OnStart() {}
    // ProcessParameter for every parameter from the second on.
    virtual void ParseCommandLine();
    virtual void ProcessParameter(const CParameter& parameter);
    // Prints the logo when it is still due.
    virtual void Execute();
    virtual void HandleException(Bas::CException& error);
    virtual void OnFinish() {}

    // Prints "\n<text>\n\n", or shows an error where output reaches nobody.
    void PrintBlock(const std::wstring& text);
    void PrintLogoIfDue();
    void SetExitCode(int code) noexcept { m_exitCode = code; }

private:
    // Runs a step; an error (running out of memory included) goes to
    // HandleException, and an error of that report ends the run as well.
    template <class Step>
    void guarded(Step step);

    std::vector<CParameter> m_parameters;
    int m_exitCode = 0;
    bool m_showLogo = true;
};

} // namespace Granite
