#include "ConsoleApplication.h"

#include "CommandLine.h"
#include "ConsoleTools.h"
#include "Errors.h"
#include "NativeFileSystem.h"
#include "ResourceInfo.h"
#include "TextTools.h"
#include "VersionInfo.h"

#include <cwchar>
#include <new>

namespace Granite {

namespace {

const COption kNoLogo = {L"NoLogo", L""};
const COption kUiLanguage = {L"UiLanguage", L""};
const COption kHelp = {L"Help", L""};
const COption kQuestion = {L"?", L""};

Bas::CVersionInfo OwnVersion()
{
    Bas::CVersionInfo version;
    version.LoadFromFile(Bas::GetModulePath());
    return version;
}

} // namespace

CParameter SplitParameter(const std::wstring& argument)
{
    CParameter parameter{argument, {}, {}};
    if (argument.size() >= 2 && (argument[0] == L'-' || argument[0] == L'/')) {
        const auto colon = argument.find(L':', 2);
        if (colon != std::wstring::npos) {
            parameter.key = argument.substr(1, colon - 1);
            parameter.value = argument.substr(colon + 1);
        } else {
            parameter.key = argument.substr(1);
        }
    } else {
        parameter.value = argument;
    }
    return parameter;
}

bool COption::Matches(const std::wstring& key) const
{
    const std::size_t longLength = std::wcslen(longName);
    const std::size_t shortLength = std::wcslen(shortName);
    BAS_ASSERT(_wcsnicmp(longName, shortName, shortLength) == 0);
    if (shortLength == 0)
        return Bas::EqualNoCase(key, longName);
    return key.size() >= shortLength && key.size() <= longLength &&
           _wcsnicmp(key.c_str(), longName, key.size()) == 0;
}

CNamedValue SplitNamedValue(const std::wstring& text)
{
    const auto open = text.rfind(L'<');
    if (!text.empty() && text.back() == L'>' && open != std::wstring::npos)
        return {Bas::Trim(text.substr(0, open)), Bas::Trim(text.substr(open + 1, text.size() - open - 2))};
    return {{}, text};
}

int CConsoleApplication::Run()
{
    const std::wstring root = GetRegistryRoot();
    std::optional<Bas::CLibrary> library(std::in_place, root);
    // A library that could not start has reported why; that is a failure.
    if (!Bas::IsLibraryRunning())
        return -1;
    // The previous handler comes back on every way out: this object may be
    // gone by the time anything else is reported.
    struct CHandlerRestore {
        Bas::CMessageHandler* previous;
        ~CHandlerRestore() { Bas::SetApplicationMessageHandler(previous); }
    } restore{Bas::ApplicationMessageHandler()};
    Bas::SetApplicationMessageHandler(this);
    guarded([&] {
        Bas::SetProgramName(GetApplicationName());
        OnStart();
        Bas::CCommandLine commandLine;
        if (!commandLine.Parse(::GetCommandLineW()))
            Bas::ThrowCheck(ERR_TOOLS_CONSOLE_APPLICATION_INVALID_ARGUMENT, commandLine.OverflowArgument());
        m_parameters.clear();
        for (std::size_t i = 0; i < commandLine.ArgumentCount(); ++i)
            m_parameters.push_back(SplitParameter(commandLine.Argument(i)));
        ParseCommandLine();
        Execute();
    });
    guarded([&] { OnFinish(); });
    library.reset();
    return m_exitCode;
}

template <class Step>
void CConsoleApplication::guarded(Step step)
{
    try {
        try {
            step();
        } catch (const std::bad_alloc&) {
            Bas::ThrowMemory();
        }
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        // Reporting may fail in its turn (standard output a pipe whose
        // reader has gone): the run has failed either way.
        try {
            HandleException(*error);
        } catch (Bas::CException* again) {
            Bas::Own(again);
        } catch (const std::bad_alloc&) {
        }
        m_exitCode = -1;
    }
}

int CConsoleApplication::ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption, UINT style)
{
    if (OutputIsUnseen())
        return ::MessageBoxW(owner, text.c_str(), caption.c_str(), Bas::CMessageBoxHandler::AdjustStyle(owner, style));
    ConsolePrint(L"%s\n", text);
    return Bas::AutomaticAnswer(style);
}

