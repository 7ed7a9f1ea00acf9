#include "GleanApp.h"

#include "Errors.h"
#include "LogCollector.h"
#include "NativeFileSystem.h"
#include "ResourceInfo.h"
#include "TextTools.h"
#include "generated/GleanMessages.h"

#include <climits>
#include <cwctype>

namespace Glean {

CGleanCommandLine ParseGleanCommandLine(const Bas::CCommandLine& commandLine)
{
    CGleanCommandLine result;
    bool haveFile = false;
    bool haveOther = false;
    for (std::size_t i = 1; i < commandLine.ArgumentCount(); ++i) {
        const std::wstring& argument = commandLine.Argument(i);
        std::wstring name;
        std::wstring value;
        const bool isSwitch = Bas::CCommandLine::SplitSwitch(argument, name, value);
        if (isSwitch && (Bas::EqualNoCase(name, L"help") || name == L"?")) {
            if (value.empty())
                Bas::ThrowCheck(ERR_GLEAN_HELP_MESSAGE);
            Bas::ThrowCheck(ERR_GLEAN_BAD_COMMAND_LINE);
        }
        if (isSwitch && Bas::EqualNoCase(name, L"language")) {
            int code = 0;
            if (!Bas::ParseInteger(value, code))
                Bas::ThrowCheck(ERR_GLEAN_BAD_COMMAND_LINE);
            continue;
        }
        if (isSwitch && Bas::EqualNoCase(name, L"file")) {
            if (haveFile || value.empty())
                Bas::ThrowCheck(ERR_GLEAN_BAD_COMMAND_LINE);
            haveFile = true;
            result.outputPath = value;
            continue;
        }
        // A plain argument or an unknown switch: one is accepted.
        if (haveOther)
            Bas::ThrowCheck(ERR_GLEAN_BAD_COMMAND_LINE);
        haveOther = true;
        if (!isSwitch)
            result.settingsPath = argument;
    }
    for (const auto& value : commandLine.Values(L"language")) {
        int code = 0;
        if (Bas::ParseInteger(value, code))
            result.languages.push_back(code);
    }
    return result;
}

CGleanApp::CGleanApp() : Mica::CApplication(L"Glean")
{
}

bool CGleanApp::StartUp()
{
    // The language resource modules are "Glean<number>.dll" beside the program.
    m_programFolder = Bas::FolderOf(Bas::GetModulePath());
    Bas::AddResourcePrefix(m_programFolder, L"Glean");

    Bas::CCommandLine commandLine;
    if (!commandLine.Parse(::GetCommandLineW()))
        Bas::ThrowCheck(ERR_GLEAN_BAD_COMMAND_LINE);
    m_commandLine = ParseGleanCommandLine(commandLine);
    for (int language : m_commandLine.languages)
        if (Bas::SetInterfaceLanguage(language))
            break;

    // A relative settings path is taken from the program's folder, not from
    // the current directory.
    if (!m_commandLine.settingsPath.empty()) {
        std::wstring path = m_commandLine.settingsPath;
        if (Bas::IsRelativePath(path))
            path = Bas::JoinPath(m_programFolder, path);
        m_settings.SetSettingsPath(Bas::NormalizePath(path));
    }
    m_settings.Load();

    if (!m_commandLine.outputPath.empty()) {
        runSilently(m_commandLine.outputPath);
        return false;
    }
    m_dialog = std::make_unique<CGleanDlg>(Bas::GetInterfaceLanguage());
    SetMainDialog(m_dialog.get());
    m_dialog->Create();
    return true;
}

void CGleanApp::runSilently(const std::wstring& outputPath)
{
    const std::wstring target = Bas::NormalizePath(outputPath);
    Bas::CreateFolders(Bas::FolderOf(target));
    CLogCollector collector;
    collector.CollectLogs();
    collector.PackArchive();
    collector.CopyArchive(target);
}

int CGleanApp::OnStartUpError(Bas::CException& error)
{
    Bas::ReportException(error);
    // Asking for the usage text is not a failure.
    const auto* check = dynamic_cast<const Bas::CCheckException*>(&error);
    return check != nullptr && &check->Message() == &ERR_GLEAN_HELP_MESSAGE ? 0 : 1;
}

} // namespace Glean