void CConsoleApplication::PrintBlock(const std::wstring& text)
{
    ConsolePrint(L"\n%s\n\n", text);
}

void CConsoleApplication::PrintLogoIfDue()
{
    if (!m_showLogo)
        return;
    m_showLogo = false;
    PrintBlock(GetLogo());
}

void CConsoleApplication::ParseCommandLine()
{
    for (std::size_t i = 1; i < m_parameters.size(); ++i)
        ProcessParameter(m_parameters[i]);
}

void CConsoleApplication::ProcessParameter(const CParameter& parameter)
{
    const bool option = !parameter.key.empty();
    if (option && kNoLogo.Matches(parameter.key)) {
        m_showLogo = false;
        return;
    }
    if (option && kUiLanguage.Matches(parameter.key)) {
        // A Windows language identifier of a language the program has texts in
        // (English is its own table's).
        int langId = 0;
        const int language = Bas::ParseInteger(parameter.value, langId) && langId > 0 && langId <= 0xFFFF
                                 ? Bas::LanguageFromLangId(static_cast<LANGID>(langId))
                                 : -1;
        if (language < 0 || (language != 0 && !Bas::SetInterfaceLanguage(language)))
            Bas::ThrowCheck(ERR_TOOLS_CONSOLE_APPLICATION_INVALID_LANGUAGE_CODE, parameter.value);
        return;
    }
    if (option && (kHelp.Matches(parameter.key) || kQuestion.Matches(parameter.key))) {
        PrintLogoIfDue();
        PrintBlock(GetUsage());
        Bas::ThrowUser();
    }
    Bas::ThrowCheck(ERR_TOOLS_CONSOLE_APPLICATION_INVALID_ARGUMENT, parameter.text);
}

void CConsoleApplication::Execute()
{
    PrintLogoIfDue();
}

void CConsoleApplication::HandleException(Bas::CException& error)
{
    m_exitCode = -1;
    if (dynamic_cast<Bas::CUserException*>(&error) != nullptr)
        return;
    // Glean starts the program without a console window: its errors would
    // be seen by nobody, so they come up in a message box.
    if (OutputIsUnseen()) {
        m_showLogo = false;
        ::MessageBoxW(nullptr, error.GetMessageText().c_str(), GetApplicationName().c_str(),
                      MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
        return;
    }
    PrintLogoIfDue();
    PrintBlock(error.GetMessageText());
}

std::wstring CConsoleApplication::GetApplicationName() const
{
    const std::wstring internal = OwnVersion().GetStringValue(L"InternalName");
    if (!internal.empty())
        return internal;
    std::wstring name = Bas::FileNameOf(Bas::GetModulePath());
    const auto dot = name.rfind(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

std::wstring CConsoleApplication::GetRegistryRoot() const
{
    std::wstring root = L"Software\\Zarvo\\" + GetApplicationName();
    VS_FIXEDFILEINFO fixed = {};
    if (OwnVersion().GetFixedFileInfo(fixed)) {
        wchar_t version[32];
        std::swprintf(version, 32, L"\\%d.%02d", static_cast<int>(HIWORD(fixed.dwFileVersionMS)),
                      static_cast<int>(LOWORD(fixed.dwFileVersionMS)));
        root += version;
    }
    return root;
}

std::wstring CConsoleApplication::GetLogo() const
{
    const Bas::CVersionInfo version = OwnVersion();
    VS_FIXEDFILEINFO fixed = {};
    if (!version.GetFixedFileInfo(fixed))
        return {};
    return Bas::Format(MSG_TOOLS_CONSOLE_APPLICATION_LOGO_TEMPLATE, version.GetStringValue(L"InternalName"),
                       version.GetStringValue(L"FileDescription"), version.GetStringValue(L"ProductVersion"),
                       version.GetStringValue(L"LegalCopyright"));
}

} // namespace Granite
